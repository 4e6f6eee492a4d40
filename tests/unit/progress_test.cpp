// Progress arithmetic: per-entry running totals become one percentage over all entries; the
// percentage label; waits across the tick count's wrap.
#include <gtest/gtest.h>

#include "progress.h"

namespace {

TEST(Progress, EntriesAddUpToTheTotal) {
  ProgressCount c;
  StartCount(&c, 4000);
  EXPECT_EQ(AddInflateReport(&c, 600, 0), 15u);
  EXPECT_EQ(AddInflateReport(&c, 1000, 1), 25u);  // end of the first entry
  EXPECT_EQ(AddInflateReport(&c, 2000, 0), 75u);
  EXPECT_EQ(AddInflateReport(&c, 3000, 0), 100u);
  EXPECT_EQ(AddInflateReport(&c, 3000, 1), 100u);
  EXPECT_EQ(c.done, 4000u);

  // Reports 100, 250, 250 (end) bring 250 in all, not 600; the next entry starts afresh.
  StartCount(&c, 1000);
  AddInflateReport(&c, 100, 0);
  AddInflateReport(&c, 250, 0);
  EXPECT_EQ(AddInflateReport(&c, 250, 1), 25u);
  EXPECT_EQ(c.done, 250u);
  EXPECT_EQ(AddInflateReport(&c, 50, 1), 30u);
  EXPECT_EQ(c.done, 300u);
}

TEST(Progress, BeyondTheTotalAndLargeTotals) {
  ProgressCount c;
  StartCount(&c, 100);
  EXPECT_EQ(AddInflateReport(&c, 250, 1), 100u);
  // Above 42,949,672 bytes, done * 100 no longer fits 32 bits.
  StartCount(&c, 4000000000u);
  EXPECT_EQ(AddInflateReport(&c, 3999999999u, 0), 99u);
  EXPECT_EQ(AddInflateReport(&c, 4000000000u, 1), 100u);
  EXPECT_EQ(PercentOf(50000000, 100000000), 50u);
  EXPECT_EQ(PercentOf(42949673, 42949673 * 2u), 50u);
  EXPECT_EQ(PercentOf(0xFFFFFFFEu, 0xFFFFFFFFu), 99u);
  EXPECT_EQ(PercentOf(5000000000ull, 0xFFFFFFFFu), 100u);
}

TEST(Progress, ZeroTotalShowsFull) {
  ProgressCount c;
  StartCount(&c, 0);
  EXPECT_EQ(AddInflateReport(&c, 0, 1), 100u);
  EXPECT_EQ(AddInflateReport(&c, 10, 0), 100u);
  EXPECT_EQ(PercentOf(0, 0), 100u);
}

// A report smaller than the previous one can only open a new entry after one that failed
// before its end report: it counts whole instead of wrapping to nearly 4 GiB.
TEST(Progress, SmallerReportStartsANewEntry) {
  ProgressCount c;
  StartCount(&c, 1000);
  AddInflateReport(&c, 300, 0);
  EXPECT_EQ(AddInflateReport(&c, 100, 1), 40u);
  EXPECT_EQ(c.done, 400u);
}

TEST(Progress, ElapsedTimeSurvivesTheTickCountWrap) {
  EXPECT_FALSE(WaitIsOver(1000, 1000, 400));
  EXPECT_FALSE(WaitIsOver(1000, 1399, 400));
  EXPECT_TRUE(WaitIsOver(1000, 1400, 400));
  // Started 100 ms before the 49.7-day wrap: 300 ms later the count reads 200.
  EXPECT_FALSE(WaitIsOver(0xFFFFFF9Cu, 200, 400));
  EXPECT_TRUE(WaitIsOver(0xFFFFFF9Cu, 300, 400));
  EXPECT_TRUE(WaitIsOver(5, 5, 0));  // a zero wait is over at once
}

TEST(Progress, PercentLabelIsClampedAndTerminated) {
  char label[PERCENT_LABEL_SIZE];
  EXPECT_EQ(FormatPercentLabel(0, label), 0);
  EXPECT_STREQ(label, "0%");
  EXPECT_EQ(FormatPercentLabel(7, label), 7);
  EXPECT_STREQ(label, "7%");
  EXPECT_EQ(FormatPercentLabel(42, label), 42);
  EXPECT_STREQ(label, "42%");
  EXPECT_EQ(FormatPercentLabel(100, label), 100);
  EXPECT_STREQ(label, "100%");
  EXPECT_EQ(FormatPercentLabel(-5, label), 0);
  EXPECT_STREQ(label, "0%");
  EXPECT_EQ(FormatPercentLabel(250, label), 100);
  EXPECT_STREQ(label, "100%");
  EXPECT_EQ(FormatPercentLabel(-2147483647 - 1, label), 0);
  EXPECT_STREQ(label, "0%");
}

}  // namespace
