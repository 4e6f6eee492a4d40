// fakesetup.exe: stands in for the setup program that setup.exe unpacks and launches. It
// records how it was started, waits as told, optionally leaves files behind, and exits with a
// chosen code. The configuration and record formats are described in harness.h (and parsed
// and written there, so tests never handle the text themselves).
//
// A GUI-subsystem program on purpose: setup.exe starts it with CreateProcessA and creation
// flags that neither detach it nor suppress a console, so a console program would get a new
// console (a conhost window under Wine) that the real setup program never has.
#include <windows.h>
// tlhelp32.h needs the types of windows.h.
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Config {
  std::string source;                    // file the configuration came from, "" for none
  DWORD wait_ms = 0;                     // longest wait before exiting
  std::string release;                   // a file whose appearance ends the wait early
  int exit_code = 0;                     // process exit code
  std::vector<std::string> create;       // files to create in the current directory at the end
  std::string record = "fakesetup.rec";  // record path, relative to the starting directory
  std::string window;                    // title of a window to show while waiting, "" for none
};

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Directory(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Reads the whole file; false when it cannot be opened.
bool ReadText(const std::string& path, std::string* text) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text->append(buf, n);
  std::fclose(f);
  return true;
}

// The first configuration found: %FAKESETUP_CFG%, then fakesetup.cfg in the current directory,
// then fakesetup.cfg beside this program. Unknown keys are ignored so that older copies of the
// program accept newer files.
Config LoadConfig(const std::string& exe) {
  Config cfg;
  std::vector<std::string> candidates;
  char env[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("FAKESETUP_CFG", env, sizeof env);
  if (n > 0 && n < sizeof env) candidates.push_back(env);
  candidates.push_back("fakesetup.cfg");
  candidates.push_back(Directory(exe) + "fakesetup.cfg");
  std::string text;
  for (const std::string& c : candidates) {
    if (ReadText(c, &text)) {
      cfg.source = c;
      break;
    }
  }
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "wait_ms")
      cfg.wait_ms = std::strtoul(value.c_str(), nullptr, 10);
    else if (key == "release")
      cfg.release = value;
    else if (key == "exit_code")
      cfg.exit_code = std::atoi(value.c_str());
    else if (key == "create")
      cfg.create.push_back(value);
    else if (key == "record")
      cfg.record = value;
    else if (key == "window")
      cfg.window = value;
  }
  return cfg;
}

DWORD ParentProcessId() {
  DWORD self = GetCurrentProcessId(), parent = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 pe;
  pe.dwSize = sizeof pe;
  for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
    if (pe.th32ProcessID == self) {
      parent = pe.th32ParentProcessID;
      break;
    }
  }
  CloseHandle(snap);
  return parent;
}

// "file=NAME" and "dir=NAME" lines for the entries of the current directory, sorted by name.
std::string ListCurrentDirectory() {
  std::vector<std::string> lines;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("*", &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      bool dir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      lines.push_back((dir ? "dir=" : "file=") + name + "\n");
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(a.find('=')) < b.substr(b.find('='));
  });
  std::string out;
  for (const std::string& l : lines) out += l;
  return out;
}

// Replaces the record in one step, so that a reader never sees half of it.
bool WriteRecord(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  // A test polling the record holds it open for a moment now and then, and an open file
  // cannot be replaced: try again for up to a second.
  for (int tries = 0; ok && tries < 100; ++tries) {
    if (MoveFileExA(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    Sleep(10);
  }
  return false;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND ShowWindowTitled(const std::string& title) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "FakeSetupWindow";
  RegisterClassA(&wc);
  return CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                         40, 480, 320, nullptr, nullptr, wc.hInstance, nullptr);
}

// Waits up to cfg.wait_ms, returning early (true) once cfg.release exists. Messages are
// dispatched meanwhile, so a shown window stays responsive.
bool Wait(const Config& cfg) {
  DWORD start = GetTickCount();
  for (;;) {
    if (!cfg.release.empty() && FileExists(cfg.release)) return true;
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= cfg.wait_ms) return false;
    DWORD slice = std::min<DWORD>(20, cfg.wait_ms - elapsed);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char buf[MAX_PATH * 2];
  std::string exe(buf, GetModuleFileNameA(nullptr, buf, sizeof buf));
  std::string cwd(buf, GetCurrentDirectoryA(sizeof buf, buf));
  std::string files = ListCurrentDirectory();  // first, before this program adds anything
  Config cfg = LoadConfig(exe);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  GetStartupInfoA(&si);

  std::string rec;
  rec += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
  rec += "parent_pid=" + std::to_string(ParentProcessId()) + "\n";
  rec += "exe=" + exe + "\n";
  rec += "cwd=" + cwd + "\n";
  rec += std::string("cmdline=") + GetCommandLineA() + "\n";
  rec += std::string("temp=") + std::string(buf, GetTempPathA(sizeof buf, buf)) + "\n";
  rec += "startup_flags=" + std::to_string(si.dwFlags) + "\n";
  rec += "show_window=" + std::to_string(si.wShowWindow) + "\n";
  rec += std::string("desktop=") + (si.lpDesktop ? si.lpDesktop : "") + "\n";
  rec += std::string("title=") + (si.lpTitle ? si.lpTitle : "") + "\n";
  rec += "cfg=" + cfg.source + "\n";
  OSVERSIONINFOA os = {};
  os.dwOSVersionInfoSize = sizeof os;
  GetVersionExA(&os);
  rec += "version=" + std::to_string(os.dwPlatformId) + "." + std::to_string(os.dwMajorVersion) +
         "." + std::to_string(os.dwMinorVersion) + "\n";
  rec += files;
  // The record's path is resolved now: a program may change directory, this one does not,
  // but the record must land where the test looks for it.
  std::string record = cfg.record;
  if (record.find(':') == std::string::npos && record.rfind("\\\\", 0) != 0) {
    record = cwd + (cwd.empty() || cwd.back() == '\\' ? "" : "\\") + record;
  }
  if (!WriteRecord(record, rec + "state=running\n")) return 99;

  if (!cfg.window.empty()) ShowWindowTitled(cfg.window);
  DWORD start = GetTickCount();
  bool released = Wait(cfg);
  DWORD waited = GetTickCount() - start;

  for (const std::string& name : cfg.create) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f != nullptr) {
      std::fputs("made by fakesetup\r\n", f);
      std::fclose(f);
    }
  }
  rec += "waited_ms=" + std::to_string(waited) + "\n";
  rec += std::string("released=") + (released ? "1" : "0") + "\n";
  rec += "exit_code=" + std::to_string(cfg.exit_code) + "\n";
  rec += "state=finished\n";
  if (!WriteRecord(record, rec)) return 99;
  return cfg.exit_code;
}
