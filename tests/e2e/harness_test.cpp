// Proves the harness on its own helper programs, so that a failing setup.exe test points at
// setup.exe and not at the harness.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

using Names = std::vector<std::string>;

// The folder as GetCurrentDirectoryA reports it: no trailing backslash.
std::string NoSlash(std::string dir) {
  if (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  return dir;
}

TEST(FakeSetup, RecordsHowItWasStartedAndExitsAsTold) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(WriteBytes(s.StartPath("alpha.txt"), "a"));
  ASSERT_TRUE(WriteBytes(s.StartPath("Beta.dat"), ""));
  ASSERT_TRUE(MakeFolders(s.StartPath("sub")));
  FakeSetupConfig cfg;
  cfg.wait_ms = 300;
  cfg.exit_code = 7;
  cfg.create = {"made.txt"};
  std::string cfg_path = s.root() + "fake.cfg";  // outside start\, so not in the listing
  ASSERT_TRUE(WriteFakeSetupConfig(cfg_path, cfg));

  StartOptions opt;
  opt.command_line = "\"" + FakeSetupExe() + "\" one \"two words\"";
  opt.env = {{"FAKESETUP_CFG", cfg_path}};
  Process p = s.Start(FakeSetupExe(), opt);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  DWORD code = 0;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 7u);

  FakeSetupRecord rec;
  ASSERT_TRUE(ReadFakeSetupRecord(s.StartPath("fakesetup.rec"), &rec));
  EXPECT_TRUE(rec.finished);
  EXPECT_EQ(rec.pid, p.pid());
  EXPECT_EQ(rec.parent_pid, GetCurrentProcessId());
  EXPECT_EQ(rec.cwd, NoSlash(s.start_dir()));
  EXPECT_EQ(rec.cmdline, *opt.command_line);
  EXPECT_EQ(rec.temp, s.temp_dir());  // TMP/TEMP reached the child
  EXPECT_EQ(rec.cfg, cfg_path);
  EXPECT_EQ(rec.files, (Names{"Beta.dat", "alpha.txt"}));  // as present at start
  EXPECT_EQ(rec.dirs, (Names{"sub"}));
  EXPECT_GE(rec.waited_ms, 300u);  // a lower bound only: it must not skip the wait
  EXPECT_FALSE(rec.released);
  EXPECT_EQ(rec.exit_code, 7);
  EXPECT_EQ(ListFolder(s.start_dir()),
            (Names{"Beta.dat", "alpha.txt", "fakesetup.rec", "made.txt", "sub"}));
  // Setting TMP for the child left the test program's own environment as it was.
  char own[MAX_PATH];
  GetTempPathA(sizeof own, own);
  EXPECT_NE(std::string(own), s.temp_dir());
}

TEST(FakeSetup, WithEmptyCommandLineWaitsUntilReleased) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  FakeSetupConfig cfg;
  cfg.wait_ms = 600000;  // far longer than the test's timeout: only the release ends it
  cfg.release = s.root() + "go";
  cfg.record = s.root() + "rec.txt";
  ASSERT_TRUE(WriteFakeSetupConfig(s.StartPath("fakesetup.cfg"), cfg));  // found in its cwd

  StartOptions opt;
  opt.command_line = "";  // as setup.exe starts the setup program
  opt.creation_flags = 0x04000220;
  Process p = s.Start(FakeSetupExe(), opt);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  FakeSetupRecord rec;
  ASSERT_TRUE(WaitForFakeSetupRecord(cfg.record, &rec, false));
  EXPECT_FALSE(rec.finished);
  // Wine gives a program started with an empty command line its quoted path instead (see
  // StartOptions in harness.h).
  EXPECT_EQ(rec.cmdline, "\"" + FakeSetupExe() + "\"");
  EXPECT_EQ(rec.cfg, "fakesetup.cfg");
  EXPECT_EQ(rec.files, (Names{"fakesetup.cfg"}));
  EXPECT_TRUE(p.Running());

  ASSERT_TRUE(WriteBytes(cfg.release, ""));
  DWORD code = 1;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(ReadFakeSetupRecord(cfg.record, &rec));
  EXPECT_TRUE(rec.finished);
  EXPECT_TRUE(rec.released);
  EXPECT_FALSE(Exists(s.StartPath("fakesetup.rec")));
}

// The configuration beside the program, a window, and Wine's per-program Windows version.
TEST(FakeSetup, ShowsItsWindowAndSeesTheConfiguredWindowsVersion) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  // A name of its own: the version setting applies to every program of that name.
  std::string exe = s.CopyIn(FakeSetupExe(), "fakever.exe");
  ASSERT_FALSE(exe.empty());
  FakeSetupConfig cfg;
  cfg.wait_ms = 600000;
  cfg.release = s.root() + "go";
  cfg.window = "Fake Setup Wizard";
  ASSERT_TRUE(WriteFakeSetupConfig(s.StartPath("fakesetup.cfg"), cfg));
  ASSERT_TRUE(SetWineWindowsVersion("fakever.exe", "win31"));

  StartOptions opt;
  opt.cwd = s.root();  // so the configuration is found beside the program only
  Process p = s.Start(exe, opt);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  HWND w = WaitForWindow(p, "FakeSetupWindow");
  ASSERT_NE(w, nullptr);
  WindowInfo info;
  ASSERT_TRUE(DescribeWindow(w, &info));
  EXPECT_EQ(info.title, "Fake Setup Wizard");
  EXPECT_TRUE(info.visible);
  EXPECT_EQ(info.rect.right - info.rect.left, 480);
  EXPECT_EQ(info.rect.bottom - info.rect.top, 320);
  std::vector<HWND> all = TopLevelWindows(p.pid());
  EXPECT_NE(std::find(all.begin(), all.end(), w), all.end());

  ASSERT_TRUE(WriteBytes(cfg.release, ""));
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(w); }));
  ASSERT_TRUE(p.WaitExit());
  EXPECT_TRUE(SetWineWindowsVersion("fakever.exe", ""));
  FakeSetupRecord rec;
  ASSERT_TRUE(ReadFakeSetupRecord(s.root() + "fakesetup.rec", &rec));
  EXPECT_EQ(rec.cfg, s.StartPath("fakesetup.cfg"));
  EXPECT_EQ(rec.version.substr(0, 2), "0.");  // platform 0: Win32s
}

