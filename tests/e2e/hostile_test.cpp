// setup.exe over the hostile-package corpus (tests/hostile/corpus.h), the same cases that
// `datapack verify` is checked against on the host: for every refused package the exact
// message box and what stays on disk; for every package at the edge of the limits, that the
// setup program is started with exactly the expected files unpacked, and that they are gone
// afterwards.
//
// The suite's name starts with "Setup": it runs setup.exe, which writes the shared
// C:\windows\KQUninst.exe, so tests/e2e/CMakeLists.txt gives it the setup_exe lock.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "corpus.h"
#include "harness.h"
#include "setup_scenarios.h"

namespace e2e {
namespace {

using Names = std::vector<std::string>;

// Never started: refused packages stop before the launch, or fail at it with their own
// message (no case of the corpus expects that).
constexpr char kStandInProgram[] = "MZ stand-in for the setup program";

std::string Expand(std::string text, const std::string& temp) {
  size_t at = text.find("%TEMP%");
  if (at != std::string::npos) text.replace(at, 6, temp);
  return text;
}

bool UninstallerWritten() { return Exists(UninstallerPath()) && !IsFolder(UninstallerPath()); }

// A refused package: one message box, then only what the case says may stay.
void RunRefused(const hostile::Case& c, const Scenario& s, const std::string& temp) {
  StartOptions options;
  options.temp = temp;
  Process p = s.Start(SetupExe(), options);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  MessageBoxInfo box;
  ASSERT_TRUE(WaitForSetupMessage(p, &box)) << "no message box";
  EXPECT_EQ(box.caption, kCaption);
  EXPECT_EQ(box.text, Expand(hostile::Message(c), temp));
  ASSERT_TRUE(AnswerMessageBox(box.hwnd));
  DWORD code = 1;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ListFolder(temp), hostile::LeftInWorkingFolder(c));
  EXPECT_EQ(UninstallerWritten(), (c.leaves & hostile::kUninstaller) != 0);
}

// An accepted package: the fake setup program starts among exactly the unpacked files, and
// once it has ended only what it made itself stays, beside the uninstaller.
void RunAccepted(const hostile::Case& c, const Scenario& s, const FakeSetupControl& fake,
                 const std::string& temp) {
  StartOptions options = fake.Options();
  options.temp = temp;
  Process p = s.Start(SetupExe(), options);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  MessageBoxInfo box;
  ASSERT_TRUE(WaitUntil([&] { return fake.Started() || WaitForSetupMessage(p, &box, 0); }))
      << "neither the setup program nor a message appeared";
  ASSERT_TRUE(fake.Started()) << "refused with \"" << box.text << "\"";
  FakeSetupRecord record;
  ASSERT_TRUE(fake.WaitRunning(&record));
  Names expected = c.unpacked;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(record.files, expected);
  DWORD code = 1;
  ASSERT_TRUE(FinishRun(p, fake, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ListFolder(temp), Names{FakeSetupControl::kMadeBySetup});
  EXPECT_TRUE(UninstallerWritten());
}

class SetupHostilePackages : public ::testing::TestWithParam<const hostile::Case*> {};

TEST_P(SetupHostilePackages, GiveTheirVerdictAndLeaveOnlyWhatTheyMust) {
  const hostile::Case& c = *GetParam();
  Scenario s;
  ASSERT_TRUE(s.ok());
  std::string temp = s.temp_dir();
  if (c.verdict == hostile::Verdict::kNoSpace) {
    std::string why;
    temp = SmallTmpfsFolder("temp", &why);
    if (temp.empty()) GTEST_SKIP() << why;
  }
  std::string program = kStandInProgram;
  if (c.verdict == hostile::Verdict::kAccepted) {
    ASSERT_TRUE(ReadBytes(FakeSetupExe(), &program));
  }
  std::vector<unsigned char> bytes = hostile::BuildPackage(c, program);
  ASSERT_TRUE(WriteBytes(s.StartPath(kPackageName), std::string(bytes.begin(), bytes.end())));
  ASSERT_TRUE(RemoveUninstaller());

  if (c.verdict == hostile::Verdict::kAccepted) {
    FakeSetupControl fake(s);
    ASSERT_TRUE(fake.ok());
    RunAccepted(c, s, fake, temp);
  } else {
    RunRefused(c, s, temp);
  }
}

std::vector<const hostile::Case*> AllCases() {
  std::vector<const hostile::Case*> cases;
  for (const hostile::Case& c : hostile::Cases()) cases.push_back(&c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Hostile, SetupHostilePackages, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<const hostile::Case*>& info) {
                           return info.param->name;
                         });

}  // namespace
}  // namespace e2e
