// Helpers for the end-to-end tests: Windows programs started under Wine in scenario folders,
// inspected through their files, windows and message boxes.
//
// The test program (e2e_tests.exe, every tests/e2e/*_test.cpp plus this harness) is itself an
// x86_64 Windows program run by ctest through scripts/wine-run, one process per test. Every
// path here is a Windows path: Wine maps the Unix root as drive Z:, so /a/b is Z:\a\b.
//
// Programs under test. CMake compiles in the Unix paths of the built programs (FAKESETUP_EXE,
// MSGBOX_DEMO_EXE, and SETUP_EXE / DATAPACK_EXE when those targets exist) and the scenario
// root (E2E_WORK_DIR); the functions below turn them into Windows paths.
//
// The setup.exe under test can be another build's: ctest runs the setup.exe suites twice,
// once against this build's x86_64 setup.exe and once, as the cases named "i686.*", against
// the release (the win32 build's i686 setup.exe, the very file that ships), by setting
//   E2E_SETUP_EXE      the path of the setup.exe to run instead of SETUP_EXE
//   E2E_BRANDED_SETUP_EXE  the path of its branded, signed copy (BrandedSetupExe)
//   E2E_32BIT_VERDICT  the file in which scripts/wine-probe-i686 recorded, once for the test
//                      run, whether 32-bit Windows programs run on this machine, and how
//   E2E_I686_EMULATED_SET  the cases that still run where they run only emulated (':'-separated
//                      names, '*' and '?' as in --gtest_filter)
// With the verdict file named, every case first checks it and skips, giving its reason, when
// they do not run, or run emulated and the case is not in the set; a missing or non-i686
// setup.exe fails every case instead.
//
// Side by side: ctest -j2 runs two test processes at once in the same Wine prefix and on the
// same display. Scenario folders are per test, and windows are always looked up by process id,
// so tests do not see each other's. What the prefix shares is not separated: the Windows
// folder (C:\windows), and per-program registry settings (SetWineWindowsVersion), which apply
// to every program of that file name; give such a scenario its own copy of the program under a
// name of its own (Scenario::CopyIn).
//
// Waiting: every wait has a timeout, and a process still running when its Process object goes
// away is terminated, so a failing test fails instead of hanging. Timeouts are safety nets, not
// measurements: no test asserts how long something took.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// Generous default for waits on programs under Wine (a cold start can take seconds).
constexpr DWORD kDefaultTimeoutMs = 30000;

// ---- Programs and paths -------------------------------------------------------------------

// "/a/b" -> "Z:\a\b"; a path that already has a drive letter only has '/' turned into '\'.
std::string WinPath(const std::string& unix_or_windows_path);
std::string FakeSetupExe();   // fakesetup.exe (see "Fake setup program" below)
std::string MsgBoxDemoExe();  // msgbox_demo.exe: shows TEXT (its command line) in an error box
// setup.exe under test: $E2E_SETUP_EXE, else this build's; "" when there is neither.
std::string SetupExe();
// The branded, signed copy of it (tests/e2e/brand_sign_release.sh): $E2E_BRANDED_SETUP_EXE,
// else the one made from this build's setup.exe.
std::string BrandedSetupExe();
std::string DatapackExe();  // datapack.exe of this build; "" when the build has none
std::string WindowsDir();   // the prefix's Windows folder, with a trailing backslash
// The machine field of a program's PE header (IMAGE_FILE_MACHINE_I386, _AMD64); 0 when the
// file cannot be read or is no PE image.
WORD ProgramMachine(const std::string& exe);
// dir + name with exactly one backslash between them.
std::string JoinPath(const std::string& dir, const std::string& name);

// Polls condition (every 20 ms) until it holds: true then, false when timeout_ms passed first.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeout_ms = kDefaultTimeoutMs);

// ---- Files --------------------------------------------------------------------------------

// Creates or replaces path with exactly these bytes. False when it cannot be written.
bool WriteBytes(const std::string& path, const std::string& bytes);
// Reads the whole file into *bytes. False (and *bytes empty) when it cannot be read.
bool ReadBytes(const std::string& path, std::string* bytes);
bool Exists(const std::string& path);  // file or folder
bool IsFolder(const std::string& path);
// GetFileAttributesA: INVALID_FILE_ATTRIBUTES when the path does not exist.
DWORD Attributes(const std::string& path);
bool SetAttributes(const std::string& path, DWORD attributes);
struct FileTimes {
  FILETIME creation, access, write;
};
// The file's three times; false when it cannot be opened. (Under Wine SetFileTime keeps
// access and write times but not the creation time.)
bool GetTimes(const std::string& path, FileTimes* times);
// Names (not paths) of the files and folders in dir, without "." and "..", sorted by byte
// value. Empty when dir is missing or empty.
std::vector<std::string> ListFolder(const std::string& dir);
// Creates dir and any missing parents. True when it exists afterwards.
bool MakeFolders(const std::string& dir);
// Deletes dir and everything in it, clearing read-only attributes first. True when dir is
// gone afterwards (also when it never existed).
bool RemoveTree(const std::string& dir);
bool CopyTo(const std::string& from, const std::string& to);  // replaces `to`

