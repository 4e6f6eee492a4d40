#include "package_walk.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>

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
// overhead does not show (verify takes the same time with 256 KiB), small enough that memory
// stays flat and that a walk of a small or cut-short package, whose missing stored bytes are
// handed over as a piece of zeros, costs little.
const uint32_t kPieceSize = 64 << 10;

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
  std::string status = EntryStatusText(e.status);
  if (!e.reason.empty() && e.reason != EntryStatusText(e.status)) status += " (" + e.reason + ")";
  if (e.status == ENTRY_READ_FAILED || e.status == ENTRY_NO_MEMORY)
    return text + status + " (record at offset " + std::to_string(e.offset) + ")";
  // A package cut inside the stream: that is the cause, whatever the inflater made of the
  // bytes that are missing, and the place it stopped lies past the end of the file.
  if (e.info.stored_read < e.info.stored)
    return text + "the package is cut short: it ends " +
           CountOf(e.info.stored - e.info.stored_read, "byte") +
           " before the end of this entry's stored stream (record at offset " +
           std::to_string(e.offset) + "; what is there: " + status + ")";
  return text + status + " at offset " +
         std::to_string(e.offset + ENTRY_RECORD_SIZE + e.info.stream_used);
}

// Each role's words for people and its identifier for machine-readable output, by EntryRole.
const struct {
  const char* name;
  const char* id;
} kRoleWords[] = {{"list file", "list"},
                  {"setup program", "setup_program"},
                  {"uninstaller", "uninstaller"},
                  {"support file", "support_file"}};

}  // namespace

const char* RoleName(EntryRole role) { return kRoleWords[role].name; }

const char* RoleId(EntryRole role) { return kRoleWords[role].id; }

std::string DescribeEntry(const EntryReport& e) {
  return "entry " + std::to_string(e.index) + " (" + RoleName(e.role) + " " +
         (e.name.empty() ? std::string("with an empty name") : e.name) + ")";
}

namespace {

// One walk over a package: the state its steps share, each step a member.
class Walk {
 public:
  Walk(ByteReader& source, uint64_t file_size, const InspectOptions& options, PackageReport& rep)
      : options_(options),
        rep_(rep),
        counter_{&source, 0},
        reader_{&counter_, CountingRead, CountingBack},
        in_piece_(new unsigned char[kPieceSize]),
        out_piece_(new unsigned char[kPieceSize]),
        buffers_{in_piece_.get(), kPieceSize, out_piece_.get(), kPieceSize},
        sink_{CountReport, &count_} {
    rep_ = PackageReport();
    rep_.file_size = file_size;
    StartCount(&count_, 0);
  }

  bool Run();

 private:
  bool ReadHeader();
  int ReadNext(EntryRole role, const std::string& name, bool counted);
  // Reads entry `index` as the package order says it is; false when the walk stops there.
  bool ReadEntryAt(uint32_t index);
  void Warn(const EntryReport& er);
  void CheckListEntry();
  void Deliver();
  void Finish();
  void Fail(const std::string& message, const std::string& reason) {
    if (rep_.failed) return;
    rep_.failed = true;
    rep_.message = message;
    rep_.reason = reason;
  }
  void Stop(const std::string& error) {
    stopped_ = true;
    rep_.reason = error;
  }
  // Tells the consumer that entry `e` begins; false when it refused (the walk then stops).
  bool Start(const EntryReport& e) {
    std::string error;
    started_ = !options_.on_start || options_.on_start(e, error);
    if (!started_) Stop(error);
    return started_;
  }
  void Progress() {
    if (options_.on_progress) options_.on_progress(counter_.pos);
  }
  bool GoOn() const { return !stopped_ && (!rep_.failed || options_.keep_going); }
  bool Verdict() const { return !rep_.failed && !stopped_; }