TEST(Harness, WaitExitKillsAProcessThatOutlivesTheTimeout) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  FakeSetupConfig cfg;
  cfg.wait_ms = 600000;
  ASSERT_TRUE(WriteFakeSetupConfig(s.StartPath("fakesetup.cfg"), cfg));
  Process p = s.Start(FakeSetupExe());
  ASSERT_TRUE(p.started());
  FakeSetupRecord rec;
  ASSERT_TRUE(WaitForFakeSetupRecord(s.StartPath("fakesetup.rec"), &rec, false));
  DWORD code = 0;
  EXPECT_FALSE(p.WaitExit(100, &code));
  EXPECT_EQ(code, Process::kKilled);
  EXPECT_FALSE(p.Running());
}

TEST(Harness, StartReportsAProgramThatCannotRun) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(WriteBytes(s.StartPath("broken.exe"), "MZ but nothing else"));
  Process p = s.Start(s.StartPath("broken.exe"));
  EXPECT_FALSE(p.started());
  EXPECT_NE(p.start_error(), 0u);
  EXPECT_FALSE(p.Running());
  EXPECT_FALSE(p.WaitExit(100));
}

TEST(MessageBoxes, AreFoundByProcessReadAndAnswered) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  const std::string text1 = "Could not find the package _Data.001.";
  const std::string text2 = "A second box, of another process.";
  StartOptions opt1, opt2;
  opt1.command_line = "\"" + MsgBoxDemoExe() + "\" " + text1;
  opt2.command_line = "msgbox_demo.exe   " + text2;
  Process p1 = s.Start(MsgBoxDemoExe(), opt1);
  Process p2 = s.Start(MsgBoxDemoExe(), opt2);
  ASSERT_TRUE(p1.started() && p2.started());

  // Two boxes on one screen, each found through its own process.
  MessageBoxInfo box1, box2;
  ASSERT_TRUE(WaitForMessageBox(p1, &box1));
  ASSERT_TRUE(WaitForMessageBox(p2, &box2));
  EXPECT_NE(box1.hwnd, box2.hwnd);
  EXPECT_EQ(box1.caption, " Setup program");
  EXPECT_EQ(box1.text, text1);
  EXPECT_EQ(box2.text, text2);
  WindowInfo info;
  ASSERT_TRUE(DescribeWindow(box1.hwnd, &info));
  EXPECT_EQ(info.class_name, "#32770");
  EXPECT_EQ(info.title, " Setup program");
  EXPECT_TRUE(info.visible);
  EXPECT_GT(info.rect.right, info.rect.left);

  ASSERT_TRUE(AnswerMessageBox(box1.hwnd));
  DWORD code = 0;
  ASSERT_TRUE(p1.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 100u + IDOK);
  EXPECT_TRUE(p2.Running());  // its box is still waiting
  ASSERT_TRUE(AnswerMessageBox(box2.hwnd));
  ASSERT_TRUE(p2.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 100u + IDOK);
  EXPECT_FALSE(AnswerMessageBox(box1.hwnd));  // gone with its process
}

TEST(Files, RemoveTreeClearsReadOnlyAndHiddenFiles) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  std::string dir = s.StartPath("a\\b\\c");
  ASSERT_TRUE(MakeFolders(dir));
  std::string file = JoinPath(dir, "locked.exe");
  const std::string bytes("MZ\0\r\n\x1a\xff", 7);
  ASSERT_TRUE(WriteBytes(file, bytes));
  std::string back;
  ASSERT_TRUE(ReadBytes(file, &back));
  EXPECT_EQ(back, bytes);
  ASSERT_TRUE(SetAttributes(file, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Attributes(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  FileTimes t;
  EXPECT_TRUE(GetTimes(file, &t));
  EXPECT_TRUE(RemoveTree(s.StartPath("a")));
  EXPECT_FALSE(Exists(s.StartPath("a")));
  EXPECT_FALSE(ReadBytes(file, &back));
  EXPECT_TRUE(back.empty());
}

// Run by scripts/main-job (it is disabled for ctest): a message box on the screen while the
// script takes its picture.
TEST(Demo, DISABLED_MessageBoxScreenshot) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  StartOptions opt;
  opt.command_line = "\"" + MsgBoxDemoExe() + "\" This is how setup.exe reports a failure.";
  Process p = s.Start(MsgBoxDemoExe(), opt);
  ASSERT_TRUE(p.started());
  MessageBoxInfo box;
  ASSERT_TRUE(WaitForMessageBox(p, &box));
  EXPECT_TRUE(RequestScreenshot("msgbox_demo"));
  ASSERT_TRUE(AnswerMessageBox(box.hwnd));
  DWORD code = 0;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 100u + IDOK);
}

}  // namespace
}  // namespace e2e
