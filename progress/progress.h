// Progress accounting: turns the inflater's per-entry reports into one percentage across all
// entries unpacked after the count was started. The arithmetic is portable and lives here; the
// Win32 side (sending the percentage to the bar, the waits) is declared in progress_win.h.
#ifndef PROGRESS_PROGRESS_H
#define PROGRESS_PROGRESS_H

#include <stdint.h>

struct ProgressCount {
  uint32_t expected;  // bytes that make 100 %: list line 8 + line 9
  uint64_t done;      // payload bytes reported so far over all entries
  uint32_t last;      // bytes_out of the previous report of the current entry; 0 at its start
};

void StartCount(struct ProgressCount* c, uint32_t expected);

// Adds one inflater report and returns the percentage to show (0..100): done grows by
// bytes_out - last, and last becomes 0 after an end report, else bytes_out. A bytes_out
// below last (a new entry after one that failed before its end report) adds bytes_out.
unsigned AddInflateReport(struct ProgressCount* c, uint32_t bytes_out, int end);

// done * 100 / expected, truncated, computed without overflow and capped at 100.
// An expected total of 0 shows 100 (nothing to wait for; never a division by zero).
unsigned PercentOf(uint64_t done, uint32_t expected);

// The progress bar's label: the value clamped to 0..100, in decimal, followed by "%", in
// label[PERCENT_LABEL_SIZE]. Returns the clamped value.
enum { PERCENT_LABEL_SIZE = 8 };  // "100%" and its terminating zero fit with room to spare
int FormatPercentLabel(int value, char* label);

// Whether a wait that began at tick `start` and lasts `ms` milliseconds is over at tick `now`.
// Tick counts wrap every 49.7 days; the difference is taken modulo 2^32, so a wrap during
// the wait does not end or prolong it.
int WaitIsOver(uint32_t start, uint32_t now, uint32_t ms);

#endif
