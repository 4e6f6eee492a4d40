// The link label of the real setup window: its address, look, size and place as the screen
// shows them, what a click hands to the shell, and the pointer over it.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "window_probe.h"

namespace e2e {
namespace {

constexpr COLORREF kDarkRed = RGB(192, 0, 0);
constexpr int kHandCursorId = 1006;  // IDR_HANDCURSOR

std::string WindowText(HWND w) {
  char buf[1024];
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                           SMTO_ABORTIFHUNG, 5000, &got)) {
    return "";
  }
  return std::string(buf, got < sizeof buf ? got : 0);
}

POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

// A cursor's outline and hot spot without its colours: the system's wait cursor is animated,
// and only its frames' colours differ.
CursorShape Silhouette(CursorShape c) {
  for (std::string& row : c.rows) {
    for (char& px : row) px = px == ' ' ? ' ' : '#';
  }
  return c;
}

std::string Show(const CursorShape& c) {
  std::string out = "hot spot " + std::to_string(c.hot_x) + "," + std::to_string(c.hot_y) + "\n";
  for (const std::string& row : c.rows) out += "|" + row + "|\n";
  return out;
}

// The run is held in its failure box, which disables the setup window as any modal box
// disables its owner. While the run unpacks the window is enabled and takes the mouse; this
// puts it back in that state (and takes it out again before the box is answered).
class MouseReachesWindow {
 public:
  explicit MouseReachesWindow(HWND window) : window_(window) { EnableWindow(window_, TRUE); }
  ~MouseReachesWindow() { EnableWindow(window_, FALSE); }

 private:
  HWND window_;
};

// A real click at a screen point: the pointer goes there, then the button goes down and up.
// Each event carries the point itself: a button event without one happens wherever Wine last
// saw the pointer, and under load a late motion report from the X server (of an earlier
// test's pointer) can put it back there after SetCursorPos, so that the click lands on the
// setup window's surface, which ends the program, instead of on the label.
bool ClickAt(POINT p) {
  if (!SetCursorPos(p.x, p.y)) return false;
  // Absolute input runs from 0 to 65535 over the primary screen; Wine maps it back as
  // value * width / 65536, so round up to land on the pixel itself.
  const LONG w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  const LONG dx = static_cast<LONG>(((static_cast<LONGLONG>(p.x) << 16) + w - 1) / w);
  const LONG dy = static_cast<LONG>(((static_cast<LONGLONG>(p.y) << 16) + h - 1) / h);
  INPUT in[2] = {};
  for (INPUT& i : in) {
    i.type = INPUT_MOUSE;
    i.mi.dx = dx;
    i.mi.dy = dy;
  }
  in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
  return SendInput(2, in, sizeof(INPUT)) == 2;
}

// Why a click opened nothing, for the failure message: which window the click point is over
// (and whose it is), and the command the shell finds for the address's scheme in both
// registry views.
std::string WhyNothingOpened(POINT p, const StalledSetup& setup, const std::string& url) {
  std::string out;
  HWND hit = WindowFromPoint(p);
  DWORD pid = 0;
  if (hit) GetWindowThreadProcessId(hit, &pid);
  char cls[256] = "";
  if (hit) GetClassNameA(hit, cls, sizeof cls);
  out += "\n  the point " + std::to_string(p.x) + "," + std::to_string(p.y) + " is over " +
         (hit == setup.link()
              ? std::string("the label")
              : "window class " + std::string(cls) + " of process " + std::to_string(pid) +
                    " (setup.exe is " + std::to_string(setup.process().pid()) + ")");
  std::string scheme = url.substr(0, url.find(':'));
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    char buf[1024] = "";
    DWORD size = sizeof buf - 1;
    std::string key = "Software\\Classes\\" + scheme + "\\shell\\open\\command";
    LONG rc = RegGetValueA(
        HKEY_LOCAL_MACHINE, key.c_str(), nullptr,
        RRF_RT_REG_SZ | (view == KEY_WOW64_32KEY ? RRF_SUBKEY_WOW6432KEY : RRF_SUBKEY_WOW6464KEY),
        nullptr, buf, &size);
    out += std::string("\n  ") + (view == KEY_WOW64_32KEY ? "32" : "64") +
           "-bit view: " + (rc == ERROR_SUCCESS ? std::string(buf) : "error " + std::to_string(rc));
  }
  return out;
}

// The release as built, and as a packager branded it with datapack brand (another address;
// the BrandedRelease rows run once brand_sign_release.sh has made it, the fixture
// signed_release).
struct Release {
  const char* name;
  std::string (*exe)();  // the program
  std::string url;       // the address its label must show
};

