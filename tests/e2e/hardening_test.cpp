// setup.exe against other programs of the same user: a DLL planted in the folder it starts
// from is not loaded, and the unpacked setup program cannot be replaced before it is started.
// Both run the real setup.exe through a successful run. (The suites are named Setup* so that
// they take the setup.exe resource lock with the other scenarios.)
#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "setup_scenarios.h"

namespace e2e {
namespace {

// Wine's user32 loads uxtheme.dll by bare name when a process creates its first window, as
// the setup window is.
constexpr char kPlantedName[] = "uxtheme.dll";

// Wine prefers its own built-in copy of a system DLL even when the search finds one of that
// name elsewhere first. While this lives, programs named exe_name take a native uxtheme.dll
// wherever the search finds one, as Windows would, so that what is tested is the search
// itself. (Wine reads WINEDLLOVERRIDES only from the Unix environment, not from a Windows
// parent's, hence the per-program registry setting.) The program name should be the
// scenario's own.
class NativeUxtheme {
 public:
  explicit NativeUxtheme(const std::string& exe_name)
      : key_("Software\\Wine\\AppDefaults\\" + exe_name) {
    HKEY key;
    std::string overrides = key_ + "\\DllOverrides";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, overrides.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                        NULL) != ERROR_SUCCESS) {
      return;
    }
    static const char kNativeFirst[] = "native,builtin";
    ok_ = RegSetValueExA(key, "uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeFirst),
                         sizeof kNativeFirst) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ~NativeUxtheme() {
    RegDeleteKeyA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
  }
  NativeUxtheme(const NativeUxtheme&) = delete;
  NativeUxtheme& operator=(const NativeUxtheme&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string key_;
  bool ok_ = false;
};

// A process loads only DLLs of its own architecture and passes over others of the right
// name, so the planted DLL, and the control program that shows it is taken, are built for
// the machine of the setup.exe under test: x86_64 in this build, i686 beside it for the
// release (tests/e2e/CMakeLists.txt).
bool SetupIsI686() { return ProgramMachine(SetupExe()) == IMAGE_FILE_MACHINE_I386; }
std::string PlantedDll() { return WinPath(SetupIsI686() ? PLANTED_DLL_I686 : PLANTED_DLL); }
std::string PlainWindowExe() {
  return WinPath(SetupIsI686() ? PLAIN_WINDOW_I686_EXE : PLAIN_WINDOW_EXE);
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Full paths of the modules loaded in process pid (lower case); empty when they cannot be read.
// Through the process status functions, which, asked for every module, list those of a
// 32-bit process to a 64-bit caller too (Wine's tool-help snapshot lists none of them).
std::vector<std::string> LoadedModules(DWORD pid) {
  std::vector<std::string> paths;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return paths;
  std::vector<HMODULE> modules(512);
  DWORD bytes = 0;
  if (EnumProcessModulesEx(process, modules.data(),
                           static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &bytes,
                           LIST_MODULES_ALL)) {
    modules.resize(std::min<size_t>(modules.size(), bytes / sizeof(HMODULE)));
    for (HMODULE m : modules) {
      char path[MAX_PATH];
      DWORD n = GetModuleFileNameExA(process, m, path, sizeof path);
      if (n > 0 && n < sizeof path) paths.push_back(Lower(std::string(path, n)));
    }
  }
  CloseHandle(process);
  return paths;
}

// The planted DLL in start\ under kPlantedName, and the path of the mark it leaves when loaded.
std::string Plant(const Scenario& s) {
  std::string planted = s.StartPath(kPlantedName);
  if (!CopyTo(PlantedDll(), planted)) return "";
  return planted + ".loaded";
}

TEST(SetupDllSearch, PlantedDllIsTakenByAProgramThatDoesNotNarrowTheSearch) {
  // The control: without it, the absent mark below could mean that the planted DLL is never
  // looked for, or that Wine ignores it.
  Scenario s;
  ASSERT_TRUE(s.ok());
  std::string mark = Plant(s);
  ASSERT_FALSE(mark.empty());
  std::string exe = s.CopyIn(PlainWindowExe(), "plain_window_dllsearch.exe");
  ASSERT_FALSE(exe.empty());
  ASSERT_EQ(ProgramMachine(exe), ProgramMachine(SetupExe()));
  NativeUxtheme native("plain_window_dllsearch.exe");
  ASSERT_TRUE(native.ok());
  Process p = s.Start(exe);
  ASSERT_TRUE(p.started()) << p.start_error();
  DWORD code = 0;
  ASSERT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(Exists(mark)) << "the planted DLL was not loaded by a program that keeps the "
                               "default search: this Wine cannot show what the next test checks";
}

TEST(SetupDllSearch, PlantedDllBesideSetupIsNotLoaded) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(RemoveUninstaller());
  // A DLL of another architecture would be passed over whatever the search: no proof.
  ASSERT_EQ(ProgramMachine(PlantedDll()), ProgramMachine(SetupExe()));
  std::string mark = Plant(s);
  ASSERT_FALSE(mark.empty());
  // setup.exe itself in start\: the program's folder is the one that holds the planted DLL.
  std::string exe = s.CopyIn(SetupExe(), "setup_dllsearch.exe");
  ASSERT_FALSE(exe.empty());
  NativeUxtheme native("setup_dllsearch.exe");
  ASSERT_TRUE(native.ok());
  FakeSetupControl fake(s);
  ASSERT_TRUE(fake.ok());
  SetupPackage pkg = FakeSetupPackage(KIND_SETUP, s.root(), 2000);
  ASSERT_TRUE(WriteBytes(s.StartPath(kPackageName), pkg.Bytes()));
  Process setup = s.Start(exe, fake.Options());
  ASSERT_TRUE(setup.started()) << setup.start_error();

  // Once the setup program runs, the setup window has long been created.
  FakeSetupRecord record;
  ASSERT_TRUE(fake.WaitRunning(&record));
  // The DLL of that name was loaded, and not from the program's folder.
  std::vector<std::string> modules = LoadedModules(setup.pid());
  std::string found;
  for (const std::string& m : modules) {
    if (m.size() >= 12 && m.compare(m.size() - 12, 12, "\\uxtheme.dll") == 0) found = m;
  }
  EXPECT_FALSE(found.empty()) << "uxtheme.dll is not among setup.exe's " << modules.size()
                              << " modules";
  EXPECT_NE(found, Lower(s.StartPath(kPlantedName)));
  EXPECT_FALSE(Exists(mark)) << "setup.exe loaded the DLL planted beside it";

  DWORD code = 1;
  ASSERT_TRUE(FinishRun(setup, fake, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(mark));
  // The run itself went as usual: the support files are gone again, the setup program's
  // leftover and the fake's record are all that is there.
  EXPECT_FALSE(Exists(s.TempPath("readme.txt")));
  EXPECT_FALSE(Exists(s.TempPath("Setup1.exe")));
  EXPECT_TRUE(Exists(s.TempPath(FakeSetupControl::kMadeBySetup)));
}

// Attempts another program of the user might make on the unpacked setup program while
// setup.exe is still unpacking: each must fail with a sharing violation.
void ExpectCannotReplace(const std::string& program) {
  SCOPED_TRACE(program);
  HANDLE h = CreateFileA(program.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                         OPEN_EXISTING, 0, NULL);
  DWORD error = GetLastError();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "opened for writing";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  BOOL deleted = DeleteFileA(program.c_str());
  error = GetLastError();
  EXPECT_FALSE(deleted) << "deleted";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));

