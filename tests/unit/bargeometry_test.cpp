// Geometry of the progress bar and the link label: where the fill ends, where the label goes,
// and the font heights both labels ask for.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "bargeometry.h"
#include "linkgeometry.h"
#include "progress.h"  // FormatPercentLabel: the bar's label and its value come from it

namespace {

TEST(BarGeometry, SplitIsWidthTimesPercentTruncated) {
  EXPECT_EQ(BarSplit(200, 50), 100);
  EXPECT_EQ(BarSplit(200, 0), 0);
  EXPECT_EQ(BarSplit(200, 100), 200);
  EXPECT_EQ(BarSplit(321, 50), 160);  // 160.5
  EXPECT_EQ(BarSplit(321, 1), 3);     // 3.21
  EXPECT_EQ(BarSplit(321, 99), 317);  // 317.79: never rounded up to the full width
  EXPECT_EQ(BarSplit(0, 50), 0);
  EXPECT_EQ(BarSplit(-10, 50), 0);
  // No overflow in width * percent, even where it would not fit 32 bits.
  EXPECT_EQ(BarSplit(INT_MAX, 100), INT_MAX);
  EXPECT_EQ(BarSplit(INT_MAX, 99), 2126008810);
}

// Whatever value reaches the bar, its label and its fill tell the same story.
TEST(BarGeometry, OutOfRangeValuesShowTheNearestEnd) {
  struct Case {
    int value;
    const char* label;
    int split;  // on a bar 321 pixels wide
  } cases[] = {
      {-5, "0%", 0},          {250, "100%", 321}, {INT_MIN, "0%", 0},
      {INT_MAX, "100%", 321}, {-1, "0%", 0},      {101, "100%", 321},
  };
  for (const Case& c : cases) {
    char label[PERCENT_LABEL_SIZE];
    int shown = FormatPercentLabel(c.value, label);
    EXPECT_EQ(std::string(label), c.label) << c.value;
    EXPECT_EQ(BarSplit(321, shown), c.split) << c.value;
    // The split clamps on its own too, so a raw value cannot overrun the bar.
    EXPECT_EQ(BarSplit(321, c.value), c.split) << c.value;
  }
}

TEST(BarGeometry, LabelIsCentredWithEachHalvingTruncated) {
  TextOrigin at = BarLabelOrigin(200, 20, 31, 13);
  EXPECT_EQ(at.x, 100 - 15);
  EXPECT_EQ(at.y, 10 - 6);
  // Odd sizes on both sides: 7 / 2 - 4 / 2 = 1, not (7 - 4) / 2 rounded.
  at = BarLabelOrigin(7, 9, 4, 5);
  EXPECT_EQ(at.x, 1);
  EXPECT_EQ(at.y, 2);
  at = BarLabelOrigin(321, 21, 28, 13);  // the bar at 96 dpi with "50%"
  EXPECT_EQ(at.x, 160 - 14);
  EXPECT_EQ(at.y, 10 - 6);
  // A label wider or taller than its bar starts before the bar's edge, still centred.
  at = BarLabelOrigin(20, 8, 31, 13);
  EXPECT_EQ(at.x, -5);
  EXPECT_EQ(at.y, -2);
  at = BarLabelOrigin(0, 0, 31, 13);
  EXPECT_EQ(at.x, -15);
  EXPECT_EQ(at.y, -6);
}

TEST(LinkGeometry, CentredOnTheWindowsOuterWidth) {
  // A 346-pixel window and a 160-pixel address: 173 - 80.
  EXPECT_EQ(LinkLabelLeft(346, 160), 93);
  EXPECT_EQ(LinkLabelLeft(345, 161), 92);  // 172 - 80
  // An address wider than the window starts left of it.
  EXPECT_EQ(LinkLabelLeft(346, 500), -77);
}

TEST(BarGeometry, FontHeightsRoundLikeMulDiv) {
  EXPECT_EQ(CharHeightForPoints(8, 96), -11);   // 10.67
  EXPECT_EQ(CharHeightForPoints(8, 120), -13);  // 13.33
  EXPECT_EQ(CharHeightForPoints(8, 144), -16);
  EXPECT_EQ(CharHeightForPoints(8, 72), -8);
  EXPECT_EQ(CharHeightForPoints(1, 96), -1);  // 1.33
  EXPECT_EQ(CharHeightForPoints(1, 36), -1);  // exactly one half: away from zero
  EXPECT_EQ(CharHeightForPoints(1, 35), 0);   // 0.49
  EXPECT_EQ(CharHeightForPoints(3, 60), -3);  // 2.5 -> 3
  EXPECT_EQ(CharHeightForPoints(8, 0), 0);
  // The bar's label asks for the dialog's size, never for something one pixel tall.
  EXPECT_EQ(CharHeightForPoints(BAR_LABEL_POINTS, 96), -11);
}

}  // namespace
