// POSIX side of platform.h (Linux; the times need utimensat and, for birth times, statx).
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // O_NOATIME, statx
#endif
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "filetime.h"
#include "format.h"
#include "codepage.h"
#include "platform.h"

namespace datapack {

static std::string SystemError() { return strerror(errno); }

// The descriptor just opened (-1: the open failed, errno says why) as a FILE*; when that
// fails, `error` says why and the descriptor is closed.
static FILE* OpenedStream(int fd, const char* mode, std::string& error) {
  FILE* f = fd < 0 ? nullptr : fdopen(fd, mode);
  if (!f) {
    error = SystemError();
    if (fd >= 0) close(fd);
  }
  return f;
}

fs::path PathFromNative(const std::string& text) { return fs::path(text); }

fs::path PathFromListName(const std::string& name) { return fs::path(Utf8From1252(name)); }

std::string DisplayPath(const fs::path& path) { return path.string(); }

bool StatSource(const fs::path& path, SourceStat& out, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = SystemError();
    return false;
  }
  out = SourceStat();
  out.size = (uint64_t)st.st_size;
  out.regular = S_ISREG(st.st_mode);
  out.read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  out.accessed = FileTimeFromUnix(st.st_atim.tv_sec, (uint32_t)st.st_atim.tv_nsec);
  out.written = FileTimeFromUnix(st.st_mtim.tv_sec, (uint32_t)st.st_mtim.tv_nsec);
  out.created = out.written;
#ifdef STATX_BTIME
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    out.created = FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
#endif
  return true;
}

FILE* OpenRead(const fs::path& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
  // O_NOATIME is only granted to the file's owner (or root).
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  return OpenedStream(fd, "rb", error);
}

FILE* CreateNewFile(const fs::path& path, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return OpenedStream(fd, "wb", error);
}

bool FlushToDisk(FILE* f) { return fflush(f) == 0 && fsync(fileno(f)) == 0; }

static struct timespec TimeSpec(uint64_t filetime) {
  if (filetime == 0) return {0, UTIME_OMIT};
  int64_t seconds;
  uint32_t nanoseconds;
  UnixFromFileTime(filetime, &seconds, &nanoseconds);
  return {(time_t)seconds, (long)nanoseconds};
}

bool ApplyFileHeader(const fs::path& path, uint32_t attributes, uint64_t /*created*/,
                     uint64_t accessed, uint64_t written, std::string& error) {
  const struct timespec times[2] = {TimeSpec(accessed), TimeSpec(written)};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    error = "cannot set its times: " + SystemError();
    return false;
  }
  if (attributes != KEEP_ATTRIBUTES && (attributes & kAttrReadOnly)) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 ||
        chmod(path.c_str(), st.st_mode & 07777 & ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH)) != 0) {
      error = "cannot make it read-only: " + SystemError();
      return false;
    }
  }
  return true;
}

bool MoveIntoPlace(const fs::path& from, const fs::path& to, bool replace, bool& exists,
                   std::string& error) {
  exists = false;
  if (!replace) {
    // A hard link never replaces anything, so the check and the move are one step.
    if (link(from.c_str(), to.c_str()) == 0) {
      unlink(from.c_str());
      return true;
    }
    // The name is taken; or the file system has no hard links (some FUSE and network ones):
    // check, then rename.
    struct stat st;
    if (errno == EEXIST || lstat(to.c_str(), &st) == 0) {
      exists = true;
      return false;
    }
  }
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  error = SystemError();
  return false;
}

bool SameFileName(const std::string& a, const std::string& b) { return a == b; }

bool RemoveFile(const fs::path& path, std::string& error) {
  if (unlink(path.c_str()) == 0) return true;
  error = SystemError();
  return false;
}

bool GetFileId(const fs::path& path, FileId& id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  id.volume = (uint64_t)st.st_dev;
  id.index = (uint64_t)st.st_ino;
  return true;
}

std::string SpecialFileKind(const fs::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "not a regular file";
}

unsigned long ProcessId() { return (unsigned long)getpid(); }

