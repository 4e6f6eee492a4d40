// setup.exe runs that fail: one table row per way to fail, each with the message the user
// must see and what may be left on disk afterwards, all run by one runner.
#include <windows.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "setup_scenarios.h"

namespace e2e {
namespace {

using Names = std::vector<std::string>;

// What a failing run is given. prepare() of a case changes the defaults.
struct FailureSetup {
  explicit FailureSetup(const Scenario& scenario) : s(scenario), temp(scenario.temp_dir()) {
    package.kind = KIND_SETUP;
    // Not a program: no case gets as far as starting it but SetupProgramCannotRun.
    package.program.file = MakeFile("program", "MZ but not a program", datapack::kAttrArchive, 2);
    package.uninstaller.file = MakeFile("uninstaller", "uninstaller", datapack::kAttrArchive, 3);
    package.support.resize(2);
    package.support[0].file = MakeFile("one.txt", "one", datapack::kAttrArchive, 4);
    package.support[1].file = MakeFile("two.txt", "two", datapack::kAttrArchive, 5);
    package.list = package.MakeList();
  }
  // Replaces the list's support file lines with one for `name` (after one.txt).
  void ListNames(const std::string& name) {
    package.list = datapack::MakeListFile(package.PayloadTotal(), 0, {"one.txt", name});
  }