  const InspectOptions& options_;
  PackageReport& rep_;
  CountingReader counter_;
  ByteReader reader_;
  // Entries stream through these whatever their size; only the list's data is kept whole.
  // Not cleared first: the decoder reads only what it wrote, and clearing half a megabyte
  // for every walk is what a walk of a small package spent most of its time on.
  std::unique_ptr<unsigned char[]> in_piece_, out_piece_;
  const StreamBuffers buffers_;
  ProgressCount count_;
  const ProgressSink sink_;
  std::vector<unsigned char> kept_;  // the list's file data
  std::string list_name_, setup_name_;
  const ListIssue* name_failure_ = nullptr;  // a support name the bootstrapper cannot create
  bool stopped_ = false;                     // a consumer said stop
  bool started_ = false;                     // the consumer heard of the entry just read
};

// The header is read here to say what is wrong with it; the verdict is the core's.
bool Walk::ReadHeader() {
  unsigned char h[PACKAGE_HEADER_SIZE] = {0};
  uint32_t got = 0;
  if (!reader_.read(reader_.ctx, h, PACKAGE_HEADER_SIZE, &got)) got = 0;
  counter_.pos = got;
  MemoryReader hm;
  ByteReader hr;
  InitMemoryReader(&hm, &hr, h, got);
  if (!ReadPackageHeader(&hr, &rep_.kind)) {
    Fail(CorruptPackageMessage(), HeaderFailure(h, got));
    return false;
  }
  rep_.header_ok = true;
  rep_.base_name = BaseNameForKind(rep_.kind);
  list_name_ = rep_.base_name + LIST_SUFFIX;
  setup_name_ = std::string(ProgramStem(rep_.base_name.c_str())) + PROGRAM_SUFFIX;
  return true;
}

// Reads the next entry. Returns 1 when it inflated, 0 when it did not but the next record
// can still be found, -1 when the walk cannot go on.
int Walk::ReadNext(EntryRole role, const std::string& name, bool counted) {
  EntryReport er;
  er.index = (uint32_t)rep_.entries.size() + 1;
  er.role = role;
  er.name = name;
  er.offset = counter_.pos;
  const bool live = !rep_.failed && !stopped_;  // consumers hear of entries until a failure
  PayloadRoute route;
  kept_.clear();
  route.keep = role == ROLE_LIST ? &kept_ : nullptr;
  route.on_data = live && role != ROLE_LIST && options_.on_data ? &options_.on_data : nullptr;
  route.progress = [this]() { Progress(); };
  if (route.on_data && !Start(er)) return -1;
  const PayloadSink payload = {PayloadRoute::Write, &route};
  er.status = ReadEntryStream(&reader_, counted ? &sink_ : nullptr, &buffers_, &payload, &er.info);
  if (er.info.reason) er.reason = er.info.reason;
  er.info.reason = nullptr;
  if (er.status == ENTRY_OK)
    er.has_header = ParseFileHeader(route.header, route.header_have, &er.header);
  if (counted) {
    rep_.progress_reports += er.info.reports;
    er.percent = PercentOf(count_.done, count_.expected);
    if (er.status == ENTRY_OK) rep_.payload_total += er.info.produced;
  }
  Warn(er);
  rep_.entries.push_back(er);
  Progress();
  if (er.status == ENTRY_OK) return 1;
  if (er.status == ENTRY_SINK_STOPPED) {
    Stop(route.error);
    return -1;
  }
  Fail(CorruptPackageMessage(), EntryFailure(er, rep_.file_size));
  const bool can_go_on = er.status == ENTRY_BAD_STREAM || er.status == ENTRY_TOO_LONG ||
                         er.status == ENTRY_SHORT_PAYLOAD;
  return can_go_on ? 0 : -1;
}

// Problems of an entry that inflated which do not stop the bootstrapper.
void Walk::Warn(const EntryReport& er) {
  if (er.status != ENTRY_OK) return;
  if (er.info.stored_read < er.info.stored)
    rep_.warnings.push_back(DescribeEntry(er) + ": the package ends " +
                            CountOf(er.info.stored - er.info.stored_read, "byte") +
                            " short of the entry's stored size (its stream is complete)");
  const std::string large = LargeEntryWarning(er.info.stored, er.info.declared);
  if (!large.empty()) rep_.warnings.push_back(DescribeEntry(er) + ": " + large);
}

// Checks the list entry just read. Its consumers hear of it only once it has been checked,
// so that they may refuse a list before anything is written.
void Walk::CheckListEntry() {
  rep_.list = CheckList(kept_.data(), kept_.size(), list_name_, setup_name_);
  rep_.list_read = true;
  for (const ListIssue& issue : rep_.list.issues) {
    if (issue.severity == Severity::kFail) {
      if (!rep_.list.readable)
        Fail(ListCorruptMessage(), "list " + IssueText(issue));
      else
        name_failure_ = &issue;
    } else {
      rep_.warnings.push_back("list " + IssueText(issue));
    }
  }
  if (!rep_.failed && options_.on_data && Start(rep_.entries.back())) {
    std::string error;
    if (!kept_.empty() && !options_.on_data(kept_.data(), (uint32_t)kept_.size(), error))
      Stop(error);
  }
}

// Hands the end of the entry just read to the consumer: on_done after on_start.
void Walk::Deliver() {
  std::string error;
  if (started_ && options_.on_done && !options_.on_done(rep_.entries.back(), error) && !stopped_)
    Stop(error);
  started_ = false;
}

void Walk::Finish() {
  rep_.complete = true;
  rep_.trailing = rep_.file_size > counter_.pos ? rep_.file_size - counter_.pos : 0;
  rep_.final_percent = PercentOf(count_.done, count_.expected);
  if (rep_.trailing)
    rep_.warnings.push_back(CountOf(rep_.trailing, "byte") + " after the last entry (offset " +
                            std::to_string(counter_.pos) + ") are never read");
  std::string mismatch = SizeMismatchText(rep_.list.expected, rep_.payload_total);
  if (!mismatch.empty()) rep_.warnings.push_back(mismatch);
}

bool Walk::Run() {
  if (!ReadHeader()) return false;
  // Every entry in package order (EntryRoleAt). How many support files follow is known once
  // the list file has been read: none when it could not be.
  for (uint32_t i = 0; i < FIXED_ENTRIES + rep_.list.names.size(); ++i) {
    if (!ReadEntryAt(i)) return Verdict();
  }
  if (Verdict()) Finish();
  return Verdict();
}

bool Walk::ReadEntryAt(uint32_t index) {
  const EntryRole role = EntryRoleAt(index);
  int state = 0;
  switch (role) {
    case ROLE_LIST:
      // Unpacked before the bar starts counting.
      state = ReadNext(role, list_name_, false);
      if (state == 1) {
        CheckListEntry();
        Deliver();
        StartCount(&count_, rep_.list.expected);
      }
      kept_ = std::vector<unsigned char>();
      break;
    case ROLE_SETUP_PROGRAM:
    case ROLE_UNINSTALLER:
      state = ReadNext(role, role == ROLE_SETUP_PROGRAM ? setup_name_ : UNINSTALLER_NAME, true);
      Deliver();
      break;
    case ROLE_SUPPORT: {
      const size_t i = index - FIXED_ENTRIES;
      const std::string& name = rep_.list.names[i];
      state = ReadNext(role, name, true);
      // The entry is inflated before its file is created, so a broken stream is reported
      // before a name that cannot be created.
      if (state == 1 && name_failure_ && name_failure_->line == LIST_FIRST_NAME_LINE + i)
        Fail(CannotCopyMessage(name), DescribeEntry(rep_.entries.back()) +
                                          ": cannot be created: list " + IssueText(*name_failure_));
      Deliver();
      break;
    }
  }
  return state >= 0 && GoOn();
}

}  // namespace

bool InspectPackage(ByteReader& source, uint64_t file_size, const InspectOptions& options,
                    PackageReport& rep) {
  return Walk(source, file_size, options, rep).Run();
}

}  // namespace datapack