  // Renaming it away and putting another file in its place is replacing it too.
  std::string aside = program + ".aside";
  BOOL moved = MoveFileA(program.c_str(), aside.c_str());
  error = GetLastError();
  if (moved) MoveFileA(aside.c_str(), program.c_str());
  EXPECT_FALSE(moved) << "renamed";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST(SetupProgramHeld, CannotBeOverwrittenDeletedOrRenamedWhileTheRestIsUnpacked) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(RemoveUninstaller());
  FakeSetupControl fake(s);
  ASSERT_TRUE(fake.ok());
  // Support files that take seconds to unpack (a progress report, and so a 10 ms wait, per
  // 127 bytes) after the setup program: readme.txt and data.bin come first and are quick,
  // then slow.dat and two more slow files.
  SetupPackage pkg = FakeSetupPackage(KIND_SETUP, s.root(), 40000);
  pkg.support.push_back(SlowEntry("slow2.dat", 40000));
  pkg.support.push_back(SlowEntry("slow3.dat", 40000));
  pkg.list = pkg.MakeList();
  Process setup = StartSetup(s, fake, pkg);
  ASSERT_TRUE(setup.started()) << setup.start_error();

  // readme.txt is unpacked after the setup program and the uninstaller: from then on the
  // setup program is complete, its times and attributes applied.
  std::string program = s.TempPath("Setup1.exe");
  ASSERT_TRUE(WaitUntil([&] { return Exists(s.TempPath("readme.txt")); }));
  ExpectCannotReplace(program);
  // Still before the launch: the last file is written only when it has been inflated.
  EXPECT_FALSE(Exists(s.TempPath("slow3.dat")))
      << "the run got to its end during the attempts, which then proved nothing";
  EXPECT_FALSE(fake.Started());