class LinkLabel : public ::testing::TestWithParam<Release> {};

TEST_P(LinkLabel, ShowsTheAddressDarkRedBoldUnderlinedFittedAndCentred) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  StalledSetup setup(s, {}, GetParam().exe());
  std::string why;
  ASSERT_TRUE(setup.WaitStalled(&why)) << why;
  HWND link = setup.link();
  ASSERT_NE(link, nullptr);
  std::string url = WindowText(link);
  EXPECT_EQ(url, GetParam().url);  // SETUP_LINK_URL, or the branded address, reached the label

  HFONT font = MakeSansSerif(8, true, true);
  ASSERT_NE(font, nullptr);
  SIZE text = TextSize(font, url);
  RECT box, outer;
  GetWindowRect(link, &box);
  GetWindowRect(setup.window(), &outer);
  EXPECT_EQ(box.right - box.left, text.cx);  // exactly as wide as its text
  POINT at = {box.left, box.top};
  ScreenToClient(setup.window(), &at);
  int outer_width = outer.right - outer.left;
  // Centred on the outer width, though placed in client coordinates: its left and right
  // margins within that width differ by at most the two truncated halvings (the exact
  // rounding has known answers in the unit tests, LinkGeometry).
  const int right_margin = outer_width - (at.x + text.cx);
  EXPECT_LE(std::abs(at.x - right_margin), 1) << "left " << at.x << ", right " << right_margin;
  ASSERT_GE(box.bottom - box.top, text.cy);

  // As drawn: the address in dark red on the dialog's face colour, starting at the label's
  // left edge, in the bold underlined face.
  COLORREF face = GetSysColor(COLOR_3DFACE);
  int w = box.right - box.left, h = box.bottom - box.top;
  Picture expected = DrawPicture(w, h, [&](HDC dc) {
    RECT r = {0, 0, w, h};
    FillRect(dc, &r, GetSysColorBrush(COLOR_3DFACE));
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, kDarkRed);
    SetBkColor(dc, face);
    TextOutA(dc, 0, 0, url.c_str(), static_cast<int>(url.size()));
    SelectObject(dc, old);
  });
  Picture seen;
  std::string where;
  int diff = WaitForPicture(box, expected, &seen);
  CountDifferences(seen, expected, &where);
  EXPECT_EQ(diff, 0) << where;
  // Whatever the exact glyphs: dark red over the face colour (smoothed edges mix the two,
  // nothing else), and an underline from edge to edge.
  auto between = [](int v, int a, int b) { return v >= std::min(a, b) && v <= std::max(a, b); };
  int foreign = 0, red = 0, full_red_rows = 0;
  for (int y = 0; y < seen.height; ++y) {
    int red_in_row = 0;
    for (int x = 0; x < seen.width; ++x) {
      COLORREF c = seen.at(x, y);
      if (c == kDarkRed) ++red_in_row;
      if (!between(GetRValue(c), GetRValue(kDarkRed), GetRValue(face)) ||
          !between(GetGValue(c), GetGValue(kDarkRed), GetGValue(face)) ||
          !between(GetBValue(c), GetBValue(kDarkRed), GetBValue(face))) {
        ++foreign;
      }
    }
    red += red_in_row;
    if (red_in_row == seen.width) ++full_red_rows;
  }
  EXPECT_EQ(foreign, 0);
  EXPECT_GT(red, seen.width);  // more than the underline alone
  EXPECT_GE(full_red_rows, 1);
  DeleteObject(font);
}

TEST_P(LinkLabel, ClickOpensTheAddressWithTheShellAndTheRunGoesOn) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  BrowserStandIn browser;
  ASSERT_TRUE(browser.ok());
  // The stand-in is fakesetup.exe; it finds this configuration through the environment that
  // setup.exe, and through it the shell, passes on.
  FakeSetupConfig cfg;
  cfg.record = s.root() + "browser.rec";
  std::string cfg_path = s.root() + "browser.cfg";
  ASSERT_TRUE(WriteFakeSetupConfig(cfg_path, cfg));
  StartOptions options;
  options.env = {{"FAKESETUP_CFG", cfg_path}};
  StalledSetup setup(s, options, GetParam().exe());
  std::string why;
  ASSERT_TRUE(setup.WaitStalled(&why)) << why;

  RECT box;
  GetWindowRect(setup.link(), &box);
  {
    MouseReachesWindow mouse(setup.window());
    ASSERT_TRUE(ClickAt(Centre(box)));
    FakeSetupRecord rec;
    ASSERT_TRUE(WaitForFakeSetupRecord(cfg.record, &rec, true))
        << "nothing was opened" << WhyNothingOpened(Centre(box), setup, GetParam().url);
    EXPECT_EQ(rec.cmdline, "\"" + FakeSetupExe() + "\" \"" + GetParam().url + "\"");
    if (rec.startup_flags & STARTF_USESHOWWINDOW) {
      EXPECT_EQ(rec.show_window, static_cast<DWORD>(SW_SHOWNORMAL));
    }
    // Undisturbed: the program, its window and the box it was in are all still there.
    EXPECT_TRUE(setup.process().Running());
    EXPECT_TRUE(IsWindow(setup.window()) && IsWindowVisible(setup.window()));
    EXPECT_TRUE(IsWindow(setup.box()));
  }
  DWORD code = 1;
  ASSERT_TRUE(setup.Finish(&code));
  EXPECT_EQ(code, 0u);
}

