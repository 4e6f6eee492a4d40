// datapack create: pack the list, the setup program, the uninstaller and the support files.
#include <stdio.h>

#include <memory>
#include <ostream>

#include "commands.h"
#include "create_inputs.h"
#include "encode.h"
#include "entrylimit.h"
#include "package_walk.h"  // RoleName
#include "parallel.h"
#include "package.h"
#include "package_writer.h"
#include "platform.h"
#include "tempfiles.h"

namespace datapack {

const char kCreateHelp[] =
    "Usage: datapack create [OPTIONS] -l LIST -s PROGRAM -u UNINSTALLER\n"
    "Packs a list file, the setup program, the uninstaller and the support files the list\n"
    "names into a package, in the order the setup bootstrapper unpacks them.\n"
    "\n"
    "  -l, --list FILE         the list file (packed first, unpacked as <base name>.lst)\n"
    "  -s, --setup FILE        the setup program (unpacked as Setup1.exe or Instal1.exe)\n"
    "  -u, --uninstaller FILE  the uninstaller (unpacked as KQUninst.exe)\n"
    "  -d, --files DIR         folder of the support files (default: the list file's folder)\n"
    "  -k, --kind KIND         base name: Instal, Setup or Instalar (or 1, 2, 3); default:\n"
    "                          the list file's name when it is one of them (Setup.lst)\n"
    "  -o, --output FILE       the package to write (default: _Data.001); - for standard\n"
    "                          output (never a terminal; the summary then goes to standard\n"
    "                          error)\n"
    "  -f, --force             replace an existing output file\n"
    "      --fix-sizes         if list lines 8 + 9 do not add up to the payload total, pack\n"
    "                          the list with line 8 set to the total and line 9 to 0 (keys\n"
    "                          and line endings kept; the list file itself is not changed)\n"
    "      --level N           zlib's own stream (see below) at this level, 0 (stored) to 9\n"
    "                          (default 9)\n"
    "      --mem-level N       zlib's own stream at this memory level, 1 to 9 (default 9)\n"
    "      --best              a few percent smaller, as few waits: an optimal encoder\n"
    "                          (zopfli) with one Huffman block per MiB; never larger than\n"
    "                          zlib's stream; tiny files that barely shrink are stored.\n"
    "                          About 0.6 MB/s per thread. Not in the Windows builds.\n"
    "      --max-blocks-per-mib N  with --best: allow up to N blocks per MiB (1 to 64,\n"
    "                          default 1; a smaller file its share, at least 1): a slightly\n"
    "                          smaller package for more waits\n"
    "      --iterations N      with --best: optimisation rounds (1 to 100, default 5)\n"
    "  -j, --jobs N            compress on N threads (default: one per processor); the\n"
    "                          package is the same whatever N is\n"
    "      --epoch SECONDS     give every file this time (seconds since 1970-01-01 UTC)\n"
    "                          instead of its own; default: $SOURCE_DATE_EPOCH when set\n"
    "  -q, --quiet             print errors and warnings only (no progress line)\n"
    "  -S, --strict            treat warnings as errors: write nothing, exit status 2\n"
    "\n"
    "By default every file is deflated by zlib (level 9, memory level 9) and its stream\n"
    "rewritten into at most one Huffman-coded block per MiB, so that the bootstrapper's bar\n"
    "waits about once per MiB and once or twice per file, at nearly zlib's speed and size,\n"
    "the same in every build; tiny files that barely shrink are stored. --level and\n"
    "--mem-level give zlib's own streams, ending a block every 16 or 32 thousand symbols.\n"
    "\n"
    "Support files are taken from DIR under the names the bootstrapper reads from list lines\n"
    "11 on: the second comma-separated field of each value, cut at its first space.\n"
    "Each file header records the source's creation, last access and last write times and\n"
    "the attribute read-only (file without write permission) or archive (any other file).\n"
    "With --epoch or SOURCE_DATE_EPOCH all three times are that moment, so that the same\n"
    "inputs give a byte-identical package.\n"
    "The list is read as the bootstrapper reads it: whatever would stop the bootstrapper or\n"
    "break the installation is refused, naming the line.\n"
    "The package is written to a temporary file (.datapack-*.tmp) beside OUTPUT and renamed\n"
    "when complete; an existing OUTPUT is only replaced with --force. OUTPUT must be a\n"
    "regular file: a device, FIFO, socket or folder is refused, and so is one of the inputs\n"
    "under another name, before anything is written. A symbolic link is followed and the\n"
    "file it leads to replaced. Temporary files that an ended run left behind (killed, for\n"
    "example) are removed.\n"
    "Warnings: a setup program or uninstaller that is empty or does not start with \"MZ\",\n"
    "a list with bytes above 0x7F or lines 8 + 9 adding up past 4 GiB, a name cut at a\n"
    "space (the bootstrapper keeps what comes before it), sizes that do not add up, a\n"
    "support file named like the uninstaller.\n"
    "With -o - the package is written to standard output as it is made (with --strict\n"
    "through a temporary file, so that a warning still means nothing written).\n"
    "An entry whose stored and inflated sizes reach 2 GiB together is refused (exit status\n"
    "2, nothing written): setup.exe and 'datapack verify' call it a corrupt package.\n"
    "Exit status: 0 done, 1 usage error, OUTPUT exists or is not a regular file or is an\n"
    "input or standard output is a terminal, 2 list refused or a file too large for an\n"
    "entry, 3 I/O error (with the system's reason).\n";

namespace {

using namespace create;

// The name that writing `output` replaces: `output` itself, or where its chain of symbolic
// links ends, so that a link to a package is kept and the package it points to replaced.
bool FollowLinks(const fs::path& output, fs::path& target, std::string& error) {
  target = output;
  std::error_code ec;
  for (int hops = 0; hops < 40; ++hops) {
    if (!fs::is_symlink(fs::symlink_status(target, ec))) return true;
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) {
      error = ec.message();
      return false;
    }
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  error = "too many levels of symbolic links";
  return false;
}

// Refuses, before anything is written, an output that is not a regular file or is one of the
// inputs (tempfiles.h). Sets `target` to the name to replace. Returns kExitOk, or the exit
// status after printing why.
int CheckPackageOutput(Console& console, const CreateRequest& req, const Contents& c,
                       fs::path& target) {
  std::string error;
  if (!FollowLinks(req.output, target, error))
    return Fail(console, kExitUsage, req.out_name, error);
  std::vector<std::pair<fs::path, std::string>> inputs = {
      {c.list.path, "is the list file " + DisplayPath(c.list.path)}};
  for (const Input& in : c.inputs)
    inputs.emplace_back(in.path, "is the same file as the " + std::string(RoleName(in.role)) + " " +
                                     DisplayPath(in.path));
  return CheckOutput(console, req.out_name, req.output, target, req.force,
                     " (the package is written only to one)", inputs);
}

// What writing made, for the summary.
struct WriteStats {
  uint64_t package_size = 0;
  uint32_t reports = 0;  // reports of the entries the bar counts
  size_t kinds[kStreamKinds] = {0};
  size_t more_blocks = 0;  // optimal streams that needed more blocks to beat zlib's
};

// Where the package's bytes go: a file (the temporary beside OUTPUT, or a scratch copy) or
// standard output.
struct PackageSink {
  FILE* file = nullptr;
  std::ostream* stream = nullptr;