  const Scenario& s;
  SetupPackage package;            // small, kind 2 (Setup), support files one.txt and two.txt
  std::string raw;                 // the package file's bytes instead of `package`, when set
  bool write_package = true;       // false: no "_Data.001" at all
  bool hold_package = false;       // the test holds the package open without sharing
  bool block_uninstaller = false;  // a folder stands where the uninstaller goes
  std::string exe;                 // the program to start; setup.exe of the build when empty
  std::string cwd;                 // its current folder; the start folder when empty
  std::string temp;                // the working folder (TMP and TEMP)
  std::string must_not_exist;      // a path the run must not create
  std::string replacement;         // bytes the setup program is replaced with just before
                                   // setup.exe holds it (its test seam), when set
  std::string skip;                // when set, the case cannot run here: why
  std::string pinned_to;           // when set, setup.exe is branded with the pin of a package
                                   // of these bytes (datapack brand --pin) before it runs
};

// What a failure leaves: the setup program in the working folder, when the run failed after
// unpacking it (nothing else stays there), and the uninstaller, when it was written.
enum LeftOver { kProgram = 1, kUninstaller = 2 };

struct FailureCase {
  const char* name;
  std::function<void(FailureSetup&)> prepare;
  std::string message;  // the box's text; %TEMP% and %WINDIR% stand for those folders
  int leaves;           // what is left afterwards: 0 or LeftOver bits
};

// `text` with %TEMP% and %WINDIR% replaced by the working folder and the Windows folder
// (both ending with a backslash).
std::string Expand(std::string text, const FailureSetup& f) {
  const std::pair<std::string, std::string> vars[] = {{"%TEMP%", f.temp},
                                                      {"%WINDIR%", WindowsDir()}};
  for (const auto& var : vars) {
    size_t at = text.find(var.first);
    if (at != std::string::npos) text.replace(at, var.first.size(), var.second);
  }
  return text;
}

// Cuts the package at `offset` bytes into entry record `entry`.
void CutInRecord(FailureSetup& f, size_t entry, size_t offset) {
  std::vector<size_t> records;
  std::string bytes = f.package.Bytes(&records);
  f.raw = bytes.substr(0, records.at(entry) + offset);
}

// Pins setup.exe to the package as it is and replaces the package file with `change` of it.
template <typename Change>
std::function<void(FailureSetup&)> PinnedThen(Change change) {
  return [change](FailureSetup& f) {
    std::vector<size_t> records;
    f.pinned_to = f.package.Bytes(&records);
    f.raw = f.pinned_to;
    change(f.raw, records);
  };
}

void OnSmallTmpfs(FailureSetup& f) { f.temp = SmallTmpfsFolder("temp", &f.skip); }

// A setup program that runs (fakesetup.exe), replaced before setup.exe holds it by another
// one that runs as well: the same program with one byte of its DOS stub's text changed, so
// that length and start-up are the same and only the bytes differ.
void ReplacedBeforeTheHold(FailureSetup& f) {
  // The replacing is done by a test seam of the x86_64 build (run/seam_test.cpp); the release
  // has none, so there the check is left to the unit test of the read-back.
  if (ProgramMachine(SetupExe()) != IMAGE_FILE_MACHINE_AMD64) {
    f.skip = "only the x86_64 setup.exe has the seam that replaces its setup program";
    return;
  }
  std::string program;
  if (!ReadBytes(FakeSetupExe(), &program)) {
    f.skip = "cannot read " + FakeSetupExe();
    return;
  }
  f.package.program.file = MakeFile("program", program, datapack::kAttrArchive, 2);
  f.package.list = f.package.MakeList();
  size_t text = program.find("DOS mode");
  if (text == std::string::npos) {
    f.skip = "fakesetup.exe has no DOS stub text to change";
    return;
  }
  program[text] = 'd';
  f.replacement = program;
}

const FailureCase kCases[] = {
    // The package.
    {"NoPackage", [](FailureSetup& f) { f.write_package = false; }, kNoPackageText, 0},
    // "_Data.001" is looked for in the current folder, not beside the program.
    {"PackageBesideTheProgramOnly",
     [](FailureSetup& f) {
       f.exe = f.s.CopyIn(SetupExe(), "setup.exe");
       f.cwd = f.s.root();
     },
     kNoPackageText, 0},
    {"PackageHeldOpenByAnotherProgram", [](FailureSetup& f) { f.hold_package = true; },
     kNoPackageText, 0},
    {"BadSignature", [](FailureSetup& f) { f.raw = "KZ" + f.package.Bytes().substr(2); },
     kCorruptText, 0},
    {"BadKindByte", [](FailureSetup& f) { f.package.kind = 4; }, kCorruptText, 0},
    {"HeaderCutShort", [](FailureSetup& f) { f.raw = f.package.Bytes().substr(0, 3); },
     kCorruptText, 0},
    // A setup.exe pinned to its package (datapack brand --pin) refuses every other one
    // before it unpacks anything. Unpinned, setup.exe gets further with each of these: it
    // unpacks everything and fails at the launch, or fails at the last entry, with the setup
    // program and the uninstaller already written.
    {"PinnedHeaderByteChanged",
     PinnedThen([](std::string& b, const std::vector<size_t>&) { b[2] ^= 1; }), kCorruptText, 0},
    // In the list's and the setup program's entry records: the declared size 64 KiB larger,
    // which still inflates (the produced length counts).
    {"PinnedListEntryByteChanged",
     PinnedThen([](std::string& b, const std::vector<size_t>& r) { b[r.at(0) + 2] ^= 1; }),
     kCorruptText, 0},
    {"PinnedSetupProgramByteChanged",
     PinnedThen([](std::string& b, const std::vector<size_t>& r) { b[r.at(1) + 2] ^= 1; }),
     kCorruptText, 0},
    {"PinnedLastByteChanged",
     PinnedThen([](std::string& b, const std::vector<size_t>&) { b.back() ^= 1; }), kCorruptText,
     0},
    {"PinnedByteAppended",
     PinnedThen([](std::string& b, const std::vector<size_t>&) { b.push_back('\0'); }),
     kCorruptText, 0},
    {"PinnedByteCut", PinnedThen([](std::string& b, const std::vector<size_t>&) { b.pop_back(); }),
     kCorruptText, 0},
    {"PinnedAnotherValidPackage",
     [](FailureSetup& f) {
       f.pinned_to = f.package.Bytes();
       f.package.support[0].file = MakeFile("one.txt", "ONE", datapack::kAttrArchive, 4);
     },
     kCorruptText, 0},
    // Entry records: a size field cut short, a failed Adler-32 check in each kind of entry.
    // A failure after the setup program was unpacked leaves it; the list and the support
    // files go.
    {"RecordCutInItsSizeField", [](FailureSetup& f) { CutInRecord(f, 1, 6); }, kCorruptText, 0},
    {"CorruptListEntry", [](FailureSetup& f) { f.package.bad_list_adler = true; }, kCorruptText, 0},
    {"CorruptSetupProgramEntry", [](FailureSetup& f) { f.package.program.bad_adler = true; },
     kCorruptText, 0},
    {"CorruptUninstallerEntry", [](FailureSetup& f) { f.package.uninstaller.bad_adler = true; },
     kCorruptText, kProgram},
    {"CorruptSupportFileEntry", [](FailureSetup& f) { f.package.support[1].bad_adler = true; },
     kCorruptText, kProgram | kUninstaller},
    // The list file.
    {"ListLineWithoutEquals",
     [](FailureSetup& f) { f.package.list.replace(f.package.list.find("Key3="), 5, "Key3"); },
     kListCorruptText, 0},
    {"ListCountZero", [](FailureSetup& f) { f.package.list = datapack::MakeListFile(100, 0, {}); },
     kListCorruptText, 0},
    {"ListLastLineUnterminated",
     [](FailureSetup& f) { f.package.list.resize(f.package.list.size() - 2); }, kListCorruptText,
     0},
    // Support file names that would leave the working folder are refused as a corrupt list
    // before anything else is unpacked.
    {"SupportNameDotDot", [](FailureSetup& f) { f.ListNames(".."); }, kListCorruptText, 0},
    {"SupportNameWithFolder",
     [](FailureSetup& f) {
       f.ListNames("a\\b");
       f.must_not_exist = f.temp + "a";
     },
     kListCorruptText, 0},
    {"SupportNameWithDrive", [](FailureSetup& f) { f.ListNames("C:x"); }, kListCorruptText, 0},
    // Device names open the device in any folder: NUL would be "unpacked" with no file, COMn
    // would send the data to a port.
    {"SupportNameDeviceNul", [](FailureSetup& f) { f.ListNames("NUL"); }, kListCorruptText, 0},
    {"SupportNameDeviceLowerCase", [](FailureSetup& f) { f.ListNames("aux"); }, kListCorruptText,
     0},
    {"SupportNameDeviceWithExtension", [](FailureSetup& f) { f.ListNames("Com1.bin"); },
     kListCorruptText, 0},
    // Windows takes the superscripts 1, 2, 3 (code page 1252) for port digits too; CLOCK$ is
    // the clock of Windows 95 and 98, CONOUT$ the console to the setup program.
    {"SupportNameDeviceSuperscriptCom", [](FailureSetup& f) { f.ListNames("COM\xB9"); },
     kListCorruptText, 0},
    {"SupportNameDeviceSuperscriptLpt", [](FailureSetup& f) { f.ListNames("lpt\xB3.txt"); },
     kListCorruptText, 0},
    {"SupportNameDeviceClock", [](FailureSetup& f) { f.ListNames("CLOCK$"); }, kListCorruptText, 0},
    {"SupportNameDeviceConsoleOutput", [](FailureSetup& f) { f.ListNames("conout$.txt"); },
     kListCorruptText, 0},
    // An empty name (no second field) names the working folder itself: it cannot be written,
    // and neither it nor its attributes (hidden here) are touched.
    {"SupportNameEmpty",
     [](FailureSetup& f) {
       f.ListNames("");
       SetAttributes(f.temp, FILE_ATTRIBUTE_HIDDEN);
     },
     std::string(kCannotCopyPrefix) + "%TEMP%", kProgram | kUninstaller},
    // The working folder and the Windows folder.
    {"TempFolderCannotBeCreated",
     [](FailureSetup& f) {
       f.temp = f.s.root() + "missing\\temp\\";
       f.must_not_exist = f.s.root() + "missing";
     },
     kNoTempText, 0},
    {"UninstallerCannotBeWritten", [](FailureSetup& f) { f.block_uninstaller = true; },
     std::string(kCannotCopyPrefix) + "%WINDIR%KQUninst.exe", kProgram},
    {"SetupProgramCannotRun", [](FailureSetup&) {},
     std::string(kCannotRunPrefix) + "%TEMP%Setup1.exe", kUninstaller},
    // Replaced after it was written but before it was held: not started, deleted, and the run
    // stops before the uninstaller.
    {"SetupProgramReplacedBeforeItIsHeld", ReplacedBeforeTheHold,
     std::string(kCannotRunPrefix) + "%TEMP%Setup1.exe", 0},
    // A 1 MiB disk: too small for the list's sizes; and, with sizes that pass the check, too
    // small for a support file, whose partly written file must not stay.
    {"TooLittleDiskSpace",
     [](FailureSetup& f) {
       OnSmallTmpfs(f);
       f.package.list = datapack::MakeListFile(2000000, 0, f.package.SupportNames());
     },
     kNoSpaceText, 0},
    {"DiskFullWhileWriting",
     [](FailureSetup& f) {
       OnSmallTmpfs(f);
       f.package.support[1].file =
           MakeFile("big.bin", std::string(3 << 20, 'x'), datapack::kAttrArchive, 6);
       f.package.list = datapack::MakeListFile(1000, 0, f.package.SupportNames());
     },
     std::string(kCannotCopyPrefix) + "%TEMP%big.bin", kProgram | kUninstaller},
};

// Names the case in GoogleTest's messages instead of dumping its bytes.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class SetupFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SetupFailures, ShowTheirMessageAndLeaveOnlyWhatTheyMust) {
  const FailureCase& c = GetParam();
  Scenario s;
  ASSERT_TRUE(s.ok());
  FailureSetup f(s);
  c.prepare(f);
  if (!f.skip.empty()) GTEST_SKIP() << f.skip;
  ASSERT_TRUE(RemoveUninstaller());
  if (f.write_package) {
    ASSERT_TRUE(WriteBytes(s.StartPath(kPackageName), f.raw.empty() ? f.package.Bytes() : f.raw));
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (f.hold_package) {
    held = CreateFileA(s.StartPath(kPackageName).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
  }
  std::unique_ptr<UninstallerBlocked> blocked;
  if (f.block_uninstaller) {
    blocked.reset(new UninstallerBlocked);
    ASSERT_TRUE(blocked->ok());
  }

  if (!f.pinned_to.empty()) {
    std::string error;
    f.exe = PinnedSetupExe(s, f.pinned_to, &error);
    ASSERT_FALSE(f.exe.empty()) << error;
  }
  const DWORD temp_attributes = Attributes(f.temp);
  StartOptions options;
  options.cwd = f.cwd;
  options.temp = f.temp;
  if (!f.replacement.empty()) {
    const std::string path = s.root() + "replacement.exe";
    ASSERT_TRUE(WriteBytes(path, f.replacement));
    options.env = {{"SETUP_TEST_REPLACE_PROGRAM", path}};
  }
  Process p = s.Start(f.exe.empty() ? SetupExe() : f.exe, options);
  ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
  MessageBoxInfo box;
  bool shown = WaitForSetupMessage(p, &box);
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  ASSERT_TRUE(shown);
  EXPECT_EQ(box.caption, kCaption);
  EXPECT_EQ(box.text, Expand(c.message, f));
  ASSERT_TRUE(AnswerMessageBox(box.hwnd));
  DWORD code = 1;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);

  EXPECT_EQ(ListFolder(f.temp), (c.leaves & kProgram) ? Names{"Setup1.exe"} : Names{});
  EXPECT_EQ(Attributes(f.temp), temp_attributes);
  EXPECT_EQ(Exists(UninstallerPath()) && !IsFolder(UninstallerPath()),
            (c.leaves & kUninstaller) != 0);
  if (!f.must_not_exist.empty()) {
    EXPECT_FALSE(Exists(f.must_not_exist)) << f.must_not_exist;
  }
}

INSTANTIATE_TEST_SUITE_P(Setup, SetupFailures, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
