// Windows side of platform.h. Paths go through the wide API so that names outside the ANSI
// code page of the command line still work for files the user names; names from packages
// are ANSI, as the bootstrapper writes them.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "listcheck.h"

#include "format.h"
#include "listfile.h"
#include "platform.h"

namespace datapack {

static std::string SystemError(DWORD code = GetLastError()) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
  if (n == 0) return "system error " + std::to_string(code);
  return std::string(text, n);
}

fs::path PathFromNative(const std::string& text) {
  if (text.empty()) return fs::path();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring wide((size_t)n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], n);
  return fs::path(wide);
}

fs::path PathFromListName(const std::string& name) { return PathFromNative(name); }

std::string DisplayPath(const fs::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return std::string();
  int n =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
  std::string text((size_t)n, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), (int)wide.size(), &text[0], n, nullptr, nullptr);
  return text;
}

static uint64_t Ticks(const FILETIME& ft) {
  return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

bool StatSource(const fs::path& path, SourceStat& out, std::string& error) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    error = SystemError();
    return false;
  }
  out = SourceStat();
  out.size = ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
  out.regular = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  out.read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  out.created = Ticks(data.ftCreationTime);
  out.accessed = Ticks(data.ftLastAccessTime);
  out.written = Ticks(data.ftLastWriteTime);
  return true;
}

FILE* OpenRead(const fs::path& path, std::string& error) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) error = SystemError();
  return f;
}

// Gives an open file handle to the C runtime as a FILE* (binary); on failure closes it.
static FILE* AttachToRuntime(HANDLE h, int access, const char* mode, std::string& error) {
  const int fd = _open_osfhandle((intptr_t)h, _O_BINARY | access);
  FILE* f = fd < 0 ? nullptr : _fdopen(fd, mode);
  if (!f) {
    error = "cannot attach the file to the C runtime";
    if (fd < 0)
      CloseHandle(h);
    else
      _close(fd);  // closes the handle too
  }
  return f;
}

FILE* CreateNewFile(const fs::path& path, std::string& error) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = SystemError();
    return nullptr;
  }
  return AttachToRuntime(h, _O_WRONLY, "wb", error);
}

bool FlushToDisk(FILE* f) {
  return fflush(f) == 0 && FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(f)));
}

bool ApplyFileHeader(const fs::path& path, uint32_t attributes, uint64_t created, uint64_t accessed,
                     uint64_t written, std::string& error) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot open it to set its times: " + SystemError();
    return false;
  }
  FILETIME c = {(DWORD)created, (DWORD)(created >> 32)};
  FILETIME a = {(DWORD)accessed, (DWORD)(accessed >> 32)};
  FILETIME w = {(DWORD)written, (DWORD)(written >> 32)};
  BOOL ok = SetFileTime(h, created ? &c : nullptr, accessed ? &a : nullptr, written ? &w : nullptr);
  DWORD code = GetLastError();
  CloseHandle(h);
  if (!ok) {
    error = "cannot set its times: " + SystemError(code);
    return false;
  }
  if (attributes != KEEP_ATTRIBUTES && !SetFileAttributesW(path.c_str(), attributes)) {
    error = "cannot set its attributes: " + SystemError();
    return false;
  }
  return true;
}

bool MoveIntoPlace(const fs::path& from, const fs::path& to, bool replace, bool& exists,
                   std::string& error) {
  exists = false;
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  // MoveFileEx refuses to replace a read-only file: the attribute goes first, and comes back
  // if the move fails.
  const DWORD old_attributes = replace ? GetFileAttributesW(to.c_str()) : INVALID_FILE_ATTRIBUTES;
  const bool read_only = old_attributes != INVALID_FILE_ATTRIBUTES &&
                         (old_attributes & FILE_ATTRIBUTE_READONLY) &&
                         !(old_attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (read_only) SetFileAttributesW(to.c_str(), old_attributes & ~FILE_ATTRIBUTE_READONLY);
  if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
  DWORD code = GetLastError();
  if (read_only) SetFileAttributesW(to.c_str(), old_attributes);
  exists = !replace && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS);
  if (!exists) error = SystemError(code);
  return false;
}

bool SameFileName(const std::string& a, const std::string& b) {
  return SameWindowsName(a.c_str(), b.c_str()) != 0;
}

bool RemoveFile(const fs::path& path, std::string& error) {
  // A read-only file cannot be deleted until the attribute is gone.
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return true;
  error = SystemError();
  return false;
}

bool GetFileId(const fs::path& path, FileId& id) {
  HANDLE h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
  return true;
}

