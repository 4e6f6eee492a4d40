#include "tempfiles.h"

#include <stdint.h>
#include <stdlib.h>

#include <algorithm>

#include "commands.h"

namespace datapack {

namespace {

const char kPrefix[] = ".datapack-";
const char kSuffix[] = ".tmp";

// FNV-1a of the machine's name: short, and the same in every run.
std::string HostTag() {
  uint32_t h = 2166136261u;
  for (unsigned char c : HostName()) h = (h ^ c) * 16777619u;
  char text[16];
  snprintf(text, sizeof text, "%08x", h);
  return text;
}

bool AllDigits(const std::string& s) {
  if (s.empty() || s.size() > 10) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Whether `name` (a file name) is a temporary file of a datapack process of this machine that
// has ended.
bool IsStaleTemporary(const std::string& name) {
  const size_t plen = sizeof kPrefix - 1, slen = sizeof kSuffix - 1;
  if (name.size() <= plen + 9 + slen || name.compare(0, plen, kPrefix) != 0 ||
      name.compare(name.size() - slen, slen, kSuffix) != 0)
    return false;
  if (name.compare(plen, 8, HostTag()) != 0 || name[plen + 8] != '-') return false;
  const std::string rest = name.substr(plen + 9, name.size() - plen - 9 - slen);
  const size_t dash = rest.find('-');
  if (dash == std::string::npos || !AllDigits(rest.substr(0, dash)) ||
      !AllDigits(rest.substr(dash + 1)))
    return false;
  const unsigned long pid = strtoul(rest.substr(0, dash).c_str(), nullptr, 10);
  return pid != ProcessId() && !ProcessRunning(pid);
}

}  // namespace

std::string TemporaryName(unsigned long pid, unsigned n) {
  return kPrefix + HostTag() + "-" + std::to_string(pid) + "-" + std::to_string(n) + kSuffix;
}

TempSeries::TempSeries(const fs::path& folder)
    : folder_(folder.empty() ? fs::path(".") : folder),
      prefix_(kPrefix + HostTag() + "-" + std::to_string(ProcessId()) + "-") {}

TempSeries::~TempSeries() {
  RemoveOnInterrupt(fs::path(), "", 0);
  std::error_code ec;
  for (const fs::path& p : made_)
    if (fs::exists(fs::symlink_status(p, ec))) {
      std::string ignored;
      RemoveFile(p, ignored);
    }
}

void TempSeries::Keep(const fs::path& path) {
  made_.erase(std::remove(made_.begin(), made_.end(), path), made_.end());
}

FILE* TempSeries::Create(fs::path& path, std::string& error) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const unsigned n = next_++;
    path = folder_ / PathFromNative(prefix_ + std::to_string(n) + kSuffix);
    // Counted before it exists, so that an interrupt right after creation removes it too.
    RemoveOnInterrupt(folder_ / PathFromNative(prefix_), kSuffix, next_);
    FILE* f = CreateNewFile(path, error);
    if (f) {
      made_.push_back(path);
      return f;
    }
    std::error_code ec;
    // Taken only by a file an earlier process of the same id left: try the next number.
    if (!fs::exists(fs::symlink_status(path, ec))) return nullptr;
  }
  return nullptr;
}

unsigned RemoveStaleTemporaries(const fs::path& folder) {
  unsigned removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (!IsStaleTemporary(DisplayPath(it->path().filename()))) continue;
    std::error_code sec;
    if (!fs::is_regular_file(it->symlink_status(sec))) continue;
    std::string ignored;
    if (RemoveFile(it->path(), ignored)) ++removed;
  }
  return removed;
}

int CheckOutput(Console& console, const std::string& shown, const fs::path& name,
                const fs::path& target, bool force, const std::string& note,
                const std::vector<std::pair<fs::path, std::string>>& inputs) {
  const std::string kind = SpecialFileKind(target);
  if (!kind.empty())
    return Fail(console, kExitUsage, shown, "is " + kind + ", not a regular file" + note);
  std::error_code ec;
  if (!force && fs::exists(fs::symlink_status(name, ec)))
    return Fail(console, kExitUsage, shown, "already exists (--force replaces it)");
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::is_directory(folder, ec))
    return Fail(console, kExitIo, shown, "folder " + DisplayPath(folder) + " does not exist");
  FileId out_id, in_id;
  if (!GetFileId(target, out_id)) return kExitOk;
  for (const auto& input : inputs)
    if (GetFileId(input.first, in_id) && in_id == out_id)
      return Fail(console, kExitUsage, shown, input.second);
  return kExitOk;
}

int WriteThroughTemporary(Console& console, const std::string& shown, const fs::path& target,
                          bool force, const std::function<int(FILE*)>& write,
                          const std::function<int()>& ready) {
  RemoveStaleTemporaries(target.parent_path());
  TempSeries temps(target.parent_path());  // removes the temporary unless it was moved
  fs::path temp;
  std::string error;
  FILE* f = temps.Create(temp, error);
  if (!f) return Fail(console, kExitIo, shown, "cannot create a temporary file: " + error);
  const int code = write(f);
  const bool flushed = code == kExitOk && FlushToDisk(f);
  const std::string flush_error = flushed ? "" : ErrnoText();
  const bool closed = fclose(f) == 0;
  if (code != kExitOk) return code;
  if (!flushed || !closed)
    return Fail(console, kExitIo, shown, flushed ? ErrnoText() : flush_error);
  if (ready)
    if (int refused = ready()) return refused;
  bool exists = false;
  if (!MoveIntoPlace(temp, target, force, exists, error))
    return Fail(console, exists ? kExitUsage : kExitIo, shown,
                exists ? "already exists (--force replaces it)" : error);
  return kExitOk;
}

}  // namespace datapack
