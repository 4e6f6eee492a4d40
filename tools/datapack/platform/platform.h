// What datapack needs of the operating system beyond portable C++17: file times, attributes,
// creating files without following or replacing anything, moving a finished file into place
// atomically. One implementation per platform, chosen in CMake (platform_posix.cpp,
// platform_win32.cpp); everything else in datapack is the same code on both.
//
// platform/ is the bottom of the tool: this, code pages (codepage.h), file times
// (filetime.h), buffered reading (filereader.h), temporary files and checked outputs
// (tempfiles.h). Besides cli.h for reporting, it includes only walk/listcheck.h, for the
// device names Windows refuses.
#ifndef DATAPACK_PLATFORM_H
#define DATAPACK_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

namespace datapack {

namespace fs = std::filesystem;

// A path from a command-line argument or a name inside a package: bytes as they are on
// POSIX, the ANSI code page on Windows (the bootstrapper's own encoding).
fs::path PathFromNative(const std::string& text);

// The path of a name from a list or a package: bytes in the ANSI code page, as the
// bootstrapper creates the file. Windows: that code page; POSIX: read as Windows-1252 and
// written in UTF-8 (codepage.h).
fs::path PathFromListName(const std::string& name);

// A path for messages, in the same encoding.
std::string DisplayPath(const fs::path& path);

// What packing takes from a source file.
struct SourceStat {
  uint64_t size = 0;
  bool regular = false;    // a regular file (or a link to one)
  bool read_only = false;  // POSIX: no write permission bit at all; Windows: the attribute
  uint64_t created = 0;    // FILETIMEs; POSIX without a birth time: the last write time
  uint64_t accessed = 0;
  uint64_t written = 0;
};

// Returns false with `error` (the system's words) when the file cannot be examined.
bool StatSource(const fs::path& path, SourceStat& st, std::string& error);

// Opens for binary reading. On Linux the file's access time is left alone where the
// system allows it (O_NOATIME), so that packing twice sees the same times.
// Returns nullptr with `error` set on failure.
FILE* OpenRead(const fs::path& path, std::string& error);

// Creates a new file for binary writing; fails (nullptr, `error` set) when anything, a
// dangling symbolic link included, already has that name.
FILE* CreateNewFile(const fs::path& path, std::string& error);

// Writes buffered data and asks the system to put it on the disk. Returns false on failure.
bool FlushToDisk(FILE* f);

// Gives a closed file the times and attributes of a file header. A time of 0 is left as it
// is, as Windows' SetFileTime does. POSIX keeps no creation time and has no hidden, system or
// archive bits: there only the access and write times apply, and the read-only bit clears
// every write permission. KEEP_ATTRIBUTES leaves the attributes alone.
bool ApplyFileHeader(const fs::path& path, uint32_t attributes, uint64_t created, uint64_t accessed,
                     uint64_t written, std::string& error);

// Moves `from` to `to` in one step, so that `to` is either absent, its old self, or complete.
// When `replace` is false and `to` exists, fails with only `exists` set and leaves both alone.
bool MoveIntoPlace(const fs::path& from, const fs::path& to, bool replace, bool& exists,
                   std::string& error);

// Whether two names from a package are one file in a folder of this system: the same bytes
// on POSIX; on Windows also the same as Windows compares them (SameWindowsName).
bool SameFileName(const std::string& a, const std::string& b);

// Removes a file, also a read-only one. Returns false with `error` set on failure.
bool RemoveFile(const fs::path& path, std::string& error);

// Identity of an existing file, the same for every name it has: device and inode on POSIX,
// volume serial number and file index on Windows. Links are followed.
struct FileId {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileId& o) const { return volume == o.volume && index == o.index; }
};
// Returns false when the file cannot be examined (absent included).
bool GetFileId(const fs::path& path, FileId& id);

// What an existing name (links followed) is when it is not a regular file: "a folder",
// "a device", "a FIFO", "a socket" (Windows: a folder, or a device name such as NUL).
// "" for a regular file or when nothing has that name.
std::string SpecialFileKind(const fs::path& path);

// This process's id, and whether the process `pid` of this machine still runs (when in
// doubt, as for another user's process: true).
unsigned long ProcessId();
bool ProcessRunning(unsigned long pid);
// The machine's name, "" when unknown.
std::string HostName();

// While set, an interrupt (Ctrl-C, SIGINT, SIGTERM, SIGHUP) removes the files
// `prefix`0`suffix` .. `prefix`(count - 1)`suffix` before the program ends, so that
// abandoned temporary files are not left behind. One series at a time; count 0 clears it.
void RemoveOnInterrupt(const fs::path& prefix, const std::string& suffix, unsigned count);
// While set, an interrupt also removes `folders` in this order (deepest first, each only
// while empty) after that series: folders a run made and would not keep. Empty clears it.
void RemoveFoldersOnInterrupt(const std::vector<fs::path>& folders);

// Standard input and output as packages ("-"): Windows opens them in text mode, which would
// turn every LF byte of a package into CR LF (or back); binary mode leaves bytes alone. A
// no-op elsewhere.
void UseBinaryMode(FILE* f);

// Whether `f` is a regular file that can be read by position (standard input redirected from
// a file, not a pipe or a terminal); then `remaining` is its size from the current position.
bool SeekableFile(FILE* f, uint64_t& remaining);

// A new file in the system's temporary folder (TMPDIR; on Windows TMP or TEMP) open for
// reading and writing, without a name anyone else sees: the system removes it when it is
// closed or the process ends in any way, killed included. Returns nullptr with `error` set.
FILE* CreateScratchFile(std::string& error);

// Whether the stream is an interactive terminal (progress lines are shown only then).
bool IsTerminal(FILE* f);
// The columns of the terminal (console window) `f` is; 80 when unknown.
unsigned TerminalWidth(FILE* f);

}  // namespace datapack

#endif
