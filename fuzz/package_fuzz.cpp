// fuzz_package: a whole package file, walked as the bootstrapper unpacks it by the walk
// `datapack list`, `verify` and `extract` run (InspectPackage): header, list entry and its
// check, setup program, uninstaller, one entry per support name, the bar counting every
// entry after the list. The walk runs twice: stopping at the first failure, and reading on
// past it as listings do.
//
// Checks: memory safety; every entry that inflated handed over exactly its file data, after
// its header; the entries in package order; the bar never above 100 % nor falling; the totals
// the sums of the entries' own counts, and the final bar their percentage of the list's
// total; the verdict, the message and the entry the walk stopped at agreeing with each
// other; reading on changes nothing up to the first failure, nor anything of a good package.
#include <stdint.h>

#include <string>

#include "format.h"
#include "fuzz_util.h"
#include "package.h"
#include "package_walk.h"
#include "progress.h"
#include "setup_messages.h"

FUZZ_DEFINE_SANITIZER_DEFAULTS

namespace {

datapack::PackageReport Inspect(const uint8_t* data, size_t size, bool keep_going) {
  ExactReader src(data, size);
  datapack::InspectOptions options;
  options.keep_going = keep_going;
  // Every byte handed over must be readable, and an entry that inflated must have handed
  // over exactly its file data.
  uint64_t handed = 0;
  options.on_start = [&handed](const datapack::EntryReport&, std::string&) {
    handed = 0;
    return true;
  };
  options.on_data = [&handed](const unsigned char* file, uint32_t file_size, std::string&) {
    unsigned sum = 0;
    for (uint32_t i = 0; i < file_size; i++) sum += file[i];
    (void)sum;
    handed += file_size;
    return true;
  };
  options.on_done = [&handed](const datapack::EntryReport& er, std::string&) {
    if (er.status != ENTRY_OK) return true;
    FUZZ_CHECK(er.has_header, "entry %u handed over without its header", er.index);
    FUZZ_CHECK(handed == er.info.produced - FILE_HEADER_SIZE, "entry %u: file data of %llu bytes",
               er.index, (unsigned long long)handed);
    return true;
  };
  datapack::PackageReport rep;
  const bool good = datapack::InspectPackage(src.reader, size, options, rep);
  FUZZ_CHECK(good == !rep.failed, "verdict %d, failed %d", good, rep.failed);

  // The entries: in package order, the bar rising within bounds, the totals their sums.
  unsigned shown = 0;
  uint64_t payload = 0;
  uint32_t reports = 0;
  for (size_t i = 0; i < rep.entries.size(); i++) {
    const datapack::EntryReport& er = rep.entries[i];
    FUZZ_CHECK(er.index == i + 1 && er.role == EntryRoleAt((uint32_t)i), "entry %zu", i + 1);
    FUZZ_CHECK(er.percent <= 100 && er.percent >= shown, "entry %u: bar %u %% after %u %%",
               er.index, er.percent, shown);
    shown = er.percent;
    if (er.role == ROLE_LIST) continue;  // unpacked before the bar counts
    reports += er.info.reports;
    if (er.status == ENTRY_OK) payload += er.info.produced;
  }
  FUZZ_CHECK(rep.payload_total == payload && rep.progress_reports == reports,
             "totals %llu bytes, %u reports; the entries say %llu, %u",
             (unsigned long long)rep.payload_total, rep.progress_reports,
             (unsigned long long)payload, reports);
  if (rep.complete) {
    FUZZ_CHECK(rep.list_read && rep.list.readable &&
                   rep.entries.size() == FIXED_ENTRIES + rep.list.names.size(),
               "complete after %zu entries", rep.entries.size());
    FUZZ_CHECK(rep.final_percent == PercentOf(payload, rep.list.expected), "final bar %u %%",
               rep.final_percent);
    for (const std::string& name : rep.list.names)
      FUZZ_CHECK(!name.empty(), "a support file with an empty name passes");
  }
  return rep;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The first failure as the bootstrapper meets it: its message names what stopped it.
void CheckFailure(const uint8_t* data, size_t size, const datapack::PackageReport& rep) {
  ExactReader src(data, size);
  int kind = 0;
  FUZZ_CHECK(rep.header_ok == (ReadPackageHeader(&src.reader, &kind) != 0), "header verdict");
  if (!rep.failed) {
    FUZZ_CHECK(rep.complete, "neither failed nor complete");
    for (const datapack::EntryReport& er : rep.entries)
      FUZZ_CHECK(er.status == ENTRY_OK, "entry %u failed in a good package", er.index);
    return;
  }
  FUZZ_CHECK(!rep.complete, "a failed walk is complete");
  const datapack::EntryReport* last = rep.entries.empty() ? nullptr : &rep.entries.back();
  if (rep.message == datapack::CorruptPackageMessage()) {
    FUZZ_CHECK(!rep.header_ok ? !last : last && last->status != ENTRY_OK,
               "corrupt package, yet the last entry inflated");
  } else if (rep.message == datapack::ListCorruptMessage()) {
    FUZZ_CHECK(
        rep.entries.size() == 1 && last->status == ENTRY_OK && rep.list_read && !rep.list.readable,
        "list refused after %zu entries", rep.entries.size());
  } else {
    FUZZ_CHECK(StartsWith(rep.message, datapack::CannotCopyMessage("")), "message \"%s\"",
               rep.message.c_str());
    FUZZ_CHECK(last && last->role == ROLE_SUPPORT && last->status == ENTRY_OK,
               "a support file that cannot be created must have inflated");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const datapack::PackageReport rep = Inspect(data, size, false);
  CheckFailure(data, size, rep);
  const datapack::PackageReport all = Inspect(data, size, true);
  // Reading on past the first failure changes nothing before it.
  FUZZ_CHECK(all.failed == rep.failed && all.message == rep.message && all.reason == rep.reason &&
                 all.entries.size() >= rep.entries.size(),
             "reading on changes the verdict: \"%s\" / \"%s\"", all.reason.c_str(),
             rep.reason.c_str());
  for (size_t i = 0; i < rep.entries.size(); i++)
    FUZZ_CHECK(all.entries[i].status == rep.entries[i].status &&
                   all.entries[i].offset == rep.entries[i].offset &&
                   all.entries[i].info.produced == rep.entries[i].info.produced,
               "entry %zu differs when reading on", i + 1);
  if (rep.complete)
    FUZZ_CHECK(all.complete && all.payload_total == rep.payload_total &&
                   all.entries.size() == rep.entries.size(),
               "reading on past failures changes a good package's walk");
  return 0;
}
