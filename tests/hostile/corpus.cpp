// The hostile-package corpus; contracts in corpus.h.
#include "corpus.h"

#include <zlib.h>

#include <algorithm>

#include "expected_texts.h"
#include "testpack.h"

namespace hostile {

namespace {

using Bytes = std::vector<unsigned char>;

const uint64_t kTime = 126227808000000000ull;  // 2001-01-01 00:00 UTC as a FILETIME

datapack::PackedFile File(const std::string& data, int n) {
  datapack::PackedFile f;
  f.data.assign(data.begin(), data.end());
  f.created = kTime + n * 864000000000ull;
  f.accessed = f.created + 36000000000ull;
  f.written = f.created + 72000000000ull;
  return f;
}

Bytes Deflate(const Bytes& payload, int level) {
  datapack::CompressionOptions options;
  options.level = level;
  Bytes stream;
  std::string error;
  datapack::CompressPayload(payload.data(), payload.size(), options, stream, error);
  return stream;
}

// A zlib stream that asks for a preset dictionary (FDICT set in its header).
Bytes WithDictionary(const Bytes& payload) {
  z_stream z = {};
  deflateInit(&z, 9);
  static const unsigned char kDict[] = "dictionary";
  deflateSetDictionary(&z, kDict, sizeof kDict - 1);
  Bytes out(deflateBound(&z, payload.size()) + 16);
  z.next_in = const_cast<unsigned char*>(payload.data());
  z.avail_in = static_cast<uInt>(payload.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

uint32_t Total(const Draft& d, size_t program_size) {
  uint32_t total = 28 + program_size + 28 + 11;  // the uninstaller is "uninstaller"
  for (const std::string& s : d.support_data) total += 28 + s.size();
  return total;
}

// The default list for the draft's names, with the given line ending.
std::string List(const Draft& d, const char* eol = "\r\n") {
  return datapack::MakeListFile(1000, 0, d.support_names, eol);
}

// Replaces the value of list line `line` (1-based) of a CR LF list with `value`.
void SetValue(Draft& d, int line, const std::string& value) {
  size_t begin = 0;
  for (int i = 1; i < line; ++i) begin = d.list.find("\r\n", begin) + 2;
  size_t end = d.list.find("\r\n", begin);
  size_t eq = d.list.find('=', begin);
  d.list.replace(eq + 1, end - eq - 1, value);
}

// Replaces the whole of list line `line` (without its ending).
void SetLine(Draft& d, int line, const std::string& text) {
  size_t begin = 0;
  for (int i = 1; i < line; ++i) begin = d.list.find("\r\n", begin) + 2;
  d.list.replace(begin, d.list.find("\r\n", begin) - begin, text);
}

// The second support file gets `name` (its list line's value is "2,<name>,0").
void SecondName(Draft& d, const std::string& name) {
  d.support_names[1] = name;
  d.list = List(d);
}

void Tamper(Draft& d, size_t entry, std::function<void(Record&)> f) {
  d.tamper = [entry, f](size_t i, Record& r) {
    if (i == entry) f(r);
  };
}

// Cuts the package `offset` bytes into the record of `entry`; offset < 0 counts from the
// record's end.
void Cut(Draft& d, size_t entry, long offset) {
  d.finish = [entry, offset](Bytes& bytes, const std::vector<size_t>& records) {
    size_t end = entry + 1 < records.size() ? records[entry + 1] : bytes.size();
    bytes.resize(offset >= 0 ? records[entry] + offset : end + offset);
  };
}

void CutAt(Draft& d, size_t size) {
  d.finish = [size](Bytes& bytes, const std::vector<size_t>&) { bytes.resize(size); };
}

const char* EntryName(size_t entry) {
  switch (entry) {
    case kListEntry: return "List";
    case kProgramEntry: return "Program";
    case kUninstallerEntry: return "Uninstaller";
    default: return "Support";
  }
}

// What a failure in `entry` leaves: the setup program once it was unpacked, the uninstaller
// once it was written.
int LeavesAfterFailureIn(size_t entry) {
  if (entry <= kProgramEntry) return kNothing;
  if (entry == kUninstallerEntry) return kProgram;
  return kProgram | kUninstaller;
}

Case Refused(const std::string& name, Verdict v, int leaves, std::function<void(Draft&)> f) {
  return Case{name, v, leaves, "", {}, std::move(f)};
}

Case Accepted(const std::string& name, std::vector<std::string> unpacked,
              std::function<void(Draft&)> f) {
  return Case{name, Verdict::kAccepted, kUninstaller, "", std::move(unpacked), std::move(f)};
}

const std::vector<std::string> kAllUnpacked = {"Setup.lst", "Setup1.exe", "one.txt", "two.txt"};

std::vector<Case> MakeCases() {
  std::vector<Case> c;
  const Verdict kPkg = Verdict::kCorruptPackage, kList = Verdict::kCorruptList;

  // ---- The package header: every length short of 4 bytes, and bad values.
  for (size_t n = 0; n < 4; ++n) {
    c.push_back(
        Refused("HeaderCutAt" + std::to_string(n), kPkg, kNothing, [n](Draft& d) { CutAt(d, n); }));
  }
  c.push_back(Refused("HeaderOnly", kPkg, kNothing, [](Draft& d) { CutAt(d, 4); }));
  c.push_back(Refused("BadSignature", kPkg, kNothing, [](Draft& d) {
    d.finish = [](Bytes& b, const std::vector<size_t>&) { std::swap(b[0], b[1]); };
  }));
  for (int kind : {0, 4, 255}) {
    c.push_back(Refused("KindByte" + std::to_string(kind), kPkg, kNothing,
                        [kind](Draft& d) { d.kind = kind; }));
  }

  // ---- Entry records cut short in every field, in every kind of entry: inside and after the
  // inflated size, inside the stored size, half-way through the stream, and just before the
  // stream's Adler-32 (the missing bytes read as zeros and fail the check).
  for (size_t e : {size_t(kListEntry), size_t(kProgramEntry), size_t(kUninstallerEntry),
                   size_t(kFirstSupportEntry + 1)}) {
    const std::string who = EntryName(e);
    for (long at : {0L, 2L, 4L, 6L}) {
      if (e == kListEntry && at == 0) continue;  // HeaderOnly
      c.push_back(Refused(who + "RecordCutAt" + std::to_string(at), kPkg, LeavesAfterFailureIn(e),
                          [e, at](Draft& d) { Cut(d, e, at); }));
    }
    c.push_back(Refused(who + "StreamCutHalfway", kPkg, LeavesAfterFailureIn(e), [e](Draft& d) {
      d.finish = [e](Bytes& b, const std::vector<size_t>& r) {
        size_t end = e + 1 < r.size() ? r[e + 1] : b.size();
        b.resize(r[e] + 8 + (end - r[e] - 8) / 2);
      };
    }));
    c.push_back(Refused(who + "StreamCutBeforeAdler32", kPkg, LeavesAfterFailureIn(e),
                        [e](Draft& d) { Cut(d, e, -4); }));
  }

  // ---- Sizes that lie.
  c.push_back(Refused("ListDeclares0xFFFFFFFF", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kListEntry, [](Record& r) { r.declared = 0xFFFFFFFFu; });
  }));
  c.push_back(Refused("ProgramDeclares0xFFFFFFF0", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kProgramEntry, [](Record& r) { r.declared = 0xFFFFFFF0u; });
  }));
  // A stream of a few dozen bytes whose record claims 4 GiB of them.
  c.push_back(Refused("ListTinyStreamClaims4GiB", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kListEntry, [](Record& r) { r.stored = 0xFFFFFFFFu; });
  }));
  c.push_back(
      Refused("LastSupportTinyStreamClaims4GiB", kPkg, kProgram | kUninstaller, [](Draft& d) {
        Tamper(d, kFirstSupportEntry + 1, [](Record& r) { r.stored = 0xFFFFFFFFu; });
      }));
  c.push_back(Refused("ProgramOutputOneByteOverDeclared", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kProgramEntry, [](Record& r) { r.declared = r.payload.size() - 1; });
  }));
  c.push_back(Refused("ListDeclaresZero", kPkg, kNothing,
                      [](Draft& d) { Tamper(d, kListEntry, [](Record& r) { r.declared = 0; }); }));
  c.push_back(Refused("UninstallerStoredZero", kPkg, kProgram, [](Draft& d) {
    Tamper(d, kUninstallerEntry, [](Record& r) {
      r.stream.clear();
      r.stored = 0;
    });
  }));
  // Stored and inflated buffers that a 32-bit program can never hold together (each size
  // alone below 2 GiB): refused before anything is allocated.
  c.push_back(Refused("ProgramSizesAddUpTo2GiB", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kProgramEntry, [](Record& r) { r.declared = 0x80000000u - r.stored; });
  }));
  // The last entry's stream stops early inside a Huffman block whose shortest code is a
  // 258-byte copy: the missing stored bytes read as zeros, and every two bits of them make
  // another copy, until the declared 32 MiB are exceeded.
  c.push_back(
      Refused("SupportZeroTailOutgrowsDeclared", kPkg, kProgram | kUninstaller, [](Draft& d) {
        Tamper(d, kFirstSupportEntry + 1, [](Record& r) {
          r.stream = Deflate(Bytes(1 << 20, 'a'), 9);
          r.stream.resize(20);
          r.declared = 32u << 20;
          r.stored = 64u << 20;
        });
      }));
  // Found by fuzzing: the list does not inflate; listing it once went on to inflate 1.7 GB
  // from the 34 bytes of the second entry's stream.
  c.push_back(Refused("FuzzFindingZeroTailBomb", kPkg, kNothing, [](Draft& d) {
    d.finish = [](Bytes& b, const std::vector<size_t>&) {
      static const char kHex[] =
          "5a4b0002960000005300000078da5360c00dbc532b0d6d79b98094118432865026"
          "10ca14429941287320159ca7646a686b686202611ad91a5958f072b965e6a416db"
          "1ae6219a87681ea27988e6809411843386502610ca14429941287320159c59956a"
          "686b686278da75c8b10d80300c044046f9d59cc8a0280622db144c6f8aafb9f2aa"
          "aa87010203";
      b.clear();
      for (size_t i = 0; kHex[i]; i += 2)
        b.push_back(static_cast<unsigned char>(std::stoi(std::string(kHex + i, 2), nullptr, 16)));
    };
  }));
  // The next record starts inside this entry's stream.
  c.push_back(Refused("ListStoredShorterThanStream", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kListEntry, [](Record& r) { r.stored = r.stream.size() - 5; });
  }));

  // ---- Streams that do not inflate to a good payload.
  c.push_back(Refused("ListBadAdler32", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kListEntry, [](Record& r) { datapack::CorruptAdler32(r.stream); });
  }));
  c.push_back(Refused("SupportBadAdler32", kPkg, kProgram | kUninstaller, [](Draft& d) {
    Tamper(d, kFirstSupportEntry + 1, [](Record& r) { datapack::CorruptAdler32(r.stream); });
  }));
  c.push_back(Refused("ProgramPresetDictionary", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kProgramEntry, [](Record& r) { r.stream = WithDictionary(r.payload); });
  }));
  c.push_back(Refused("UninstallerNotZlib", kPkg, kProgram, [](Draft& d) {
    Tamper(d, kUninstallerEntry, [](Record& r) {
      for (size_t i = 0; i < r.stream.size(); ++i) r.stream[i] = static_cast<unsigned char>(i * 37);
    });
  }));
  // Payloads shorter than their 28-byte file header: none at all, and one byte short.
  c.push_back(Refused("ListPayloadEmpty", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kListEntry, [](Record& r) {
      r.payload.clear();
      r.stream = Deflate(r.payload, 9);
      r.declared = 0;
    });
  }));
  c.push_back(Refused("ProgramPayload27Bytes", kPkg, kNothing, [](Draft& d) {
    Tamper(d, kProgramEntry, [](Record& r) {
      r.payload.resize(27);
      r.stream = Deflate(r.payload, 9);
      r.declared = 27;
    });
  }));

  // ---- List files the bootstrapper cannot read. All fail before the setup program is
  // unpacked; the list file itself is removed again.
  auto list_case = [&](const std::string& name, std::function<void(Draft&)> f) {
    c.push_back(Refused(name, kList, kNothing, std::move(f)));
  };
  list_case("ListEmpty", [](Draft& d) { d.list.clear(); });
  list_case("ListLastLineUnterminated", [](Draft& d) { d.list.resize(d.list.size() - 2); });
  list_case("ListFirstLineWithoutEquals", [](Draft& d) { SetLine(d, 1, "Key1"); });
  list_case("ListCountLineWithoutEquals", [](Draft& d) { SetLine(d, 10, "Files 2"); });
  list_case("ListEmptyLineAmongFirstTen", [](Draft& d) { SetLine(d, 5, ""); });
  // CR CR ends two lines: the second one is empty.
  list_case("ListDoubleCr", [](Draft& d) { d.list = List(d, "\r\r"); });
  list_case("ListNulBeforeEquals", [](Draft& d) { SetLine(d, 2, std::string("Key2\0=x", 7)); });
  list_case("ListLine520Chars", [](Draft& d) { SetLine(d, 2, "K=" + std::string(518, 'v')); });
  list_case("ListLine100000Chars", [](Draft& d) { SetLine(d, 3, "K=" + std::string(99998, 'v')); });
  list_case("ListSupportLine520Chars",
            [](Draft& d) { SetValue(d, 12, "2,two.txt," + std::string(520 - 16, '0')); });
  list_case("ListCountZero", [](Draft& d) { SetValue(d, 10, "0"); });
  list_case("ListCountWithoutDigits", [](Draft& d) { SetValue(d, 10, "many"); });
  list_case("ListCountOneMoreThanNamed", [](Draft& d) { SetValue(d, 10, "3"); });
  // The table cannot be allocated, or the names run out long before: corrupt either way.
  list_case("ListCountInt32Max", [](Draft& d) { SetValue(d, 10, "2147483647"); });
  list_case("KindInstalarListCorrupt", [](Draft& d) {
    d.kind = 3;
    SetLine(d, 4, "Key4");
  });
  // Names that would leave the working folder, open a device, or do not fit the file table.
  const std::pair<const char*, const char*> kUnsafe[] = {
      {"DotDotBackslash", "..\\x.dll"},
      {"DriveRelative", "C:x"},
      {"ForwardSlash", "a/b"},
      {"Backslash", "a\\b"},
      {"RootedBackslash", "\\x.dll"},
      {"DotDot", ".."},
      {"Dot", "."},
      {"Of26Chars", "abcdefghijklmnopqrstuv.txt"},
      // Device names: Windows opens the device in any folder, whatever the extension.
      {"DeviceNul", "NUL"},
      {"DeviceLowerCase", "aux"},
      {"DeviceWithExtension", "Com1.bin"},
      {"DeviceTrailingDot", "lpt3."}};
  for (const auto& u : kUnsafe) {
    std::string bad = u.second;
    list_case(std::string("SupportName") + u.first, [bad](Draft& d) { SecondName(d, bad); });
  }
  list_case("ListFirstField28Chars",
            [](Draft& d) { SetValue(d, 11, std::string(28, '1') + ",one.txt,0"); });
  // The 28-character limit holds for the second field before its cut at the space.
  list_case("ListSecondField28CharsBeforeSpace",
            [](Draft& d) { SetValue(d, 12, "2,two.txt " + std::string(20, 'x') + ",0"); });

  // ---- Names the list allows but the file system refuses: the entry inflates, its file
  // cannot be created.
  const std::pair<const char*, const char*> kUncreatable[] = {
      {"SupportNameEmpty", ""},
      {"SupportNameWithStar", "a*b.txt"},
      {"SupportNameWithQuestionMark", "a?b.txt"}};
  for (const auto& u : kUncreatable) {
    std::string bad = u.second;
    c.push_back(
        Case{u.first, Verdict::kCannotCopy, kProgram | kUninstaller, bad, {}, [bad](Draft& d) {
               d.support_names[1] = bad;
               // No comma at all gives the empty name.
               d.list = List(d);
               if (bad.empty()) SetValue(d, 12, "2");
             }});
  }

  // ---- A list claiming 4 GiB on a 1 MiB disk.
  c.push_back(Refused("ListClaims4GiBOnSmallDisk", Verdict::kNoSpace, kNothing, [](Draft& d) {
    SetValue(d, 8, "4294967295");
    SetValue(d, 9, "0");
  }));

  // ---- At the limits, accepted.
  c.push_back(Accepted("ListCrOnly", kAllUnpacked, [](Draft& d) { d.list = List(d, "\r"); }));
  c.push_back(Accepted("ListLfCr", kAllUnpacked, [](Draft& d) { d.list = List(d, "\n\r"); }));
  c.push_back(Accepted("ListLfOnly", kAllUnpacked, [](Draft& d) { d.list = List(d, "\n"); }));
  // No support files: the two support entries in the package are never read.
  c.push_back(Accepted("ListCountMinusOne", {"Setup.lst", "Setup1.exe"},
                       [](Draft& d) { SetValue(d, 10, "-1"); }));
  c.push_back(Accepted("ListLines519Chars", kAllUnpacked, [](Draft& d) {
    SetLine(d, 1, "K=" + std::string(517, 'v'));
    SetValue(d, 12, "2,two.txt," + std::string(519 - 16, '0'));
  }));
  c.push_back(Accepted("SupportName25Chars",
                       {"Setup.lst", "Setup1.exe", "one.txt", "abcdefghijklmnopqrstu.txt"},
                       [](Draft& d) { SecondName(d, "abcdefghijklmnopqrstu.txt"); }));
  c.push_back(Accepted("ListFields27Chars", kAllUnpacked, [](Draft& d) {
    SetValue(d, 11, std::string(27, '1') + ",one.txt,0");
    SetValue(d, 12, "2,two.txt " + std::string(19, 'x') + ",0");
  }));
  // Junk after the stream inside the stored size, a declared size larger than the payload,
  // stored deflate blocks, an empty file (a payload of exactly 28 bytes).
  c.push_back(Accepted("EntriesWithSlack", kAllUnpacked, [](Draft& d) {
    d.support_data[0].clear();
    d.tamper = [](size_t i, Record& r) {
      if (i == kProgramEntry) r.declared += 1000;
      if (i == kUninstallerEntry) r.stream = Deflate(r.payload, 0);
      if (i == kListEntry || i == kFirstSupportEntry) {
        r.stream.insert(r.stream.end(), 16, 0xA5);
        r.stored = r.stream.size();
      }
    };
  }));
  // The last entry's stored size runs 1000 bytes past the end of the file, but its stream is
  // complete in what is there.
  c.push_back(Accepted("LastEntryStoredPastEnd", kAllUnpacked, [](Draft& d) {
    Tamper(d, kFirstSupportEntry + 1, [](Record& r) { r.stored += 1000; });
  }));
  return c;
}

}  // namespace

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = MakeCases();
  return cases;
}