  // The run goes on as usual: the program started is the one unpacked, and is deleted at the
  // end with everything else.
  FakeSetupRecord record;
  ASSERT_TRUE(fake.WaitRunning(&record));
  EXPECT_EQ(Lower(record.exe), Lower(program));
  DWORD code = 1;
  ASSERT_TRUE(FinishRun(setup, fake, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(Exists(program));
  EXPECT_FALSE(Exists(program + ".aside"));
  EXPECT_FALSE(Exists(s.TempPath("slow3.dat")));
  EXPECT_TRUE(Exists(s.TempPath(FakeSetupControl::kMadeBySetup)));
}

// The package a pinned setup.exe hashed is the one it unpacks: the handle it hashed through
// allows no other writer, no delete and no rename until unpacking has ended.
TEST(SetupPackageHeld, PinnedPackageCannotBeChangedWhileItIsUnpacked) {
  Scenario s;
  ASSERT_TRUE(s.ok());
  ASSERT_TRUE(RemoveUninstaller());
  FakeSetupControl fake(s);
  ASSERT_TRUE(fake.ok());
  SetupPackage pkg = FakeSetupPackage(KIND_SETUP, s.root(), 40000);
  pkg.support.push_back(SlowEntry("slow2.dat", 40000));
  pkg.list = pkg.MakeList();
  std::string error;
  const std::string pinned = PinnedSetupExe(s, pkg.Bytes(), &error);
  ASSERT_FALSE(pinned.empty()) << error;
  Process setup = StartSetup(s, fake, pkg, "", pinned);
  ASSERT_TRUE(setup.started()) << setup.start_error();

  // readme.txt comes after the hash and before the slow files.
  ASSERT_TRUE(WaitUntil([&] { return Exists(s.TempPath("readme.txt")); }));
  ExpectCannotReplace(s.StartPath(kPackageName));
  EXPECT_FALSE(Exists(s.TempPath("slow2.dat")))
      << "the run got to its end during the attempts, which then proved nothing";

  FakeSetupRecord record;
  ASSERT_TRUE(fake.WaitRunning(&record));
  DWORD code = 1;
  ASSERT_TRUE(FinishRun(setup, fake, &code));
  EXPECT_EQ(code, 0u);
  std::string after;
  ASSERT_TRUE(ReadBytes(s.StartPath(kPackageName), &after));
  EXPECT_TRUE(after == pkg.Bytes());
}

}  // namespace
}  // namespace e2e
