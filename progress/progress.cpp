// Progress arithmetic: the inflater reports running totals per entry; the count adds only
// what each report brings beyond the previous one of the same entry.
#include "progress.h"

void StartCount(struct ProgressCount* c, uint32_t expected) {
  c->expected = expected;
  c->done = 0;
  c->last = 0;
}

unsigned AddInflateReport(struct ProgressCount* c, uint32_t bytes_out, int end) {
  // Within an entry bytes_out never falls. A smaller value can only be the first report of
  // a new entry after one that failed before its end report; counting it whole (rather than
  // letting the difference wrap to nearly 4 GiB) keeps the bar sane.
  c->done += bytes_out >= c->last ? bytes_out - c->last : bytes_out;
  c->last = end ? 0 : bytes_out;
  return PercentOf(c->done, c->expected);
}

unsigned PercentOf(uint64_t done, uint32_t expected) {
  if (done >= expected) return 100;  // also the answer for an expected total of 0
  // done < expected < 2^32 here, so done * 100 fits easily in 64 bits.
  return (unsigned)(done * 100u / expected);
}

int WaitIsOver(uint32_t start, uint32_t now, uint32_t ms) { return (uint32_t)(now - start) >= ms; }

int FormatPercentLabel(int value, char* label) {
  if (value < 0) value = 0;
  if (value > 100) value = 100;
  int pos = 0;
  if (value == 100) label[pos++] = '1';
  if (value >= 10) label[pos++] = (char)('0' + value / 10 % 10);
  label[pos++] = (char)('0' + value % 10);
  label[pos++] = '%';
  label[pos] = '\0';
  return value;
}
