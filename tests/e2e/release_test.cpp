// The release as a packager ships it: branded with datapack brand (a test icon, link address
// and maker fields) and signed with a throwaway certificate, both by brand_sign_release.sh
// before these cases run (the ctest fixture signed_release). The link label's rows are in
// linklabel_test.cpp (BrandedRelease/...).
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "setup_scenarios.h"
#include "window_probe.h"

namespace e2e {
namespace {

constexpr int kIconControl = 1000;  // IDC_SETUP_ICON

// A string of the version resource's US English / Windows-1252 table; "" when absent.
std::string VersionString(const std::string& exe, const char* key) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
  if (size == 0) return "";
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(exe.c_str(), 0, size, block.data())) return "";
  void* value = nullptr;
  UINT length = 0;
  std::string path = std::string("\\StringFileInfo\\040904E4\\") + key;
  if (!VerQueryValueA(block.data(), path.c_str(), &value, &length) || length == 0) return "";
  return std::string(static_cast<const char*>(value));
}

TEST(BrandedRelease, RunsAPackageToTheEnd) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(Exists(BrandedSetupExe())) << "brand_sign_release.sh made no branded, signed copy";
  FakeSetupControl fake(s);
  ASSERT_TRUE(fake.ok());
  Process p = StartSetup(s, fake, FakeSetupPackage(KIND_SETUP, s.root(), 0), "", BrandedSetupExe());
  ASSERT_NO_FATAL_FAILURE(ExpectRunsToTheEnd(p, fake));
}

// brand_sign_release.sh also pinned the branded copy to a package it made (pinned.001, its
// setup program fakesetup.exe) and signed that: WORK_DIR\pinned-signed\setup.exe beside
// WORK_DIR\signed\setup.exe.
std::string BrandWorkDir() {
  const std::string signed_exe = BrandedSetupExe();
  const std::string tail = "signed\\setup.exe";
  if (signed_exe.size() < tail.size()) return "";
  return signed_exe.substr(0, signed_exe.size() - tail.size());
}

TEST(BrandedRelease, PinnedAndSignedRunsItsPackageAndNoOther) {
  const std::string exe = BrandWorkDir() + "pinned-signed\\setup.exe";
  std::string package;
  ASSERT_TRUE(ReadBytes(BrandWorkDir() + "pinned.001", &package)) << "no pinned package";
  ASSERT_TRUE(Exists(exe)) << "brand_sign_release.sh made no pinned, signed copy";
  {
    Scenario s("BrandedRelease.PinnedAndSigned.own");
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(RemoveUninstaller());
    FakeSetupControl fake(s);
    ASSERT_TRUE(fake.ok());
    ASSERT_TRUE(WriteBytes(s.StartPath(kPackageName), package));
    Process p = s.Start(exe, fake.Options());
    ASSERT_NO_FATAL_FAILURE(ExpectRunsToTheEnd(p, fake));
  }
  {
    Scenario s("BrandedRelease.PinnedAndSigned.other");
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(RemoveUninstaller());
    ASSERT_TRUE(WriteBytes(s.StartPath(kPackageName), package + "x"));
    Process p = s.Start(exe);
    ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForSetupMessage(p, &box));
    EXPECT_EQ(box.text, kCorruptText);
    ASSERT_TRUE(AnswerMessageBox(box.hwnd));
    DWORD code = 1;
    ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ListFolder(s.temp_dir()), std::vector<std::string>{});
    EXPECT_FALSE(Exists(UninstallerPath()));
  }
}

TEST(BrandedRelease, NamesTheMakerAndKeepsWhatTheProgramIs) {
  const std::string exe = BrandedSetupExe();
  EXPECT_EQ(VersionString(exe, "CompanyName"), BRAND_COMPANY);
  EXPECT_EQ(VersionString(exe, "ProductName"), BRAND_PRODUCT);
  EXPECT_EQ(VersionString(exe, "ProductVersion"), BRAND_VERSION);
  EXPECT_EQ(VersionString(exe, "LegalCopyright"), BRAND_COPYRIGHT);
  EXPECT_EQ(VersionString(exe, "FileDescription"), "Setup program");
  EXPECT_EQ(VersionString(exe, "Comments"), "Uncompressor program");
  EXPECT_EQ(VersionString(exe, "OriginalFilename"), "setup.exe");
}

TEST(BrandedRelease, ShowsTheNewIconOnTheWindow) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  StalledSetup setup(s, {}, BrandedSetupExe());
  std::string why;
  ASSERT_TRUE(setup.WaitStalled(&why)) << why;
  HWND icon_control = GetDlgItem(setup.window(), kIconControl);
  ASSERT_NE(icon_control, nullptr);
  RECT box;
  GetWindowRect(icon_control, &box);
  ASSERT_GE(box.right - box.left, 32);
  ASSERT_GE(box.bottom - box.top, 32);
  box.right = box.left + 32;
  box.bottom = box.top + 32;

  // The .ico's 32 x 32 image as Windows draws it. Its 16-colour and 24-bit versions have the
  // same pixels, so whichever the display picks, the window must show exactly this.
  HICON icon = static_cast<HICON>(
      LoadImageA(nullptr, WinPath(BRAND_ICO).c_str(), IMAGE_ICON, 32, 32, LR_LOADFROMFILE));
  ASSERT_NE(icon, nullptr);
  Picture expected = DrawPicture(32, 32, [&](HDC dc) {
    RECT r = {0, 0, 32, 32};
    FillRect(dc, &r, GetSysColorBrush(COLOR_3DFACE));
    DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
  });
  DestroyIcon(icon);
  Picture seen;
  std::string where;
  int diff = WaitForPicture(box, expected, &seen);
  CountDifferences(seen, expected, &where);
  EXPECT_EQ(diff, 0) << where;
  // The test icon's top-left quadrant is red: not the release's icon by chance.
  EXPECT_EQ(seen.at(8, 2), RGB(255, 0, 0));
  DWORD code = 1;
  ASSERT_TRUE(setup.Finish(&code));
}

}  // namespace
}  // namespace e2e