bool ProcessRunning(unsigned long pid) {
  if (pid == 0 || pid > (unsigned long)INT32_MAX) return true;
  return kill((pid_t)pid, 0) == 0 || errno != ESRCH;
}

std::string HostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

// The handler may only call async-signal-safe functions (unlink, signal, raise), so the
// series is kept in fixed buffers and each name is assembled by hand.
// Set by RemoveOnInterrupt (the commands' main thread), read by the handler.
static char s_prefix[4096];  // "" when nothing is to be removed
static char s_suffix[64];
static volatile sig_atomic_t s_count = 0;  // files in the series
static char s_folders[8192];  // folders to remove after it, each ended by NUL, then a NUL
static volatile sig_atomic_t s_folders_set = 0;  // whether s_folders is complete

static void RemoveAndDie(int sig) {
  const size_t plen = strlen(s_prefix), slen = strlen(s_suffix);
  char name[sizeof s_prefix + sizeof s_suffix + 16];
  for (sig_atomic_t i = 0; s_prefix[0] && i < s_count; ++i) {
    char digits[16];
    size_t n = 0;
    for (unsigned long v = (unsigned long)i; n == 0 || v; v /= 10)
      digits[n++] = (char)('0' + v % 10);
    memcpy(name, s_prefix, plen);
    for (size_t k = 0; k < n; ++k) name[plen + k] = digits[n - 1 - k];
    memcpy(name + plen + n, s_suffix, slen + 1);
    unlink(name);
  }
  for (const char* f = s_folders; s_folders_set && *f; f += strlen(f) + 1) rmdir(f);
  signal(sig, SIG_DFL);
  raise(sig);
}

static void InstallRemoveAndDie() {
  static bool installed = false;
  if (!installed)
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, RemoveAndDie);
  installed = true;
}

void RemoveOnInterrupt(const fs::path& prefix, const std::string& suffix, unsigned count) {
  const std::string& text = prefix.native();
  s_count = 0;
  if (count == 0 || text.empty() || text.size() >= sizeof s_prefix ||
      suffix.size() >= sizeof s_suffix) {
    s_prefix[0] = '\0';
    return;
  }
  memcpy(s_prefix, text.c_str(), text.size() + 1);
  memcpy(s_suffix, suffix.c_str(), suffix.size() + 1);
  s_count = (sig_atomic_t)count;
  InstallRemoveAndDie();
}

void RemoveFoldersOnInterrupt(const std::vector<fs::path>& folders) {
  s_folders_set = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  size_t at = 0;
  for (const fs::path& f : folders) {
    const std::string& text = f.native();
    if (text.empty()) continue;
    if (at + text.size() + 2 > sizeof s_folders) break;  // the deepest ones fit
    memcpy(s_folders + at, text.c_str(), text.size() + 1);
    at += text.size() + 1;
  }
  s_folders[at] = '\0';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  s_folders_set = at > 0;
  if (at > 0) InstallRemoveAndDie();
}

void UseBinaryMode(FILE*) {}

bool SeekableFile(FILE* f, uint64_t& remaining) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t at = ftello(f);
  if (at < 0 || at > st.st_size) return false;
  remaining = (uint64_t)(st.st_size - at);
  return true;
}

FILE* CreateScratchFile(std::string& error) {
  const char* tmpdir = getenv("TMPDIR");
  const std::string dir = tmpdir && *tmpdir ? tmpdir : "/tmp";
  int fd = -1;
#ifdef O_TMPFILE
  // No name at all: nothing to remove, even after SIGKILL.
  fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd < 0) {
    // Systems or file systems without O_TMPFILE: a name that is gone right after creation.
    std::string pattern = dir + "/.datapack-scratch-XXXXXX";
    fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd < 0) {
      error = dir + ": " + SystemError();
      return nullptr;
    }
    unlink(pattern.c_str());
  }
  return OpenedStream(fd, "w+b", error);
}

bool IsTerminal(FILE* f) { return isatty(fileno(f)) != 0; }

unsigned TerminalWidth(FILE* f) {
  struct winsize ws;
  if (ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace datapack
