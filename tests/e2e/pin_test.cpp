// setup.exe pinned to its package (datapack brand --pin): it runs that package as an unpinned
// one runs any; and datapack's pin commands on the real setup.exe, this build's and the
// release's. The refusals of changed packages are rows of SetupFailures
// (setup_failure_test.cpp); the pinned and signed release is BrandedRelease's.
#include <windows.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli.h"
#include "harness.h"
#include "setup_scenarios.h"

namespace e2e {
namespace {

struct ToolResult {
  int code;
  std::string out, err;
};

// datapack, in-process: the same code as datapack.exe.
ToolResult Datapack(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  datapack::Console console{out, err, false, ""};
  const int code = datapack::RunDatapack(args, console);
  return {code, out.str(), err.str()};
}

// Runs `exe` on `package` to the end, with the fake setup program, and checks that it ran as
// every successful run does: the setup program started and ended, setup.exe exited 0, the
// uninstaller is in the Windows folder and the working folder holds only what the setup
// program made there.
void RunsToTheEnd(const Scenario& s, const std::string& exe, const SetupPackage& package) {
  ASSERT_TRUE(RemoveUninstaller());
  FakeSetupControl fake(s);
  ASSERT_TRUE(fake.ok());
  Process p = StartSetup(s, fake, package, "", exe);
  ASSERT_NO_FATAL_FAILURE(ExpectRunsToTheEnd(p, fake));
  EXPECT_EQ(ListFolder(s.temp_dir()), std::vector<std::string>{FakeSetupControl::kMadeBySetup});
}

TEST(SetupPinned, RunsItsOwnPackage) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  const SetupPackage package = FakeSetupPackage(KIND_SETUP, s.root(), 0);
  std::string error;
  const std::string pinned = PinnedSetupExe(s, package.Bytes(), &error);
  ASSERT_FALSE(pinned.empty()) << error;
  RunsToTheEnd(s, pinned, package);
}

TEST(SetupPinned, UnpinnedRunsAnyPackage) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  RunsToTheEnd(s, SetupExe(), FakeSetupPackage(KIND_SETUP, s.root() + "other", 0));
}

// datapack brand --pin, --unpin, verify --against and list --against, one step after the
// other on the same files: each step's exit status and what it must say.
TEST(SetupPinCommands, PinKeepReplaceRemoveAndCheck) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  auto at = [&](const char* name) { return s.root() + name; };
  auto res = [](const char* name) { return WinPath(std::string(E2E_RES_DIR) + "/" + name); };
  const std::string good = FakeSetupPackage(KIND_SETUP, "good", 0).Bytes();
  const std::string other = FakeSetupPackage(KIND_SETUP, "other", 0).Bytes();
  ASSERT_TRUE(WriteBytes(at("good.001"), good));
  ASSERT_TRUE(WriteBytes(at("other.001"), other));
  ASSERT_TRUE(WriteBytes(at("broken.001"), "KZ" + good.substr(2)));
  const std::string setup = SetupExe();

  const struct Step {
    std::vector<std::string> args;
    int code;
    const char* says;  // in standard output or error
  } steps[] = {
      {{"brand", "--pin", at("good.001"), "-o", at("pinned.exe"), setup}, 0, "pinned to"},
      {{"brand", "--pin", at("good.001"), "-o", at("again.exe"), setup}, 0, "pinned to"},
      {{"verify", "--against", at("pinned.exe"), at("good.001")}, 0, "matches the pin"},
      {{"verify", "--against", at("pinned.exe"), at("other.001")}, 2, "not the package"},
      {{"verify", "--against", setup, at("good.001")}, 2, "carries no package pin"},
      {{"verify", "--against", FakeSetupExe(), at("good.001")}, 2, "not the setup bootstrapper"},
      {{"list", "--json", "--against", at("pinned.exe"), at("good.001")}, 0, "\"matches\": true"},
      {{"brand", "--pin", at("broken.001"), "-o", at("refused.exe"), setup}, 2, "would refuse"},
      {{"brand", "--pin", at("good.001"), "--unpin", "-o", at("refused.exe"), setup},
       1,
       "not both"},
      // Branded again: the pin stays unless replaced or removed.
      {{"brand", "--company", "Maker", "-o", at("kept.exe"), at("pinned.exe")}, 0, "branded"},
      {{"verify", "--against", at("kept.exe"), at("good.001")}, 0, "matches the pin"},
      {{"brand", "--pin", at("other.001"), "-o", at("replaced.exe"), at("pinned.exe")},
       0,
       "pinned"},
      {{"verify", "--against", at("replaced.exe"), at("other.001")}, 0, "matches the pin"},
      {{"verify", "--against", at("replaced.exe"), at("good.001")}, 2, "not the package"},
      // With every other change at once: a new icon group, texts, and the pin.
      {{"brand", "-i", res("setup.ico"), "--texts", res("texts-de.txt"), "--pin", at("good.001"),
        "-o", at("all.exe"), setup},
       0,
       "pinned to"},
      {{"verify", "--against", at("all.exe"), at("good.001")}, 0, "matches the pin"},
      {{"brand", "--unpin", "-o", at("unpinned.exe"), at("pinned.exe")}, 0, "branded"},
      {{"verify", "--against", at("unpinned.exe"), at("good.001")}, 2, "carries no package pin"},
  };
  for (const Step& step : steps) {
    ToolResult r = Datapack(step.args);
    std::string line;
    for (const std::string& a : step.args) line += a + " ";
    EXPECT_EQ(r.code, step.code) << line << "\n" << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(step.says), std::string::npos) << line << "\n" << r.out << r.err;
  }
  std::string pinned, again;
  ASSERT_TRUE(ReadBytes(at("pinned.exe"), &pinned));
  ASSERT_TRUE(ReadBytes(at("again.exe"), &again));
  EXPECT_TRUE(pinned == again) << "the same inputs gave different bytes";
  EXPECT_FALSE(Exists(at("refused.exe"))) << "a refused brand wrote its output";
  // Pinning adds the resource and nothing else: unpinned again, the copy has the bytes of
  // one branded the same way without a pin.
  ToolResult r = Datapack({"brand", "--company", "Maker", "-o", at("plain.exe"), setup});
  ASSERT_EQ(r.code, 0) << r.err;
  r = Datapack(
      {"brand", "--company", "Maker", "--unpin", "-o", at("unpinned2.exe"), at("pinned.exe")});
  ASSERT_EQ(r.code, 0) << r.err;
  std::string plain, unpinned2;
  ASSERT_TRUE(ReadBytes(at("plain.exe"), &plain));
  ASSERT_TRUE(ReadBytes(at("unpinned2.exe"), &unpinned2));
  EXPECT_TRUE(plain == unpinned2) << "removing the pin left something behind";
}

}  // namespace
}  // namespace e2e
