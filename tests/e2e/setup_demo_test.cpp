// The sample run of scripts/main-job (disabled for ctest): setup.exe on the sample package
// made by the host datapack from demo/sample, with the demo setup program, photographed on
// the way. main-job passes the folder holding setup.exe and "_Data.001" as E2E_SAMPLE_DIR.
#include <windows.h>

#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "harness.h"
#include "setup_scenarios.h"

namespace e2e {
namespace {

std::string Env(const char* name) {
  char value[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Saves the window's rectangle as NAME.crop beside the screenshot, for main-job to cut the
// screen down to the window, and asks for the screenshot.
void Photograph(HWND window, const std::string& name) {
  std::string dir = Env("E2E_SCREENSHOT_DIR");
  if (dir.empty()) return;
  RECT r;
  ASSERT_TRUE(GetWindowRect(window, &r));
  char geometry[64];
  snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top,
           r.left, r.top);
  ASSERT_TRUE(WriteBytes(JoinPath(WinPath(dir), name + ".crop"), geometry));
  EXPECT_TRUE(RequestScreenshot(name));
}

TEST(Demo, DISABLED_SamplePackage) {
  std::string sample = Env("E2E_SAMPLE_DIR");
  if (sample.empty()) GTEST_SKIP() << "E2E_SAMPLE_DIR names no sample folder (scripts/main-job)";
  sample = JoinPath(WinPath(sample), "");
  Scenario s;  // its temp folder is the working folder
  ASSERT_TRUE(s.ok());
  StartOptions options;
  options.cwd = sample;
  Process p = s.Start(sample + "setup.exe", options);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();

  HWND window = WaitForWindow(p, "#32770");
  ASSERT_NE(window, nullptr);
  // The setup program is about half of the sample's bytes: once it is written, the bar
  // stands near the middle while the uninstaller is unpacked.
  for (DWORD waited = 0; !Exists(s.TempPath("Setup1.exe")) && waited < kDefaultTimeoutMs;
       waited += 20) {
    Sleep(20);
  }
  EXPECT_TRUE(IsWindowVisible(window));
  Photograph(window, "setup-window");

  // The demo setup program's box, shown over the hidden setup window; it closes itself.
  HWND box = nullptr;
  for (DWORD waited = 0; !box && p.Running() && waited < kDefaultTimeoutMs; waited += 20) {
    box = FindWindowA("#32770", "Demo setup");
    if (!box) Sleep(20);
  }
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(WaitUntilHidden(window));
  Photograph(box, "demo-setup-box");

  DWORD code = 1;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(ListFolder(s.temp_dir()).empty()) << "the working folder is not clean";
  EXPECT_TRUE(Exists(UninstallerPath()));
}

}  // namespace
}  // namespace e2e