// ---- Processes ----------------------------------------------------------------------------

// How to start a program. Empty strings mean "as the test program has it".
struct StartOptions {
  std::string cwd;   // current directory of the new process
  std::string temp;  // TMP and TEMP of the new process (Wine ignores the Unix ones)
  // lpCommandLine, exactly; without a value, the program path in double quotes. Under Wine
  // an empty command line reaches the program as its quoted path ("\"Z:\\...\\x.exe\""),
  // where Windows would give it "": what a test can tell is that no arguments were passed.
  std::optional<std::string> command_line;
  std::vector<std::pair<std::string, std::string>> env;  // further variables to set
  // dwCreationFlags; setup.exe starts its setup program with 0x04000220
  // (CREATE_DEFAULT_ERROR_MODE | CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS).
  DWORD creation_flags = 0;
};

// A started process. Move-only; the destructor terminates a process that still runs.
class Process {
 public:
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  bool started() const { return handle_ != nullptr; }
  DWORD start_error() const { return start_error_; }  // GetLastError() of a failed start
  DWORD pid() const { return pid_; }
  HANDLE handle() const { return handle_; }
  bool Running() const;
  // Waits until the process ends. True, with its exit code in *exit_code, when it ended
  // within timeout_ms; otherwise terminates it (exit code kKilled) and returns false.
  bool WaitExit(DWORD timeout_ms = kDefaultTimeoutMs, DWORD* exit_code = nullptr);
  static constexpr DWORD kKilled = 0xDEAD;

 private:
  friend Process StartProcess(const std::string&, const StartOptions&);
  void Release();  // terminates the process if it still runs, closes the handle
  HANDLE handle_ = nullptr;
  DWORD pid_ = 0;
  DWORD start_error_ = 0;
};

// Starts exe (CreateProcessA with exe as the application name, no inherited handles). TMP,
// TEMP and options.env are set with SetEnvironmentVariableA in this process just for the
// call and restored afterwards, so that the child inherits them. On failure the result is
// not started() and start_error() tells why.
Process StartProcess(const std::string& exe, const StartOptions& options);

// ---- Scenario folders ---------------------------------------------------------------------

// A fresh folder for one scenario, E2E_WORK_DIR\NAME\, with two subfolders: start\ (the
// current directory of what Start() launches) and temp\ (its TMP and TEMP). Left in place
// after the test for inspection; emptied when the same scenario is made again.
class Scenario {
 public:
  // An empty name takes the running GoogleTest test's "Suite.Name" (parameter suffixes
  // included, '/' turned into '_'). Check ok() (a test should ASSERT_TRUE(s.ok())).
  explicit Scenario(const std::string& name = "");
  bool ok() const { return ok_; }
  const std::string& root() const { return root_; }        // ends with '\'
  const std::string& start_dir() const { return start_; }  // ends with '\'
  const std::string& temp_dir() const { return temp_; }    // ends with '\'
  std::string StartPath(const std::string& name) const { return start_ + name; }
  std::string TempPath(const std::string& name) const { return temp_ + name; }
  // Copies program `from` into start\ as `name`; returns the copy's path, "" on failure.
  std::string CopyIn(const std::string& from, const std::string& name) const;
  // Starts exe with options.cwd and options.temp defaulting to start\ and temp\.
  Process Start(const std::string& exe, StartOptions options = {}) const;

 private:
  bool ok_ = false;
  std::string root_, start_, temp_;
};

// ---- Windows and message boxes ------------------------------------------------------------

// Top-level windows (visible or not) whose thread belongs to process pid, in Z order.
std::vector<HWND> TopLevelWindows(DWORD pid);
struct WindowInfo {
  std::string title;       // GetWindowTextA
  std::string class_name;  // GetClassNameA, e.g. "#32770" for dialogs and message boxes
  RECT rect = {};          // GetWindowRect, screen coordinates
  bool visible = false;    // IsWindowVisible
};
// False when hwnd is no longer a window.
bool DescribeWindow(HWND hwnd, WindowInfo* info);
// Waits for a visible top-level window of the process with this class ("" for any class).
// Returns nullptr when none appeared within timeout_ms or the process ended first.
HWND WaitForWindow(const Process& process, const std::string& class_name,
                   DWORD timeout_ms = kDefaultTimeoutMs);

