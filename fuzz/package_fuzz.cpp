// fuzz_package: a whole package file, walked as the bootstrapper unpacks it.
//
// Two walks over the same bytes. The first is datapack's (InspectPackage, what `datapack
// verify` and `list` run), with and without reading past the first failure. The second is
// written here directly on the package core, step for step as setup.exe goes: header, list
// entry, the list reader's steps over the list's file data, setup program, uninstaller and one
// entry per support name, every report of the counted entries going through AddInflateReport. Along
// that walk the bar's percentage must never exceed 100 nor fall, and after every entry the
// count must have grown by exactly its payload length, however many reports it made. The two
// walks must then agree on where the package breaks and on the totals.
#include <stdint.h>

#include <string>
#include <vector>

#include "setup_messages.h"
#include "fuzz_util.h"
#include "package_walk.h"
#include "listfile.h"
#include "package.h"
#include "progress.h"

FUZZ_DEFINE_SANITIZER_DEFAULTS

namespace {

// Where the core's walk stopped.
enum Stop {
  STOP_NONE,       // every entry the list calls for was unpacked
  STOP_HEADER,     // the package header was refused
  STOP_ENTRY,      // an entry did not read or inflate (status)
  STOP_LIST,       // the list reader refused the list
  STOP_EMPTY_NAME  // a support file named "" inflated but cannot be created
};

struct Walk {
  Stop stop = STOP_NONE;
  int status = ENTRY_OK;  // of the entry the walk stopped at
  uint32_t entries = 0;   // entries read, the one it stopped at included
  uint32_t reports = 0;   // reports counted by the bar
  uint64_t payload_total = 0;
  unsigned percent = 0;  // the bar after the last report
};

// The bar: each report through AddInflateReport, checked as it comes.
struct Bar {
  ProgressCount count;
  unsigned shown = 0;
  uint32_t reports = 0;
  ProgressSink sink{&Bar::Report, this};
  static void Report(void* ctx, uint32_t bytes_out, int end) {
    Bar* b = static_cast<Bar*>(ctx);
    const unsigned percent = AddInflateReport(&b->count, bytes_out, end);
    FUZZ_CHECK(percent <= 100, "bar at %u %%", percent);
    FUZZ_CHECK(percent >= b->shown, "bar falls from %u to %u %%", b->shown, percent);
    FUZZ_CHECK(percent == PercentOf(b->count.done, b->count.expected), "percentage");
    b->shown = percent;
    b->reports++;
  }
};

Walk WalkPackage(const uint8_t* data, size_t size) {
  Walk w;
  ExactReader src(data, size);
  int kind = 0;
  if (!ReadPackageHeader(&src.reader, &kind)) {
    w.stop = STOP_HEADER;
    return w;
  }
  FUZZ_CHECK(kind >= KIND_INSTAL && kind <= KIND_INSTALAR, "kind %d", kind);

  // The list is unpacked before the bar starts counting.
  Entry e;
  w.entries = 1;
  w.status = ReadEntry(&src.reader, nullptr, &e);
  if (w.status != ENTRY_OK) {
    w.stop = STOP_ENTRY;
    return w;
  }
  ExactReader list(e.payload + FILE_HEADER_SIZE, e.length - FILE_HEADER_SIZE);
  FreeEntry(&e);
  ListReader s;
  StartListReader(&s, &list.reader);
  int list_error = ReadListSizes(&s);
  if (list_error == LIST_OK) list_error = ReadListCount(&s);
  std::vector<std::string> names;
  for (uint32_t i = 0; list_error == LIST_OK && i < s.slots; i++) {
    char slot[SUPPORT_SLOT_SIZE];
    list_error = ReadListName(&s, slot);
    names.push_back(slot);
  }
  if (list_error != LIST_OK) {
    w.stop = STOP_LIST;
    return w;
  }
  Bar bar;
  StartCount(&bar.count, s.expected);
  const uint32_t wanted = 2 + (uint32_t)names.size();  // setup program, uninstaller, support files
  for (uint32_t i = 0; i < wanted && w.stop == STOP_NONE; i++) {
    w.entries++;
    const uint64_t before = bar.count.done;
    w.status = ReadEntry(&src.reader, &bar.sink, &e);
    if (w.status != ENTRY_OK) {
      w.stop = STOP_ENTRY;
      break;
    }
    w.payload_total += e.length;
    FUZZ_CHECK(bar.count.done - before == e.length && bar.count.last == 0,
               "entry %u of %u bytes added %llu to the count", w.entries, e.length,
               (unsigned long long)(bar.count.done - before));
    FreeEntry(&e);
    // The file is created after its entry inflated; a name of "" is the folder itself.
    if (i >= 2 && names[i - 2].empty()) w.stop = STOP_EMPTY_NAME;
  }
  w.reports = bar.reports;
  w.percent = bar.shown;
  if (w.stop == STOP_NONE)
    FUZZ_CHECK(w.percent == PercentOf(w.payload_total, s.expected), "final bar %u %%", w.percent);
  return w;
}

// datapack's walk: memory-safe with both settings, and its bar in bounds and rising.
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
  unsigned shown = 0;
  for (const datapack::EntryReport& er : rep.entries) {
    FUZZ_CHECK(er.percent <= 100 && er.percent >= shown, "entry %u: bar %u %% after %u %%",
               er.index, er.percent, shown);
    shown = er.percent;
  }
  if (rep.complete) FUZZ_CHECK(rep.final_percent >= shown && rep.final_percent <= 100, "end bar");
  return rep;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Walk w = WalkPackage(data, size);
  const datapack::PackageReport rep = Inspect(data, size, false);
  const datapack::PackageReport all = Inspect(data, size, true);
  const uint32_t reached = (uint32_t)rep.entries.size();

