// The setup window's part in a run: the system check that comes before anything else, and
// what closing it or clicking on it does.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "setup_scenarios.h"

namespace e2e {
namespace {

using Names = std::vector<std::string>;

// Win32s (Wine's "win31") and Windows NT 3.51 are refused before the working folder is even
// looked at. A copy of setup.exe under a name of its own carries the version setting, which
// Wine applies to every program of that name.
class SetupOldSystems : public ::testing::TestWithParam<const char*> {};

TEST_P(SetupOldSystems, AreRefusedBeforeTheDiskIsTouched) {
  const std::string version = GetParam();
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(RemoveUninstaller());
  const std::string name = "setup_" + version + ".exe";
  std::string exe = s.CopyIn(SetupExe(), name);
  ASSERT_FALSE(exe.empty());
  WineVersionOverride old_system(name, version);
  ASSERT_TRUE(old_system.ok());
  FakeSetupControl fake(s);
  // A missing temp folder: a run that got as far as the working folder would create it.
  const std::string temp = s.root() + "absent\\";
  Process p = StartSetup(s, fake, FakeSetupPackage(KIND_SETUP, s.root(), 0), temp, exe);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();

  MessageBoxInfo box;
  ASSERT_TRUE(WaitForSetupMessage(p, &box));
  EXPECT_EQ(box.caption, kCaption);
  EXPECT_EQ(box.text, kNeedWin32Text);
  ASSERT_TRUE(AnswerMessageBox(box.hwnd));
  DWORD code = 1;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(temp));
  EXPECT_FALSE(Exists(UninstallerPath()));
  EXPECT_FALSE(fake.Started());
  EXPECT_EQ(ListFolder(s.start_dir()), (Names{kPackageName, name}));
}

INSTANTIATE_TEST_SUITE_P(Setup, SetupOldSystems, ::testing::Values("win31", "nt351"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

TEST(SetupWindow, IgnoresCloseAndFinishesTheRun) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  FakeSetupControl fake(s);
  Process p = StartSetup(s, fake, FakeSetupPackage(KIND_SETUP, s.root(), 30000));
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  HWND window = WaitForWindow(p, "#32770");
  ASSERT_NE(window, nullptr);
  // While files are unpacked, as the task bar's close command would ask.
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  FakeSetupRecord rec;
  ASSERT_TRUE(fake.WaitRunning(&rec));
  ASSERT_TRUE(WaitUntilHidden(window));
  // While the setup program runs: handled by the time the call returns.
  DWORD_PTR result = 0;
  ASSERT_TRUE(SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(p.Running());

  DWORD code = 1;
  ASSERT_TRUE(FinishRun(p, fake, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ListFolder(s.temp_dir()), Names{FakeSetupControl::kMadeBySetup});
}

// A click on the window's surface while the setup program runs ends setup.exe at once: no
// clean-up, and the setup program goes on undisturbed.
TEST(SetupWindow, ClickWhileTheSetupProgramRunsEndsItWithoutCleaningUp) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  FakeSetupControl fake(s);
  SetupPackage pkg = FakeSetupPackage(KIND_SETUP, s.root(), 0);
  Process p = StartSetup(s, fake, pkg);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  FakeSetupRecord rec;
  ASSERT_TRUE(fake.WaitRunning(&rec));
  HWND window = FindSetupWindow(p);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(WaitUntilHidden(window));

  ASSERT_TRUE(PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10)));
  DWORD code = 1;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(fake.ReadRecord(&rec));
  EXPECT_FALSE(rec.finished);
  Names unpacked = pkg.SupportNames();
  unpacked.push_back("Setup.lst");
  unpacked.push_back("Setup1.exe");
  std::sort(unpacked.begin(), unpacked.end());
  EXPECT_EQ(ListFolder(s.temp_dir()), unpacked);

  fake.Release();
  ASSERT_TRUE(fake.WaitFinished(&rec));
  EXPECT_TRUE(rec.released);
  EXPECT_EQ(rec.exit_code, 0);
  unpacked.push_back(FakeSetupControl::kMadeBySetup);
  std::sort(unpacked.begin(), unpacked.end());
  EXPECT_EQ(ListFolder(s.temp_dir()), unpacked);
}

// While files are unpacked, the run's own waits take the click and the quit request it
// leads to off the queue: the run goes on to the end, clean-up included.
TEST(SetupWindow, ClickWhileUnpackingLetsTheRunGoOn) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  FakeSetupControl fake(s);
  Process p = StartSetup(s, fake, FakeSetupPackage(KIND_SETUP, s.root(), 50000));
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  HWND window = WaitForWindow(p, "#32770");
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10)));
  // slow.dat, the last file, was not written yet: the click came before the launch.
  ASSERT_FALSE(Exists(s.TempPath("slow.dat"))) << "unpacking ended before the click";

  FakeSetupRecord rec;
  ASSERT_TRUE(fake.WaitRunning(&rec));
  EXPECT_TRUE(WaitUntilHidden(window));
  EXPECT_TRUE(p.Running());
  DWORD code = 1;
  ASSERT_TRUE(FinishRun(p, fake, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ListFolder(s.temp_dir()), Names{FakeSetupControl::kMadeBySetup});
}

}  // namespace
}  // namespace e2e
