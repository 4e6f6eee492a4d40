// Shared pieces of the setup.exe scenarios (setup_*_test.cpp): packages built in the test
// program, the fake setup program set up to wait in the working folder, the bootstrapper's
// message boxes, the uninstaller in the Windows folder, and the small tmpfs for the disk
// space cases.
//
// These scenarios share C:\windows\KQUninst.exe with every other run of setup.exe in the
// prefix, so they never run side by side (tests/e2e/CMakeLists.txt gives their suites one
// resource lock); each one still has its own scenario folder and temp folder.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "expected_texts.h"
#include "harness.h"
#include "testpack.h"

namespace e2e {

constexpr char kPackageName[] = "_Data.001";
constexpr char kUninstallerName[] = "KQUninst.exe";

// ---- Packages -----------------------------------------------------------------------------

// One entry of a package: the file and its header, how it is deflated, and whether its
// Adler-32 check is damaged (it then inflates to the end but fails the check).
struct PackEntry {
  datapack::PackedFile file;
  datapack::CompressionOptions compression;
  bool bad_adler = false;
};

// A package for setup.exe, built entry by entry so that each entry can be compressed or
// damaged on its own.
struct SetupPackage {
  int kind = KIND_SETUP;        // kind byte, written as given (invalid values too)
  std::string list;             // the list file's text; MakeList() gives a valid one
  bool bad_list_adler = false;  // the list entry fails its Adler-32 check
  PackEntry program;            // the setup program
  PackEntry uninstaller;
  std::vector<PackEntry> support;  // in list order

  // The package file's bytes. record_offsets, when given, receives the offset of every entry
  // record (list, program, uninstaller, support files). Fails the calling test (and returns
  // what it has) when an entry cannot be compressed.
  std::string Bytes(std::vector<size_t>* record_offsets = nullptr) const;
  // Payload bytes of every entry after the list (28 + file size each): what list lines 8 and
  // 9 must add up to for the bar to end at 100 %.
  uint32_t PayloadTotal() const;
  // A valid list naming the support files in order, sizes adding up to PayloadTotal().
  std::string MakeList() const;
  std::vector<std::string> SupportNames() const;
  // The list entry's file: `list` with archive attributes and stored times of its own.
  datapack::PackedFile ListFile() const;
};

std::vector<unsigned char> ToBytes(const std::string& text);

// A FILETIME value `days` days after 2001-01-01 00:00 UTC, plus `seconds`: distinct stored
// times that no file gets by accident.
uint64_t StoredTime(int days, int seconds = 0);

// A file with the given bytes, attributes and distinct stored access and write times (the
// creation time is stored too; Wine does not keep it).
datapack::PackedFile MakeFile(const std::string& name, const std::string& data, uint32_t attributes,
                              int day);

// A support file whose entry makes about one progress report per 127 bytes (Huffman-only
// blocks of a tiny memory level). Every report costs the bootstrapper at least 10 ms, so
// `bytes` = 20000 keeps it unpacking, its window on screen, for well over a second.
PackEntry SlowEntry(const std::string& name, size_t bytes);

// The package the success scenarios start from: of the given kind, with fakesetup.exe as its
// setup program, an uninstaller whose bytes name `tag`, and three support files: readme.txt
// (read-only), data.bin (attributes left as created: KEEP_ATTRIBUTES) and slow.dat (hidden; a
// SlowEntry of slow_bytes, last, so that the window stays up while it is unpacked).
SetupPackage FakeSetupPackage(int kind, const std::string& tag, size_t slow_bytes);

// setup.exe of the build under test pinned to a package of these bytes, as `datapack brand
// --pin` makes it (in-process: datapack.exe's code): the package goes to the scenario root as
// pinned.001, the pinned copy to the scenario root as setup.exe, whose path is returned. ""
// with the tool's words in *error when branding failed.
std::string PinnedSetupExe(const Scenario& scenario, const std::string& package,
                           std::string* error);

// ---- The fake setup program in a scenario -------------------------------------------------

// Sets up fakesetup.exe (see harness.h) as the package's setup program: it finds its
// configuration through FAKESETUP_CFG (set on setup.exe, which passes its environment on),
// records into the scenario root, waits until Release(), and creates kMadeBySetup in its
// current directory just before it exits, with `exit_code`. The destructor releases it, so
// that a failed test leaves no program waiting.
class FakeSetupControl {
 public:
  static constexpr char kMadeBySetup[] = "made-by-setup.txt";