  FUZZ_CHECK(rep.header_ok == (w.stop != STOP_HEADER), "header: datapack %d, core stop %d",
             rep.header_ok, w.stop);
  const bool cannot_copy = StartsWith(rep.message, datapack::CannotCopyMessage(""));
  if (w.stop == STOP_ENTRY && w.status == ENTRY_NO_MEMORY) {
    // Every calloc above FUZZ_ALLOC_LIMIT fails here, and datapack may not need one that
    // large: up to that entry both agree, past it datapack may go on.
    FUZZ_CHECK(!rep.failed || reached >= w.entries || cannot_copy,
               "datapack stops at entry %u, before the core ran out of memory at %u", reached,
               w.entries);
    return 0;
  }
  FUZZ_CHECK(rep.failed == (w.stop != STOP_NONE) || cannot_copy,
             "datapack %s, the core stops with %d at entry %u: %s", rep.failed ? "fails" : "passes",
             w.stop, w.entries, rep.reason.c_str());
  if (cannot_copy) {
    // A name Windows refuses (datapack knows more of those than the core): the core must
    // have inflated that entry, and cannot have stopped before it.
    FUZZ_CHECK(reached <= w.entries &&
                   (reached < w.entries || w.stop == STOP_NONE || w.stop == STOP_EMPTY_NAME),
               "datapack cannot create entry %u, the core stops with %d at %u", reached, w.stop,
               w.entries);
  } else if (w.stop == STOP_ENTRY || w.stop == STOP_HEADER) {
    FUZZ_CHECK(rep.message == datapack::CorruptPackageMessage(), "message \"%s\"",
               rep.message.c_str());
    FUZZ_CHECK(reached == w.entries && (!reached || rep.entries.back().status == w.status),
               "datapack stops at entry %u (status %d), the core at %u (status %d)", reached,
               reached ? rep.entries.back().status : -1, w.entries, w.status);
  } else if (w.stop == STOP_LIST) {
    FUZZ_CHECK(rep.message == datapack::ListCorruptMessage() && reached == 1,
               "list refused by the core, datapack says \"%s\" at entry %u", rep.message.c_str(),
               reached);
  } else if (w.stop == STOP_EMPTY_NAME) {
    FUZZ_CHECK(false, "an empty support file name passes datapack");
  }
  if (rep.complete) {
    FUZZ_CHECK(w.stop == STOP_NONE, "datapack completes a package the core stops in");
    FUZZ_CHECK(reached == w.entries && rep.payload_total == w.payload_total &&
                   rep.progress_reports == w.reports && rep.final_percent == w.percent,
               "totals: %u/%u entries, %llu/%llu bytes, %u/%u reports, %u/%u %%", reached,
               w.entries, (unsigned long long)rep.payload_total,
               (unsigned long long)w.payload_total, rep.progress_reports, w.reports,
               rep.final_percent, w.percent);
    FUZZ_CHECK(all.complete && all.payload_total == rep.payload_total,
               "reading on past failures changes a good package's walk");
  }
  return 0;
}
