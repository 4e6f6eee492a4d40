// The e2e harness, windows side: finding and reading other processes' windows and message
// boxes, Wine's per-program settings, screenshot requests. Contracts in harness.h.
#include <windows.h>

#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

namespace {

constexpr DWORD kPollMs = 20;  // how often waits look again

struct EnumState {
  DWORD pid;
  std::vector<HWND>* out;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lp) {
  auto* state = reinterpret_cast<EnumState*>(lp);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == state->pid) state->out->push_back(hwnd);
  return TRUE;
}

std::string ClassOf(HWND hwnd) {
  char buf[256];
  int n = GetClassNameA(hwnd, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

std::string TitleOf(HWND hwnd) {
  // For a window of another process GetWindowTextA reads the title Windows keeps for it and
  // sends no message, so it cannot hang on a busy program.
  char buf[1024];
  int n = GetWindowTextA(hwnd, buf, sizeof buf);
  return std::string(buf, n > 0 ? n : 0);
}

// What GetDlgItemTextA does, but with a time limit: WM_GETTEXT goes to the other process and
// would block on a program that no longer dispatches messages.
bool DialogItemText(HWND dialog, int id, std::string* text) {
  HWND item = GetDlgItem(dialog, id);
  if (item == nullptr) return false;
  char buf[4096];
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutA(item, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                           SMTO_ABORTIFHUNG, 5000, &got)) {
    return false;
  }
  text->assign(buf, got < sizeof buf ? got : sizeof buf - 1);
  return true;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid) {
  std::vector<HWND> out;
  EnumState state{pid, &out};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
  return out;
}

bool DescribeWindow(HWND hwnd, WindowInfo* info) {
  if (!IsWindow(hwnd)) return false;
  info->title = TitleOf(hwnd);
  info->class_name = ClassOf(hwnd);
  GetWindowRect(hwnd, &info->rect);
  info->visible = IsWindowVisible(hwnd) != 0;
  return IsWindow(hwnd) != 0;  // it may have gone while being read
}

HWND WaitForWindow(const Process& process, const std::string& class_name, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    // Looked at once more after the process has ended, in case it ended right after showing.
    bool running = process.Running();
    for (HWND hwnd : TopLevelWindows(process.pid())) {
      if (IsWindowVisible(hwnd) && (class_name.empty() || ClassOf(hwnd) == class_name)) {
        return hwnd;
      }
    }
    if (!running || GetTickCount() - start >= timeout_ms) return nullptr;
    Sleep(kPollMs);
  }
}

bool WaitForMessageBox(const Process& process, MessageBoxInfo* box, DWORD timeout_ms) {
  *box = MessageBoxInfo();
  HWND hwnd = WaitForWindow(process, "#32770", timeout_ms);
  if (hwnd == nullptr) return false;
  box->hwnd = hwnd;
  box->caption = TitleOf(hwnd);
  // 0xFFFF: the id the system gives a message box's text control.
  return DialogItemText(hwnd, 0xFFFF, &box->text);
}

bool AnswerMessageBox(HWND box, int button) {
  return IsWindow(box) && PostMessageA(box, WM_COMMAND, button, 0);
}

bool SetWineWindowsVersion(const std::string& exe_name, const std::string& version) {
  std::string key = "Software\\Wine\\AppDefaults\\" + exe_name;
  HKEY h;
  if (version.empty()) {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) {
      return true;  // nothing set
    }
    LONG r = RegDeleteValueA(h, "Version");
    RegCloseKey(h);
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
  }
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG r = RegSetValueExA(h, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                          static_cast<DWORD>(version.size() + 1));
  RegCloseKey(h);
  return r == ERROR_SUCCESS;
}

bool RequestScreenshot(const std::string& name, DWORD timeout_ms) {
  char dir[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("E2E_SCREENSHOT_DIR", dir, sizeof dir);
  if (n == 0 || n >= sizeof dir) return true;  // an ordinary test run: nothing to do
  std::string base = JoinPath(WinPath(dir), name);
  std::string request = base + ".request";
  if (!WriteBytes(request, name + "\n")) return false;
  if (!WaitUntil([&] { return !Exists(request); }, timeout_ms)) {
    DeleteFileA(request.c_str());
    return false;
  }
  return Exists(base + ".png");
}

}  // namespace e2e
