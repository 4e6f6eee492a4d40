#include "inspect.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "setup_messages.h"
#include "entrylimit.h"
#include "entry_stream.h"
#include "listfile.h"
#include "progress.h"

namespace datapack {

namespace {

// Counts what passes through, so that every entry's offset is known exactly, also after
// a stream that was short or did not inflate.
struct CountingReader {
  ByteReader* inner;
  uint64_t pos;
};

int CountingRead(void* ctx, void* buf, uint32_t want, uint32_t* got) {
  CountingReader* c = (CountingReader*)ctx;
  int ok = c->inner->read(c->inner->ctx, buf, want, got);
  c->pos += *got;
  return ok;
}

int CountingBack(void* ctx) {
  CountingReader* c = (CountingReader*)ctx;
  if (!c->inner->back(c->inner->ctx)) return 0;
  c->pos--;
  return 1;
}

// Input and output pieces of the streaming decoder: large enough that zlib's per-call
// overhead does not show, small enough that memory stays flat.
const uint32_t kPieceSize = 256 << 10;

// Where an entry's payload goes as it inflates: the file header is kept aside, the file data
// kept whole and/or passed on piece by piece.
struct PayloadRoute {
  unsigned char header[FILE_HEADER_SIZE];
  uint32_t header_have = 0;
  std::vector<unsigned char>* keep = nullptr;  // the whole file data, when wanted
  const std::function<bool(const unsigned char*, uint32_t, std::string&)>* on_data = nullptr;
  std::function<void()> progress;
  std::string error;  // why on_data refused

