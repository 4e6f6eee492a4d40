// Looking at the setup window from outside: contracts in window_probe.h.
#include "window_probe.h"

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testpack.h"

namespace e2e {

namespace {

constexpr DWORD kPollMs = 50;
constexpr int kProgressId = 1002;  // IDC_PROGRESS
constexpr int kLinkId = 1003;      // IDC_LINK
constexpr UINT kSetPercent = WM_USER + 50;

std::vector<unsigned char> Bytes(const std::string& s) {
  return std::vector<unsigned char>(s.begin(), s.end());
}

// A package whose run stops at its second entry: the list is sound, the setup program's
// stream inflates to its end but fails its Adler-32 check.
bool StallingPackage(std::string* out) {
  datapack::PackageSpec plan;
  plan.setup_program.data = Bytes("MZ not a program: never launched");
  plan.uninstaller.data = Bytes("uninstaller: never reached");
  datapack::PackedFile support;
  support.name = "readme.txt";
  support.data = Bytes("never reached");
  plan.support = {support};
  std::string list = datapack::MakeListFile(static_cast<uint32_t>(datapack::PayloadTotal(plan)), 0,
                                            {"readme.txt"});
  plan.list.data = Bytes(list);

  std::vector<unsigned char> package, record, stream;
  std::string error;
  datapack::AppendPackageHeader(package, plan.kind);
  if (!datapack::EncodeEntry(plan.list, plan.compression, record, error)) return false;
  package.insert(package.end(), record.begin(), record.end());
  std::vector<unsigned char> payload = datapack::MakePayload(plan.setup_program);
  if (!datapack::CompressPayload(payload.data(), payload.size(), plan.compression, stream, error)) {
    return false;
  }
  datapack::CorruptAdler32(stream);
  datapack::AppendRecord(package, static_cast<uint32_t>(payload.size()),
                         static_cast<uint32_t>(stream.size()), stream);
  for (const datapack::PackedFile* f : {&plan.uninstaller, &support}) {
    if (!datapack::EncodeEntry(*f, plan.compression, record, error)) return false;
    package.insert(package.end(), record.begin(), record.end());
  }
  out->assign(package.begin(), package.end());
  return true;
}

bool IsMessageBox(HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }

bool Intersect(const RECT& a, const RECT& b) {
  RECT r;
  return IntersectRect(&r, &a, &b) != 0;
}

std::string Env(const char* name) {
  char buf[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n == 0 || n >= sizeof buf ? std::string() : std::string(buf, n);
}

}  // namespace

std::string LinkUrl() { return SETUP_LINK_URL_TEXT; }

// ---- Pictures -----------------------------------------------------------------------------

Picture DrawPicture(int width, int height, const std::function<void(HDC)>& paint) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(static_cast<size_t>(width) * height, 0);
  if (width <= 0 || height <= 0) return p;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top row first
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (mem && dib && bits) {
    HGDIOBJ old = SelectObject(mem, dib);
    paint(mem);
    GdiFlush();
    const DWORD* px = static_cast<const DWORD*>(bits);
    for (size_t i = 0; i < p.pixels.size(); ++i) {
      DWORD v = px[i];  // 0x00RRGGBB in a DIB
      p.pixels[i] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    SelectObject(mem, old);
  }
  if (dib) DeleteObject(dib);
  if (mem) DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return p;
}

bool CaptureScreen(const RECT& rect, Picture* out) {
  bool ok = false;
  *out = DrawPicture(rect.right - rect.left, rect.bottom - rect.top, [&](HDC mem) {
    HDC screen = GetDC(nullptr);
    ok = BitBlt(mem, 0, 0, rect.right - rect.left, rect.bottom - rect.top, screen, rect.left,
                rect.top, SRCCOPY) != 0;
    ReleaseDC(nullptr, screen);
  });
  return ok;
}

int CountDifferences(const Picture& seen, const Picture& expected, std::string* where) {
  if (seen.width != expected.width || seen.height != expected.height) {
    if (where) {
      *where = "size " + std::to_string(seen.width) + "x" + std::to_string(seen.height) +
               ", expected " + std::to_string(expected.width) + "x" +
               std::to_string(expected.height);
    }
    return std::max(seen.width * seen.height, expected.width * expected.height) + 1;
  }
  int count = 0;
  for (int y = 0; y < seen.height; ++y) {
    for (int x = 0; x < seen.width; ++x) {
      if (seen.at(x, y) == expected.at(x, y)) continue;
      if (count++ == 0 && where) {
        char buf[96];
        snprintf(buf, sizeof buf, "first at (%d, %d): 0x%06lX, expected 0x%06lX", x, y,
                 static_cast<unsigned long>(seen.at(x, y)),
                 static_cast<unsigned long>(expected.at(x, y)));
        *where = buf;
      }
    }
  }
  return count;
}

int WaitForPicture(const RECT& rect, const Picture& expected, Picture* seen, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    int diff = CaptureScreen(rect, seen) ? CountDifferences(*seen, expected) : -1;
    if (diff == 0 || GetTickCount() - start >= timeout_ms) return diff;
    Sleep(kPollMs);
  }
}

HFONT MakeSansSerif(int points, bool bold, bool underline) {
  HDC screen = GetDC(nullptr);
  int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
  ReleaseDC(nullptr, screen);
  return CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, underline, FALSE,
                     ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
}

SIZE TextSize(HFONT font, const std::string& text) {
  SIZE size = {0, 0};
  HDC screen = GetDC(nullptr);
  HGDIOBJ old = SelectObject(screen, font);
  GetTextExtentPoint32A(screen, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(screen, old);
  ReleaseDC(nullptr, screen);
  return size;
}

RECT ClientOnScreen(HWND window) {
  RECT r = {0, 0, 0, 0};
  GetClientRect(window, &r);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  OffsetRect(&r, origin.x, origin.y);
  return r;
}

// ---- setup.exe held still -----------------------------------------------------------------

StalledSetup::StalledSetup(const Scenario& scenario, StartOptions options, const std::string& exe) {
  const std::string program = exe.empty() ? SetupExe() : exe;
  std::string package;
  if (!scenario.ok() || program.empty() || !StallingPackage(&package) ||
      !WriteBytes(scenario.StartPath("_Data.001"), package)) {
    return;
  }
  process_ = scenario.Start(program, options);
}

StalledSetup::~StalledSetup() {
  if (box_ && IsWindow(box_)) AnswerMessageBox(box_);
  if (process_.started()) process_.WaitExit();
}

bool StalledSetup::WaitStalled(std::string* why) {
  if (!process_.started()) {
    *why = "setup.exe did not start";
    return false;
  }
  DWORD start = GetTickCount();
  for (;;) {
    bool running = process_.Running();
    window_ = box_ = nullptr;
    for (HWND w : TopLevelWindows(process_.pid())) {
      if (!IsWindowVisible(w)) continue;
      if (IsMessageBox(w)) {
        box_ = w;
      } else if (GetDlgItem(w, kProgressId)) {
        window_ = w;
      }
    }
    if (box_ && window_) break;
    if (!running || GetTickCount() - start >= kDefaultTimeoutMs) {
      *why = box_ ? "the setup window is not visible next to the failure box"
                  : "setup.exe showed no failure box";
      return false;
    }
    Sleep(kPollMs);
  }
  // Out of the way: the box would otherwise sit on the setup window, which the tests look at.
  RECT w, b;
  GetWindowRect(window_, &w);
  GetWindowRect(box_, &b);
  int bw = b.right - b.left, bh = b.bottom - b.top;
  RECT place = {0, 0, bw, bh};
  if (Intersect(place, w)) OffsetRect(&place, GetSystemMetrics(SM_CXSCREEN) - bw, 0);
  SetWindowPos(box_, nullptr, place.left, place.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  GetWindowRect(box_, &b);
  if (Intersect(b, w)) {
    *why = "the failure box cannot be moved off the setup window";
    return false;
  }
  // Above the windows of tests running side by side (message boxes centred on the same
  // screen), which would otherwise take clicks and hide pixels meant for this one.
  SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return true;
}

HWND StalledSetup::bar() const { return GetDlgItem(window_, kProgressId); }
HWND StalledSetup::link() const { return GetDlgItem(window_, kLinkId); }

bool StalledSetup::SetPercent(int value) const {
  DWORD_PTR result = 1;
  return SendMessageTimeoutA(bar(), kSetPercent, static_cast<WPARAM>(value), 0, SMTO_NORMAL, 10000,
                             &result) != 0 &&
         result == 0;
}

bool StalledSetup::Finish(DWORD* exit_code) {
  if (!box_ || !AnswerMessageBox(box_)) return false;
  box_ = nullptr;
  return process_.WaitExit(kDefaultTimeoutMs, exit_code);
}

// ---- The pointer as the X server shows it -------------------------------------------------

bool CursorProbeAvailable() { return !Env("E2E_CURSOR_PROBE_DIR").empty(); }

bool ReadScreenCursor(CursorShape* shape, DWORD timeout_ms) {
  std::string dir = Env("E2E_CURSOR_PROBE_DIR");
  if (dir.empty()) return false;
  std::string request = JoinPath(WinPath(dir), "cursor.request");
  std::string answer = JoinPath(WinPath(dir), "cursor.txt");
  DeleteFileA(answer.c_str());
  if (!WriteBytes(request, "cursor\n")) return false;
  DWORD start = GetTickCount();
  while (Exists(request)) {
    if (GetTickCount() - start >= timeout_ms) {
      DeleteFileA(request.c_str());
      return false;
    }
    Sleep(kPollMs / 5);
  }
  // First line "WIDTH HEIGHT XHOT YHOT", then one line of pixels per row.
  std::string text;
  if (!ReadBytes(answer, &text)) return false;
  int w = 0, h = 0;
  if (sscanf(text.c_str(), "%d %d %d %d", &w, &h, &shape->hot_x, &shape->hot_y) != 4) {
    return false;
  }
  shape->rows.clear();
  size_t pos = text.find('\n');
  while (pos != std::string::npos && pos + 1 < text.size()) {
    size_t end = text.find('\n', pos + 1);
    shape->rows.push_back(text.substr(pos + 1, end == std::string::npos ? end : end - pos - 1));
    pos = end;
  }
  return static_cast<int>(shape->rows.size()) == h &&
         (h == 0 || shape->rows[0].size() == static_cast<size_t>(w));
}

bool LoadCursorShape(const std::string& exe, int id, CursorShape* shape) {
  HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  HCURSOR cursor = static_cast<HCURSOR>(
      LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
  bool ok = false;
  ICONINFO info = {};
  if (cursor && GetIconInfo(cursor, &info)) {
    BITMAP bm = {};
    // A monochrome cursor has no colour bitmap: its mask holds AND above XOR.
    if (!info.hbmColor && GetObjectA(info.hbmMask, sizeof bm, &bm) && bm.bmHeight % 2 == 0) {
      int w = bm.bmWidth, h = bm.bmHeight / 2;
      Picture masks = DrawPicture(w, h * 2, [&](HDC mem) {
        HDC src = CreateCompatibleDC(mem);
        HGDIOBJ old = SelectObject(src, info.hbmMask);
        BitBlt(mem, 0, 0, w, h * 2, src, 0, 0, SRCCOPY);
        SelectObject(src, old);
        DeleteDC(src);
      });
      shape->rows.assign(h, std::string(w, ' '));
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          bool and_bit = masks.at(x, y) != 0;
          bool xor_bit = masks.at(x, y + h) != 0;
          shape->rows[y][x] = and_bit ? (xor_bit ? '?' : ' ') : (xor_bit ? '.' : 'X');
        }
      }
      shape->hot_x = static_cast<int>(info.xHotspot);
      shape->hot_y = static_cast<int>(info.yHotspot);
      ok = true;
    }
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
  }
  if (cursor) DestroyCursor(cursor);
  FreeLibrary(module);
  return ok;
}

// ---- A stand-in browser -------------------------------------------------------------------

namespace {

// Under HKLM: Wine 8 reads HKEY_CLASSES_ROOT from HKLM\Software\Classes alone and ignores
// the current user's HKCU\Software\Classes (measured: ShellExecuteA still ran winebrowser).
const HKEY kClasses = HKEY_LOCAL_MACHINE;
// Where the handler that stood there before is kept while the stand-in is registered. A
// test program that died before putting it back leaves it there, and the next stand-in
// finds it instead of taking its own command for the original.
constexpr char kKeptValue[] = "e2e-original-command";

bool KeyExists(const std::string& key) {
  HKEY h;
  if (RegOpenKeyExA(kClasses, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(h);
  return true;
}

// A string value, or nothing (REG_NONE is how "no value" is kept).
bool ReadString(HKEY h, const char* name, std::string* value, DWORD* type) {
  char buf[2048];
  DWORD size = sizeof buf - 1;
  if (RegQueryValueExA(h, name, nullptr, type, reinterpret_cast<BYTE*>(buf), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  buf[size] = '\0';
  *value = buf;
  return true;
}

bool WriteString(HKEY h, const char* name, const std::string& value, DWORD type = REG_SZ) {
  return RegSetValueExA(h, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                        type == REG_NONE ? 0 : static_cast<DWORD>(value.size() + 1)) ==
         ERROR_SUCCESS;
}

std::string CommandKey(const std::string& scheme) {
  return "Software\\Classes\\" + scheme + "\\shell\\open\\command";
}

}  // namespace

BrowserStandIn::BrowserStandIn() {
  std::string command = "\"" + FakeSetupExe() + "\" \"%1\"";
  for (const char* scheme : {"http", "https"}) {
    Saved s;
    s.scheme = scheme;
    // The first key of the path that is not there yet: removing it removes all this adds.
    std::string key = std::string("Software\\Classes\\") + scheme;
    for (const char* part : {"", "\\shell", "\\open", "\\command"}) {
      key += part;
      if (s.created.empty() && !KeyExists(key)) s.created = key;
    }
    // Recorded before writing, so that a half-done registration is undone too.
    saved_.push_back(s);
    HKEY h;
    if (RegCreateKeyExA(kClasses, key.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &h, nullptr) != ERROR_SUCCESS) {
      return;
    }
    std::string kept, original;
    DWORD type = REG_NONE;
    bool set = true;
    if (!ReadString(h, kKeptValue, &kept, &type)) {
      DWORD original_type = REG_NONE;
      bool had = ReadString(h, nullptr, &original, &original_type) && original_type == REG_SZ;
      set = WriteString(h, kKeptValue, had ? original : "", had ? REG_SZ : REG_NONE);
    }
    set = set && WriteString(h, nullptr, command);
    RegCloseKey(h);
    if (!set) return;
  }
  ok_ = true;
}

BrowserStandIn::~BrowserStandIn() {
  for (const Saved& s : saved_) {
    if (!s.created.empty()) {
      RegDeleteTreeA(kClasses, s.created.c_str());
      continue;
    }
    HKEY h;
    if (RegOpenKeyExA(kClasses, CommandKey(s.scheme).c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &h) != ERROR_SUCCESS) {
      continue;
    }
    std::string kept;
    DWORD type = REG_NONE;
    if (ReadString(h, kKeptValue, &kept, &type)) {
      if (type == REG_SZ) {
        WriteString(h, nullptr, kept);
      } else {
        RegDeleteValueA(h, nullptr);
      }
      RegDeleteValueA(h, kKeptValue);
    }
    RegCloseKey(h);
  }
}

}  // namespace e2e