struct MessageBoxInfo {
  HWND hwnd = nullptr;
  std::string caption;  // the box's title
  std::string text;     // its message: the static control with id 0xFFFF
};
// Waits for a message box (a visible "#32770" window) of the process and reads it. False
// when none appeared within timeout_ms or the process ended first.
bool WaitForMessageBox(const Process& process, MessageBoxInfo* box,
                       DWORD timeout_ms = kDefaultTimeoutMs);
// Presses a button of a message box (WM_COMMAND posted, as a click would). False when box is
// not a window.
bool AnswerMessageBox(HWND box, int button = IDOK);

// ---- Wine settings ------------------------------------------------------------------------

// Makes Wine report Windows version `version` ("win31" for Win32s, "nt351", "win95", ...) to
// programs named exe_name (file name only), through HKCU\Software\Wine\AppDefaults; an empty
// version removes the setting. Applies to every program of that name in the prefix (see the
// note on running side by side at the top).
bool SetWineWindowsVersion(const std::string& exe_name, const std::string& version);

// ---- Screenshots --------------------------------------------------------------------------

// For scripts/main-job: when E2E_SCREENSHOT_DIR is set, creates NAME.request there and waits
// until the script has saved the screen as NAME.png and removed the request. Without the
// variable (ordinary test runs) it returns true at once. False when the script did not answer
// within timeout_ms.
bool RequestScreenshot(const std::string& name, DWORD timeout_ms = kDefaultTimeoutMs);

// ---- Fake setup program -------------------------------------------------------------------
//
// fakesetup.exe records how it was started, waits, and exits. Its configuration is a text file
// of key=value lines (CR LF or LF; '#' starts a comment line), read from the first of:
// %FAKESETUP_CFG% (a path, inherited through the environment), fakesetup.cfg in its current
// directory, fakesetup.cfg beside the program.
//   wait_ms=N      wait up to N milliseconds before exiting (default 0)
//   release=PATH   end the wait early once PATH exists
//   exit_code=N    exit with N (default 0)
//   create=NAME    create file NAME in the current directory before exiting (repeatable)
//   record=PATH    where the record goes; default fakesetup.rec in the starting directory
//   window=TITLE   show a visible top-level window with this title while waiting
// Without any file it records, waits 0 ms and exits with 0. Because setup.exe deletes only the
// files it unpacked, a record in the working folder survives it.
//
// The record is key=value lines too, written once the program has started (state=running)
// and again at the end (state=finished); each write replaces the file in one step.
//   pid, parent_pid, exe (its own path), cwd (GetCurrentDirectoryA, no trailing '\' unless a
//   root), cmdline (GetCommandLineA, exactly), temp (GetTempPathA), startup_flags,
//   show_window, desktop, title (its STARTUPINFO), cfg (the file read, "" for none),
//   version (GetVersionExA: "PLATFORM.MAJOR.MINOR", e.g. "2.6.1"; platform 0 is Win32s),
//   file=NAME / dir=NAME for each entry of the current directory at start (sorted),
//   then when finished: waited_ms, released (1 when ended by the release file), exit_code.
// Exit code 99 means the record could not be written.

struct FakeSetupConfig {
  DWORD wait_ms = 0;
  std::string release;
  int exit_code = 0;
  std::vector<std::string> create;
  std::string record;  // "" for the default
  std::string window;  // "" for none
};
// The configuration as file text (for example to pack it as a support file).
std::string FakeSetupConfigText(const FakeSetupConfig& config);
bool WriteFakeSetupConfig(const std::string& path, const FakeSetupConfig& config);

struct FakeSetupRecord {
  bool finished = false;
  DWORD pid = 0, parent_pid = 0;
  std::string exe, cwd, cmdline, temp, desktop, title, cfg, version;
  DWORD startup_flags = 0, show_window = 0;
  std::vector<std::string> files;  // names of files present at start, sorted
  std::vector<std::string> dirs;   // names of folders present at start, sorted
  DWORD waited_ms = 0;             // only when finished
  bool released = false;           // only when finished
  int exit_code = 0;               // only when finished
};
// Reads a record. False when the file is missing or not a record.
bool ReadFakeSetupRecord(const std::string& path, FakeSetupRecord* record);
// Waits until the record at path exists (and, with finished, says state=finished), then
// reads it. False on timeout.
bool WaitForFakeSetupRecord(const std::string& path, FakeSetupRecord* record, bool finished,
                            DWORD timeout_ms = kDefaultTimeoutMs);

}  // namespace e2e