  explicit FakeSetupControl(const Scenario& scenario, int exit_code = 0);
  ~FakeSetupControl();
  FakeSetupControl(const FakeSetupControl&) = delete;
  FakeSetupControl& operator=(const FakeSetupControl&) = delete;

  bool ok() const { return ok_; }
  // Start options for setup.exe: the environment that leads the fake to its configuration.
  StartOptions Options() const;
  // Waits for the record written when the fake has started (running) or ended (finished).
  bool WaitRunning(FakeSetupRecord* record) const;
  bool WaitFinished(FakeSetupRecord* record) const;
  bool Started() const { return Exists(record_); }
  bool ReadRecord(FakeSetupRecord* record) const { return ReadFakeSetupRecord(record_, record); }
  void Release() const;

 private:
  std::string config_, record_, release_;
  bool ok_ = false;
};

// Writes `package` as the scenario's "_Data.001" and starts setup.exe there (or `exe`, a copy
// under another name), with the fake's options and `temp` as its temp folder (the scenario's
// when empty).
Process StartSetup(const Scenario& scenario, const FakeSetupControl& fake,
                   const SetupPackage& package, const std::string& temp = "",
                   const std::string& exe = "");

// Lets the fake setup program end and waits for setup.exe to end after it. True when both
// ended; *exit_code receives setup.exe's exit code.
bool FinishRun(Process& setup, const FakeSetupControl& fake, DWORD* exit_code);

// Follows a run of setup.exe (`setup`, started with `fake`'s options) to a successful end:
// the setup program started and ended, setup.exe exited 0, and the uninstaller is in the
// Windows folder. Failures are reported to the running test.
void ExpectRunsToTheEnd(Process& setup, const FakeSetupControl& fake);

// ---- Windows and message boxes --------------------------------------------------------------

// Waits for a message box of the process: a visible dialog holding the text control 0xFFFF,
// which tells it apart from the setup window (a dialog of the same class and caption). Reads
// its caption and text. False when none appeared within timeout_ms or the process ended.
bool WaitForSetupMessage(const Process& process, MessageBoxInfo* box,
                         DWORD timeout_ms = kDefaultTimeoutMs);

// The setup window: the process's top-level dialog without a message box's text control,
// visible or not. nullptr when there is none.
HWND FindSetupWindow(const Process& process);

// Waits until `window` is hidden (or gone: then false). False on timeout.
bool WaitUntilHidden(HWND window, DWORD timeout_ms = kDefaultTimeoutMs);

// ---- The uninstaller ------------------------------------------------------------------------

std::string UninstallerPath();  // the Windows folder's KQUninst.exe
// Removes the uninstaller (file or folder, whatever its attributes). True when it is gone.
bool RemoveUninstaller();

// While it lives, a folder stands where the uninstaller goes, so it cannot be written. The
// folder goes again when this does, also when the test failed.
class UninstallerBlocked {
 public:
  UninstallerBlocked();
  ~UninstallerBlocked();
  UninstallerBlocked(const UninstallerBlocked&) = delete;
  UninstallerBlocked& operator=(const UninstallerBlocked&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// While it lives, Wine reports Windows version `version` to programs named exe_name.
class WineVersionOverride {
 public:
  WineVersionOverride(const std::string& exe_name, const std::string& version);
  ~WineVersionOverride();
  WineVersionOverride(const WineVersionOverride&) = delete;
  WineVersionOverride& operator=(const WineVersionOverride&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string exe_;
  bool ok_ = false;
};

// ---- The small tmpfs ----------------------------------------------------------------------

// A fresh, empty folder `name` on the 1 MiB tmpfs that the ctest fixture wine_session mounts
// (tests/e2e/small_tmpfs.sh), ending with a backslash. "" when no such tmpfs is mounted,
// with the reason in *why (for GTEST_SKIP).
std::string SmallTmpfsFolder(const std::string& name, std::string* why);

}  // namespace e2e