  // Returns false with `error` set; "" for standard output, whose failure main reports as
  // "datapack: write error: REASON" when it flushes.
  bool Write(const std::vector<unsigned char>& bytes, std::string& error) {
    if (file) {
      if (fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()) return true;
      error = ErrnoText();
      return false;
    }
    stream->write((const char*)bytes.data(), (std::streamsize)bytes.size());
    error = "";
    return stream->good();
  }
};

// Option `name`, when given, as a number from `low` to `high` into `value`. Returns kExitOk, or
// the usage error it printed.
template <typename T>
int ParseNumberOption(Console& console, const Options& o, const char* name, int64_t low,
                      int64_t high, T& value) {
  int64_t n;
  if (!o.Has(name)) return kExitOk;
  if (!ParseNumber(o.Get(name), low, high, n))
    return UsageError(console, "create",
                      std::string("--") + name + " must be " + std::to_string(low) + " to " +
                          std::to_string(high));
  value = (T)n;
  return kExitOk;
}

int ParseCompression(Console& console, const Options& o, CreateRequest& req) {
  CompressionOptions& c = req.compression;
  if (int code = ParseNumberOption(console, o, "level", 0, 9, c.level)) return code;
  if (int code = ParseNumberOption(console, o, "mem-level", 1, 9, c.mem_level)) return code;
  c.best = o.Has("best");
  c.few_blocks = !c.best && !o.Has("level") && !o.Has("mem-level");
  if ((o.Has("max-blocks-per-mib") || o.Has("iterations")) && !c.best)
    return UsageError(console, "create", "--max-blocks-per-mib and --iterations need --best");
  if (int code = ParseNumberOption(console, o, "max-blocks-per-mib", 1, kMaxBlocksPerPart,
                                   c.blocks_per_mib))
    return code;
  if (int code = ParseNumberOption(console, o, "iterations", 1, kMaxIterations, c.iterations))
    return code;
  std::string error;
  if (c.best && !BestAvailable(&error)) return UsageError(console, "create", error);
  req.threads = DefaultThreads();
  return ParseNumberOption(console, o, "jobs", 1, 256, req.threads);
}

// --epoch, or else SOURCE_DATE_EPOCH: one time for every file.
int ParseEpoch(Console& console, const Options& o, CreateRequest& req) {
  const bool from_option = o.Has("epoch");
  const std::string text = from_option ? o.Get("epoch") : console.source_date_epoch;
  if (!from_option && text.empty()) return kExitOk;
  // From 1601 (the first FILETIME) to the year 30000.
  const std::string what = from_option ? "--epoch" : "SOURCE_DATE_EPOCH";
  int64_t n;
  if (!ParseNumber(text, INT64_MIN / 10, INT64_MAX / 10, n))
    return UsageError(console, "create", what + " must be a whole number of seconds since 1970");
  if (!ParseNumber(text, -11644473600ll, 884541340800ll, n))
    return UsageError(console, "create",
                      what +
                          " must be -11644473600 (1601, the first time a file can hold) "
                          "to 884541340800 (the year 30000)");
  req.fixed_times = true;
  req.epoch_time = FileTimeFromUnix(n, 0);
  return kExitOk;
}

int ParseCreate(const std::vector<std::string>& args, Console& console, CreateRequest& req) {
  static const std::vector<OptionSpec> kSpecs = {
      {"list", 'l', true},        {"setup", 's', true},
      {"uninstaller", 'u', true}, {"files", 'd', true},
      {"kind", 'k', true},        {"output", 'o', true},
      {"force", 'f', false},      {"fix-sizes", 0, false},
      {"level", 0, true},         {"mem-level", 0, true},
      {"epoch", 0, true},         {"quiet", 'q', false},
      {"best", 0, false},         {"max-blocks-per-mib", 0, true},
      {"iterations", 0, true},    {"jobs", 'j', true},
      {"strict", 'S', false}};
  Options o;
  std::string error;
  if (!ParseOptions(args, kSpecs, o, error)) return UsageError(console, "create", error);
  if (!o.operands.empty())
    return UsageError(console, "create", "unexpected operand '" + o.operands[0] + "'");
  for (const char* needed : {"list", "setup", "uninstaller"})
    if (o.Get(needed).empty())
      return UsageError(console, "create", std::string("--") + needed + " FILE is required");
  req.list_arg = o.Get("list");
  req.list_path = PathFromNative(req.list_arg);
  req.setup = PathFromNative(o.Get("setup"));
  req.uninstaller = PathFromNative(o.Get("uninstaller"));
  req.folder = o.Has("files") ? PathFromNative(o.Get("files")) : req.list_path.parent_path();
  if (o.Has("kind")) {
    if (!ParseKind(o.Get("kind"), req.kind))
      return UsageError(console, "create", "--kind must be Instal, Setup or Instalar");
  } else if (!ParseKind(DisplayPath(req.list_path.stem()), req.kind)) {
    return UsageError(console, "create",
                      "--kind is required (the list file is not named Instal.lst, Setup.lst "
                      "or Instalar.lst)");
  }
  if (int code = ParseCompression(console, o, req)) return code;
  if (int code = ParseEpoch(console, o, req)) return code;
  req.force = o.Has("force");
  req.quiet = o.Has("quiet");
  req.strict = o.Has("strict");
  req.fix_sizes = o.Has("fix-sizes");
  if (req.quiet) console.err_is_terminal = false;  // no progress line either
  const std::string output = o.Get("output", PACKAGE_FILE_NAME);
  req.to_stdout = output == "-";
  req.output = PathFromNative(output);
  req.out_name = DisplayPath(req.output);
  if (req.to_stdout && console.out_is_terminal)
    return Fail(console, kExitUsage, "-o -",
                "standard output is a terminal: redirect it to a file or a pipe, or give -o FILE");
  return kExitOk;
}

// Writes the package header and every entry to `sink`. Entries are read and compressed in
// batches of about kBatchBytes, every task of a batch on the threads at once, and written in
// package order: memory stays bounded, and the bytes do not depend on the number of threads.
int WriteEntries(Console& console, const CreateRequest& req, Contents& c, PackageSink& sink,
                 WriteStats& stats) {
  std::string error;
  std::vector<unsigned char> bytes;
  AppendPackageHeader(bytes, req.kind);
  if (!sink.Write(bytes, error)) return Fail(console, kExitIo, req.out_name, error);
  stats.package_size = bytes.size();
  TakeHeader(c.list, req.fixed_times, req.epoch_time);
  ProgressLine progress(console, "creating " + req.out_name, c.source_total);
  const uint64_t kBatchBytes = uint64_t(64) << 20;
  uint64_t done = 0;
  // Warnings for entries too large for the 32-bit bootstrapper, given after the progress line.
  std::vector<std::pair<std::string, std::string>> large_entries;
  for (size_t next = 0; next <= c.inputs.size();) {
    std::vector<std::unique_ptr<EntryWork>> batch;
    std::vector<EntryWork*> works;  // the same, for EncodeAll
    std::vector<Input*> batch_inputs;
    uint64_t batch_bytes = 0;
    size_t steps = 0, step = 0;  // the batch's progress ticks: a task or a finish each
    while (next <= c.inputs.size() && (batch.empty() || batch_bytes < kBatchBytes)) {
      Input& in = next == 0 ? c.list : c.inputs[next - 1];
      if (next > 0) {
        if (!ReadSource(in.path, in.st.size, in.file.data, error))
          return Fail(console, kExitIo, DisplayPath(in.path), error);
        TakeHeader(in, req.fixed_times, req.epoch_time);
      }
      batch_bytes += in.file.data.size();
      batch.emplace_back(new EntryWork(MakePayload(in.file), req.compression, next > 0));
      works.push_back(batch.back().get());
      steps += works.back()->Tasks() + 1;
      in.file.data = std::vector<unsigned char>();
      batch_inputs.push_back(&in);
      ++next;
    }
    EncodeAll(works, req.threads, [&]() { progress.Update(done + batch_bytes * ++step / steps); });
    for (size_t i = 0; i < batch.size(); ++i) {
      const EntryWork& w = *batch[i];
      const std::string shown = DisplayPath(batch_inputs[i]->path);
      if (!w.ok()) return Fail(console, kExitInvalid, shown, w.error());
      const std::string too_large = EntrySizeRefusal(w.stream().size(), w.payload_size());
      if (!too_large.empty()) return Fail(console, kExitInvalid, shown, too_large);
      bytes.clear();
      AppendRecord(bytes, (uint32_t)w.payload_size(), (uint32_t)w.stream().size(), w.stream());
      if (!sink.Write(bytes, error))
        return error.empty() ? kExitIo : Fail(console, kExitIo, req.out_name, error);
      stats.package_size += bytes.size();
      const std::string large = LargeEntryWarning(w.stream().size(), w.payload_size());
      if (!large.empty()) large_entries.emplace_back(shown, large);
      if (batch_inputs[i] != &c.list) stats.reports += w.reports();
      stats.kinds[(int)w.kind()]++;
      if (w.kind() == StreamKind::kOptimal && w.more_blocks()) ++stats.more_blocks;
      batch[i].reset();
    }
    done += batch_bytes;
    progress.Update(done);
  }
  progress.Finish();
  for (const auto& large : large_entries) Warn(console, large.first, large.second);
  return kExitOk;
}

int RefuseForStrict(Console& console, const CreateRequest& req) {
  return Fail(console, kExitInvalid, req.out_name,
              CountOf(console.warnings, "warning") + ": not written, as --strict asks");
}

// Writes the package under a temporary name beside `target` and renames it over `target` when
// complete, so that `target` is never a partial package.
int WriteToFile(Console& console, const CreateRequest& req, Contents& c, const fs::path& target,
                WriteStats& stats) {
  auto write = [&](FILE* f) {
    PackageSink sink;
    sink.file = f;
    return WriteEntries(console, req, c, sink, stats);
  };
  auto ready = [&]() {
    if (req.strict && console.warnings) return RefuseForStrict(console, req);
    const std::string special = SpecialFileKind(target);  // appeared while it was written
    if (!special.empty())
      return Fail(console, kExitUsage, req.out_name, "is " + special + ", not a regular file");
    return int(kExitOk);
  };
  return WriteThroughTemporary(console, req.out_name, target, req.force, write, ready);
}

// Writes the package to standard output as it is made. With --strict it goes through a
// private scratch file first, so that a warning found while compressing (an entry too large
// for the 32-bit bootstrapper) still means nothing written.
int WriteToStandardOutput(Console& console, const CreateRequest& req, Contents& c,
                          WriteStats& stats) {
  UseBinaryMode(stdout);
  PackageSink sink;
  if (!req.strict) {
    sink.stream = &console.out;
    return WriteEntries(console, req, c, sink, stats);
  }
  std::string error;
  sink.file = CreateScratchFile(error);
  if (!sink.file)
    return Fail(console, kExitIo, req.out_name, "cannot create a temporary file: " + error);
  int code = WriteEntries(console, req, c, sink, stats);
  if (code == kExitOk && console.warnings) code = RefuseForStrict(console, req);
  if (code == kExitOk && (fflush(sink.file) != 0 || fseek(sink.file, 0, SEEK_SET) != 0))
    code = Fail(console, kExitIo, req.out_name, ErrnoText());
  std::vector<char> buffer(size_t(1) << 16);
  for (size_t n; code == kExitOk && (n = fread(buffer.data(), 1, buffer.size(), sink.file)) > 0;)
    if (!console.out.write(buffer.data(), (std::streamsize)n)) code = kExitIo;  // main says why
  if (code == kExitOk && ferror(sink.file))
    code = Fail(console, kExitIo, req.out_name, ErrnoText());
  fclose(sink.file);
  return code;
}

// The summary: on standard output, or on standard error when the package went there.
void Report(Console& console, const CreateRequest& req, const Contents& c,
            const WriteStats& stats) {
  if (req.quiet) return;
  std::ostream& out = req.to_stdout ? console.err : console.out;
  const std::string& name = req.out_name;
  out << name << ": " << c.inputs.size() + 1 << " entries, " << stats.package_size
      << " bytes (payload total " << c.payload_total << ", kind " << req.kind << " " << c.base
      << ")\n"
      << name << ": " << ReportsText(stats.reports) << "\n";
  const size_t* kinds = stats.kinds;
  if (req.compression.best)
    out << name << ": streams: " << kinds[(int)StreamKind::kOptimal] << " optimal ("
        << stats.more_blocks << " with more blocks per MiB to stay below zlib's size), "
        << kinds[(int)StreamKind::kZlib] << " zlib (smaller than optimal), "
        << kinds[(int)StreamKind::kStored] << " stored\n";
  if (req.compression.few_blocks)
    out << name << ": streams: " << kinds[(int)StreamKind::kFewBlocks] << " in few blocks, "
        << kinds[(int)StreamKind::kZlib] << " zlib's own (as few blocks and smaller), "
        << kinds[(int)StreamKind::kStored] << " stored\n";
}

}  // namespace

int CommandCreate(const std::vector<std::string>& args, Console& console) {
  CreateRequest req;
  if (int code = ParseCreate(args, console, req)) return code;
  Contents c;
  if (int code = ReadList(console, req, c)) return code;
  if (int code = GatherInputs(console, req, c)) return code;
  fs::path target;
  if (!req.to_stdout)
    if (int code = CheckPackageOutput(console, req, c, target)) return code;
  if (int code = SettleSizes(console, req, c)) return code;
  if (req.strict && console.warnings) return RefuseForStrict(console, req);
  WriteStats stats;
  const int code = req.to_stdout ? WriteToStandardOutput(console, req, c, stats)
                                 : WriteToFile(console, req, c, target, stats);
  if (code != kExitOk) return code;
  Report(console, req, c, stats);
  return kExitOk;
}

}  // namespace datapack