  static int Write(void* ctx, const unsigned char* data, uint32_t size) {
    PayloadRoute* r = (PayloadRoute*)ctx;
    if (r->header_have < FILE_HEADER_SIZE) {
      uint32_t n = std::min<uint32_t>(size, FILE_HEADER_SIZE - r->header_have);
      memcpy(r->header + r->header_have, data, n);
      r->header_have += n;
      data += n;
      size -= n;
    }
    if (size == 0) return 1;
    if (r->keep) r->keep->insert(r->keep->end(), data, data + size);
    if (r->on_data && !(*r->on_data)(data, size, r->error)) return 0;
    if (r->progress) r->progress();
    return 1;
  }
};

void CountReport(void* ctx, uint32_t bytes_out, int end) {
  AddInflateReport((ProgressCount*)ctx, bytes_out, end);
}

std::string HeaderFailure(const unsigned char* h, uint32_t got) {
  char text[160];
  if (got < PACKAGE_HEADER_SIZE)
    snprintf(text, sizeof text, "the package is %u bytes long, shorter than its 4-byte header",
             (unsigned)got);
  else if ((h[0] | (h[1] << 8)) != PACKAGE_SIGNATURE)
    snprintf(text, sizeof text, "signature is 0x%02X 0x%02X at offset 0, not \"ZK\"", h[0], h[1]);
  else
    snprintf(text, sizeof text,
             "kind byte is %u at offset 3, not 1 (Instal), 2 (Setup) or 3 (Instalar)", h[3]);
  return text;
}

std::string EntryFailure(const EntryReport& e, uint64_t file_size) {
  std::string text = DescribeEntry(e) + ": ";
  if (e.status == ENTRY_TRUNCATED_RECORD) {
    uint64_t have = file_size > e.offset ? file_size - e.offset : 0;
    return text + "entry record is cut short at offset " + std::to_string(e.offset) +
           ": the package ends after " + std::to_string(have) + " of its 8 bytes";
  }
  text += EntryStatusText(e.status);
  if (!e.reason.empty() && e.reason != EntryStatusText(e.status)) text += " (" + e.reason + ")";
  if (e.status == ENTRY_READ_FAILED || e.status == ENTRY_NO_MEMORY)
    return text + " (record at offset " + std::to_string(e.offset) + ")";
  text += " at offset " + std::to_string(e.offset + ENTRY_RECORD_SIZE + e.info.stream_used);
  if (e.info.stored_read < e.info.stored)
    text += "; the package ends " + CountOf(e.info.stored - e.info.stored_read, "byte") +
            " short of the entry's stored size";
  return text;
}

}  // namespace

const char* RoleName(Role role) {
  switch (role) {
    case Role::kList:
      return "list file";
    case Role::kSetupProgram:
      return "setup program";
    case Role::kUninstaller:
      return "uninstaller";
    case Role::kSupport:
      return "support file";
  }
  return "entry";
}

const char* RoleId(Role role) {
  switch (role) {
    case Role::kList:
      return "list";
    case Role::kSetupProgram:
      return "setup_program";
    case Role::kUninstaller:
      return "uninstaller";
    case Role::kSupport:
      return "support_file";
  }
  return "entry";
}

std::string DescribeEntry(const EntryReport& e) {
  return "entry " + std::to_string(e.index) + " (" + RoleName(e.role) + " " +
         (e.name.empty() ? std::string("with an empty name") : e.name) + ")";
}

bool InspectPackage(ByteReader& source, uint64_t file_size, const InspectOptions& options,
                    PackageReport& rep) {
  rep = PackageReport();
  rep.file_size = file_size;
  CountingReader counter = {&source, 0};
  ByteReader r = {&counter, CountingRead, CountingBack};
  bool stopped = false;  // on_entry said stop
  auto fail = [&rep](const std::string& message, const std::string& reason) {
    if (rep.failed) return;
    rep.failed = true;
    rep.message = message;
    rep.reason = reason;
  };
  auto progress = [&]() {
    if (options.on_progress) options.on_progress(counter.pos);
  };

  // The header is read here to say what is wrong with it; the verdict is the core's.
  unsigned char h[PACKAGE_HEADER_SIZE] = {0};
  uint32_t got = 0;
  if (!source.read(source.ctx, h, PACKAGE_HEADER_SIZE, &got)) got = 0;
  counter.pos = got;
  MemoryReader hm;
  ByteReader hr;
  InitMemoryReader(&hm, &hr, h, got);
  if (!ReadPackageHeader(&hr, &rep.kind)) {
    fail(CorruptPackageMessage(), HeaderFailure(h, got));
    return false;
  }
  rep.header_ok = true;
  rep.base_name = BaseNameForKind(rep.kind);
  const std::string list_name = rep.base_name + LIST_SUFFIX;
  const std::string setup_name = std::string(ProgramStem(rep.base_name.c_str())) + PROGRAM_SUFFIX;

  ProgressCount count;
  StartCount(&count, 0);
  const ProgressSink sink = {CountReport, &count};

  // Entries stream through these whatever their size; only the list's data (and, for
  // on_entry, every entry's) is kept whole.
  std::vector<unsigned char> in_piece(kPieceSize), out_piece(kPieceSize);
  const StreamBuffers buffers = {in_piece.data(), kPieceSize, out_piece.data(), kPieceSize};
  std::vector<unsigned char> kept;  // file data of the entry just read, when wanted whole
  bool started = false;             // on_start was called for the entry just read

  // Reads the next entry. Returns 1 when it inflated, 0 when it did not but the next record
  // can still be found, -1 when the walk cannot go on.
  auto read_entry = [&](Role role, const std::string& name, bool counted) -> int {
    EntryReport er;
    er.index = (uint32_t)rep.entries.size() + 1;
    er.role = role;
    er.name = name;
    er.offset = counter.pos;
    const bool live = !rep.failed && !stopped;  // consumers hear of entries until a failure
    PayloadRoute route;
    kept.clear();
    route.keep = (role == Role::kList || (live && options.on_entry)) ? &kept : nullptr;
    route.on_data = live && role != Role::kList && options.on_data ? &options.on_data : nullptr;
    route.progress = progress;
    if (route.on_data && options.on_start) {
      std::string error;
      if (!options.on_start(er, error)) {
        stopped = true;
        rep.reason = error;
        return -1;
      }
    }
    started = route.on_data != nullptr;
    const PayloadSink payload = {PayloadRoute::Write, &route};
    er.status = ReadEntryStream(&r, counted ? &sink : nullptr, &buffers, &payload, &er.info);
    if (er.info.reason) er.reason = er.info.reason;
    er.info.reason = nullptr;
    if (er.status == ENTRY_OK)
      er.has_header = ParseFileHeader(route.header, route.header_have, &er.header);
    if (counted) {
      rep.progress_reports += er.info.reports;
      er.percent = PercentOf(count.done, count.expected);
      if (er.status == ENTRY_OK) rep.payload_total += er.info.produced;
    }
    if (er.status == ENTRY_OK && er.info.stored_read < er.info.stored)
      rep.warnings.push_back(DescribeEntry(er) + ": the package ends " +
                             CountOf(er.info.stored - er.info.stored_read, "byte") +
                             " short of the entry's stored size (its stream is complete)");
    if (er.status == ENTRY_OK) {
      const std::string large = LargeEntryWarning(er.info.stored, er.info.declared);
      if (!large.empty()) rep.warnings.push_back(DescribeEntry(er) + ": " + large);
    }
    rep.entries.push_back(er);
    progress();
    if (er.status == ENTRY_OK) return 1;
    if (er.status == ENTRY_SINK_STOPPED) {
      stopped = true;
      rep.reason = route.error;
      return -1;
    }
    fail(CorruptPackageMessage(), EntryFailure(er, file_size));
    const bool can_go_on = er.status == ENTRY_BAD_STREAM || er.status == ENTRY_TOO_LONG ||
                           er.status == ENTRY_SHORT_PAYLOAD;
    return can_go_on ? 0 : -1;
  };
  // Hands the entry just read to the consumers: on_done after on_start; on_entry with the
  // whole data when it inflated and nothing has failed.
  auto deliver = [&](int state) {
    std::string error;
    if (started && options.on_done && !options.on_done(rep.entries.back(), error) && !stopped) {
      stopped = true;
      rep.reason = error;
    }
    started = false;
    if (state != 1 || rep.failed || stopped || !options.on_entry) return;
    if (!options.on_entry(rep.entries.back(), kept.data(), (uint32_t)kept.size(), error)) {
      stopped = true;
      rep.reason = error;
    }
  };
  auto go_on = [&]() { return !stopped && (!rep.failed || options.keep_going); };

  // 1. The list file, unpacked before the bar starts counting. Its consumers hear of it only
  // once it has been checked, so that they may refuse a list before anything is written.
  int state = read_entry(Role::kList, list_name, false);
  const ListIssue* name_failure = nullptr;  // a support name the bootstrapper cannot create
  if (state == 1) {
    rep.list = CheckList(kept.data(), kept.size(), list_name, setup_name);
    rep.list_read = true;
    for (const ListIssue& issue : rep.list.issues) {
      if (issue.severity == Severity::kFail) {
        if (!rep.list.readable)
          fail(ListCorruptMessage(), "list " + IssueText(issue));
        else
          name_failure = &issue;
      } else {
        rep.warnings.push_back("list " + IssueText(issue));
      }
    }
    if (!rep.failed && options.on_data) {
      std::string error;
      bool ok = !options.on_start || options.on_start(rep.entries.back(), error);
      started = ok;
      ok = ok && (kept.empty() || options.on_data(kept.data(), (uint32_t)kept.size(), error));
      if (!ok) {
        stopped = true;
        rep.reason = error;
      }
    }
    deliver(state);
    StartCount(&count, rep.list.expected);
  }
  kept = std::vector<unsigned char>();
  if (state < 0 || !go_on()) return !rep.failed && !stopped;

  // 2. and 3. The setup program and the uninstaller.
  state = read_entry(Role::kSetupProgram, setup_name, true);
  deliver(state);
  if (state < 0 || !go_on()) return !rep.failed && !stopped;
  state = read_entry(Role::kUninstaller, UNINSTALLER_NAME, true);
  deliver(state);
  if (state < 0 || !go_on()) return !rep.failed && !stopped;

  // 4. One entry per support file, as many as the list names (none when it is unreadable).
  const std::vector<std::string>& names = rep.list.names;
  for (size_t i = 0; i < names.size(); ++i) {
    state = read_entry(Role::kSupport, names[i], true);
    // The entry is inflated before its file is created, so a broken stream is reported
    // before a name that cannot be created.
    if (state == 1 && name_failure && name_failure->line == LIST_FIRST_NAME_LINE + i)
      fail(CannotCopyMessage(kWorkingFolderPlaceholder + names[i]),
           DescribeEntry(rep.entries.back()) + ": cannot be created: list " +
               IssueText(*name_failure));
    deliver(state);
    if (state < 0 || !go_on()) return !rep.failed && !stopped;
  }

  if (!rep.failed && !stopped) {
    rep.complete = true;
    rep.end_offset = counter.pos;
    rep.trailing = file_size > counter.pos ? file_size - counter.pos : 0;
    rep.final_percent = PercentOf(count.done, count.expected);
    if (rep.trailing)
      rep.warnings.push_back(CountOf(rep.trailing, "byte") + " after the last entry (offset " +
                             std::to_string(rep.end_offset) + ") are never read");
    std::string mismatch = SizeMismatchText(rep.list.expected, rep.payload_total);
    if (!mismatch.empty()) rep.warnings.push_back(mismatch);
  }
  return !rep.failed && !stopped;
}

}  // namespace datapack