std::string ReleaseName(const ::testing::TestParamInfo<Release>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Link, LinkLabel,
                         ::testing::Values(Release{"release", SetupExe, LinkUrl()}), ReleaseName);
INSTANTIATE_TEST_SUITE_P(BrandedRelease, LinkLabel,
                         ::testing::Values(Release{"branded", BrandedSetupExe, BRAND_LINK}),
                         ReleaseName);

// Run by tests/e2e/cursor_probe.py, which alone can read the pointer's image (see
// CursorProbeAvailable); ctest lists it as LinkLabelCursor.HandOnlyOverTheText.
TEST(LinkLabelCursor, DISABLED_HandOnlyOverTheText) {
  if (!CursorProbeAvailable()) GTEST_SKIP() << "needs tests/e2e/cursor_probe.py";
  CursorShape hand;
  ASSERT_TRUE(LoadCursorShape(SetupExe(), kHandCursorId, &hand)) << "no cursor resource 1006";
  EXPECT_EQ(hand.hot_x, 6);
  EXPECT_EQ(hand.hot_y, 0);
  ASSERT_EQ(hand.rows.size(), 32u);
  Scenario s;
  ASSERT_TRUE(s.ok());
  StalledSetup setup(s);
  std::string why;
  ASSERT_TRUE(setup.WaitStalled(&why)) << why;
  MouseReachesWindow mouse(setup.window());

  RECT link, message;
  GetWindowRect(setup.link(), &link);
  GetWindowRect(GetDlgItem(setup.window(), 1001), &message);  // IDC_MESSAGE
  // Moves the pointer and reads the X server's pointer image until two reads in a row have
  // the same outline (the other process changes it in its own time, and a move may pass
  // through a blank cursor); returns the last image read. Until setup.exe has answered the
  // move, the image is still the one from before it (a loaded machine once took longer than
  // two reads), so the reading waits a while for the outline to leave `before`: a stale image
  // could only fail a check, and a right one that equals `before` costs that while.
  auto pointer_at = [](POINT p, const CursorShape& before) {
    SetCursorPos(p.x, p.y);
    CursorShape last, shape;
    DWORD start = GetTickCount();
    while (ReadScreenCursor(&shape) && Silhouette(shape) == Silhouette(before) &&
           GetTickCount() - start < 5000) {
      Sleep(50);
    }
    start = GetTickCount();
    while (ReadScreenCursor(&shape) &&
           !(Silhouette(shape) == Silhouette(last) && shape.rows.size() > 1) &&
           GetTickCount() - start < 10000) {
      last = shape;
      Sleep(100);
    }
    return shape;
  };

  // Over the message text: the window's wait cursor.
  CursorShape start;
  ASSERT_TRUE(ReadScreenCursor(&start));
  CursorShape wait = pointer_at(Centre(message), start);
  EXPECT_FALSE(wait == hand) << Show(wait);
  // Over the address: the program's own hand, hot spot at the fingertip.
  CursorShape over = pointer_at(Centre(link), wait);
  EXPECT_TRUE(over == hand) << Show(over);
  // Just beside the address, where the label spread before it was fitted: the wait cursor
  // again (the same outline; its animation may be at another frame).
  POINT beside = {link.left - 6, Centre(link).y};
  CursorShape side = pointer_at(beside, over);
  EXPECT_FALSE(side == hand);
  EXPECT_TRUE(Silhouette(side) == Silhouette(wait)) << "beside:\n"
                                                    << Show(side) << "over the message:\n"
                                                    << Show(wait);
}

}  // namespace
}  // namespace e2e