std::string SpecialFileKind(const fs::path& path) {
  // CON, NUL, COM1 ... name devices in every folder, whatever the extension.
  if (IsDeviceName(DisplayPath(path.filename()))) return "a device";
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
  if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device";
  return "";
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool ProcessRunning(unsigned long pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)pid);
  if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  const BOOL ok = GetExitCodeProcess(h, &code);
  CloseHandle(h);
  return !ok || code == STILL_ACTIVE;
}

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

// Windows runs console control handlers on a thread of their own, so removing files there is
// safe; returning FALSE lets the default handler end the process.
// Set by RemoveOnInterrupt (the commands' thread), read by the handler.
static wchar_t s_prefix[MAX_PATH * 4];  // L"" when nothing is to be removed
static wchar_t s_suffix[64];
static volatile LONG s_count = 0;  // files in the series
static wchar_t s_folders[8192];    // folders to remove after it, each ended by NUL, then a NUL
static volatile LONG s_folders_set = 0;  // whether s_folders is complete

static BOOL WINAPI RemoveOnControl(DWORD) {
  wchar_t name[MAX_PATH * 4 + 96];
  for (LONG i = 0; s_prefix[0] && i < s_count; ++i) {
    swprintf(name, sizeof name / sizeof name[0], L"%ls%ld%ls", s_prefix, (long)i, s_suffix);
    DeleteFileW(name);
  }
  for (const wchar_t* f = s_folders; s_folders_set && *f; f += wcslen(f) + 1) RemoveDirectoryW(f);
  return FALSE;
}

static void InstallRemoveOnControl() {
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(RemoveOnControl, TRUE) != 0;
}

void RemoveOnInterrupt(const fs::path& prefix, const std::string& suffix, unsigned count) {
  const std::wstring& text = prefix.native();
  const std::wstring wide_suffix = PathFromNative(suffix).native();
  s_count = 0;
  if (count == 0 || text.empty() || text.size() >= MAX_PATH * 4 || wide_suffix.size() >= 64) {
    s_prefix[0] = L'\0';
    return;
  }
  memcpy(s_prefix, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  memcpy(s_suffix, wide_suffix.c_str(), (wide_suffix.size() + 1) * sizeof(wchar_t));
  s_count = (LONG)count;
  InstallRemoveOnControl();
}

void RemoveFoldersOnInterrupt(const std::vector<fs::path>& folders) {
  InterlockedExchange(&s_folders_set, 0);
  const size_t room = sizeof s_folders / sizeof s_folders[0];
  size_t at = 0;
  for (const fs::path& f : folders) {
    const std::wstring& text = f.native();
    if (text.empty()) continue;
    if (at + text.size() + 2 > room) break;  // the deepest ones fit
    memcpy(s_folders + at, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    at += text.size() + 1;
  }
  s_folders[at] = L'\0';
  InterlockedExchange(&s_folders_set, at > 0);
  if (at > 0) InstallRemoveOnControl();
}

void UseBinaryMode(FILE* f) {
  fflush(f);
  _setmode(_fileno(f), _O_BINARY);
}

bool SeekableFile(FILE* f, uint64_t& remaining) {
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
  LARGE_INTEGER size;
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size))
    return false;
  const long long at = _ftelli64(f);
  if (at < 0 || at > size.QuadPart) return false;
  remaining = (uint64_t)(size.QuadPart - at);
  return true;
}

FILE* CreateScratchFile(std::string& error) {
  wchar_t dir[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH) {
    error = "no temporary folder: " + SystemError();
    return nullptr;
  }
  // Deleted when its last handle closes, which Windows does for a process that ends in any
  // way; nobody else may open it meanwhile.
  HANDLE h = INVALID_HANDLE_VALUE;
  for (unsigned k = 0; h == INVALID_HANDLE_VALUE && k < 1000; ++k) {
    wchar_t name[MAX_PATH + 64];
    swprintf(name, sizeof name / sizeof name[0], L"%ls.datapack-scratch-%lu-%u.tmp", dir,
             (unsigned long)GetCurrentProcessId(), k);
    h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      error = DisplayPath(fs::path(dir)) + ": " + SystemError();
      return nullptr;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    error = "cannot create a temporary file";
    return nullptr;
  }
  return AttachToRuntime(h, _O_RDWR, "w+b", error);
}

bool IsTerminal(FILE* f) { return _isatty(_fileno(f)) != 0; }

unsigned TerminalWidth(FILE* f) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
  if (GetConsoleScreenBufferInfo(h, &info) && info.srWindow.Right >= info.srWindow.Left)
    return (unsigned)(info.srWindow.Right - info.srWindow.Left + 1);
  return 80;
}

}  // namespace datapack
