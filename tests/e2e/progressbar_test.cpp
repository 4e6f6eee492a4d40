// The owner-drawn progress bar of the real setup window, read back from the screen: the fill
// up to the split column in the selection colour, the rest in the selection-text colour, and
// the percentage centred across both, each side in the other colour.
#include <windows.h>

#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "window_probe.h"

namespace e2e {
namespace {

struct BarColours {
  COLORREF selection = GetSysColor(COLOR_HIGHLIGHT);
  COLORREF selection_text = GetSysColor(COLOR_HIGHLIGHTTEXT);
};

// The bar as it should look at `percent` (already within 0..100): the label in the dialog's
// 8-point bold face, centred, the split at width * percent / 100.
Picture ExpectedBar(int width, int height, int percent, HFONT font, const BarColours& c) {
  std::string label = std::to_string(percent) + "%";
  SIZE text = TextSize(font, label);
  int split = width * percent / 100;
  int x = width / 2 - text.cx / 2, y = height / 2 - text.cy / 2;
  return DrawPicture(width, height, [&](HDC dc) {
    HGDIOBJ old = SelectObject(dc, font);
    RECT filled = {0, 0, split, height}, empty = {split, 0, width, height};
    SetTextColor(dc, c.selection_text);
    SetBkColor(dc, c.selection);
    ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &filled, label.c_str(),
                static_cast<int>(label.size()), nullptr);
    SetTextColor(dc, c.selection);
    SetBkColor(dc, c.selection_text);
    ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &empty, label.c_str(),
                static_cast<int>(label.size()), nullptr);
    SelectObject(dc, old);
  });
}

// Where the picture's top row (above the label) changes from fill to empty, or -1 when it
// is not one run of `selection` followed by one run of `selection_text`.
int TopRowSplit(const Picture& p, const BarColours& c) {
  int x = 0;
  while (x < p.width && p.at(x, 0) == c.selection) ++x;
  int split = x;
  while (x < p.width && p.at(x, 0) == c.selection_text) ++x;
  return x == p.width ? split : -1;
}

// Rows holding label pixels: a pixel in the colour of the other part's background.
int LabelRows(const Picture& p, int split, const BarColours& c) {
  int rows = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      if (p.at(x, y) == (x < split ? c.selection_text : c.selection)) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

// Saves the setup window's rectangle for scripts/setup-window-shot, which crops the screen
// to it, then asks for the screenshot (nothing happens in an ordinary test run).
void ScreenshotOfWindow(HWND window, const std::string& name) {
  char dir[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("E2E_SCREENSHOT_DIR", dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return;
  RECT r;
  GetWindowRect(window, &r);
  char geometry[64];
  snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top,
           r.left, r.top);
  ASSERT_TRUE(WriteBytes(JoinPath(WinPath(dir), name + ".crop"), geometry));
  EXPECT_TRUE(RequestScreenshot(name));
}

TEST(ProgressBar, PaintsFillLabelAndSplitInTheSelectionColours) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  StalledSetup setup(s);
  std::string why;
  ASSERT_TRUE(setup.WaitStalled(&why)) << why;
  BarColours colours;
  ASSERT_NE(colours.selection, colours.selection_text);
  RECT area = ClientOnScreen(setup.bar());
  int width = area.right - area.left, height = area.bottom - area.top;
  ASSERT_GT(width, 100);
  HFONT font = MakeSansSerif(8, true, false);
  ASSERT_NE(font, nullptr);

  // Out-of-range values show the nearest end: -5 looks exactly like 0, 250 like 100.
  const struct {
    int value, shown;
  } steps[] = {{0, 0}, {50, 50}, {100, 100}, {-5, 0}, {250, 100}, {37, 37}};
  for (const auto& step : steps) {
    SCOPED_TRACE("WM_SETPERCENT " + std::to_string(step.value));
    ASSERT_TRUE(setup.SetPercent(step.value));
    Picture expected = ExpectedBar(width, height, step.shown, font, colours);
    Picture seen;
    std::string where;
    int diff = WaitForPicture(area, expected, &seen);
    CountDifferences(seen, expected, &where);
    EXPECT_EQ(diff, 0) << "pixels unlike the expected bar; " << where;
    int split = width * step.shown / 100;
    EXPECT_EQ(TopRowSplit(seen, colours), split);
    // The label is there and readable: a one-point face would be a pixel or two tall.
    EXPECT_GE(LabelRows(seen, split, colours), 7);
    if (step.value == 50) ScreenshotOfWindow(setup.window(), "setup-window-50");
  }

  // A bar narrower than its label: still centred, clipped at both edges.
  RECT outer;
  GetWindowRect(setup.bar(), &outer);
  int edges = (outer.right - outer.left) - width;
  ASSERT_TRUE(SetWindowPos(setup.bar(), nullptr, 0, 0, 20 + edges, outer.bottom - outer.top,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  ASSERT_TRUE(setup.SetPercent(50));
  area = ClientOnScreen(setup.bar());
  ASSERT_EQ(area.right - area.left, 20);
  Picture seen;
  std::string where;
  int diff = WaitForPicture(area, ExpectedBar(20, height, 50, font, colours), &seen);
  CountDifferences(seen, ExpectedBar(20, height, 50, font, colours), &where);
  EXPECT_EQ(diff, 0) << "narrow bar: " << where;
  DeleteObject(font);

  DWORD code = 1;
  ASSERT_TRUE(setup.Finish(&code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace e2e