std::vector<unsigned char> BuildPackage(const Case& c, const std::string& program) {
  Draft d;
  d.support_names = {"one.txt", "two.txt"};
  d.support_data = {"one", "two"};
  d.list = List(d);
  if (c.prepare) c.prepare(d);
  // Sizes add up unless the case set its own (the bar then ends at 100 %).
  const size_t size1 = d.list.find("Size1=1000");
  if (size1 != std::string::npos && size1 + 10 < d.list.size() &&
      (d.list[size1 + 10] == '\r' || d.list[size1 + 10] == '\n')) {
    d.list.replace(size1 + 6, 4, std::to_string(Total(d, program.size())));
  }

  std::vector<datapack::PackedFile> files = {File(d.list, 1), File(program, 2),
                                             File("uninstaller", 3)};
  for (size_t i = 0; i < d.support_data.size(); ++i)
    files.push_back(File(d.support_data[i], 4 + static_cast<int>(i)));

  Bytes out;
  datapack::AppendPackageHeader(out, d.kind);
  std::vector<size_t> records;
  for (size_t i = 0; i < files.size(); ++i) {
    records.push_back(out.size());
    Record r;
    r.payload = datapack::MakePayload(files[i]);
    r.stream = Deflate(r.payload, i == kProgramEntry ? 1 : 9);
    r.declared = static_cast<uint32_t>(r.payload.size());
    const size_t natural = r.stream.size();
    r.stored = static_cast<uint32_t>(natural);
    if (d.tamper) {
      d.tamper(i, r);
      // A tamper step that replaced the stream without setting its size gets the new size.
      if (r.stored == natural && r.stream.size() != natural) r.stored = r.stream.size();
    }
    datapack::AppendRecord(out, r.declared, r.stored, r.stream);
  }
  if (d.finish) d.finish(out, records);
  return out;
}

const char* VerdictId(Verdict v) {
  switch (v) {
    case Verdict::kAccepted: return "accepted";
    case Verdict::kCorruptPackage: return "corrupt-package";
    case Verdict::kCorruptList: return "corrupt-list";
    case Verdict::kCannotCopy: return "could-not-copy";
    case Verdict::kNoSpace: return "no-space";
  }
  return "?";
}

std::string Message(const Case& c) {
  switch (c.verdict) {
    case Verdict::kAccepted: return "";
    case Verdict::kCorruptPackage: return kCorruptText;
    case Verdict::kCorruptList: return kListCorruptText;
    case Verdict::kCannotCopy: return std::string(kCannotCopyPrefix) + "%TEMP%" + c.copy_name;
    case Verdict::kNoSpace: return kNoSpaceText;
  }
  return "";
}

int VerifyExit(const Case& c) {
  return c.verdict == Verdict::kAccepted || c.verdict == Verdict::kNoSpace ? 0 : 2;
}

std::vector<std::string> LeftInWorkingFolder(const Case& c) {
  if (c.verdict != Verdict::kAccepted && (c.leaves & kProgram)) return {"Setup1.exe"};
  return {};
}

}  // namespace hostile
