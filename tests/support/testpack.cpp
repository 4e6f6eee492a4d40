// Packages for the tests, built by the writer `datapack create` uses (package_writer.h: the same
// payloads, entry encoding and records), with the conveniences only tests want.
#include "testpack.h"

#include <string>

namespace datapack {

bool EncodeEntry(const PackedFile& file, const CompressionOptions& options,
                 std::vector<unsigned char>& record, std::string& error, bool counted) {
  if (file.data.size() > (size_t)UINT32_MAX - FILE_HEADER_SIZE) {
    error = "file larger than 4 GiB - 29 bytes: its size does not fit the entry record";
    return false;
  }
  if (!CheckCompressionOptions(options, error)) return false;
  EntryWork work(MakePayload(file), options, counted);
  while (!work.done()) {
    for (size_t i = 0; i < work.Tasks(); ++i) work.RunTask(i);
    work.Finish();
  }
  if (!work.ok()) {
    error = work.error();
    return false;
  }
  if (work.stream().size() > UINT32_MAX) {
    error = "compressed size does not fit the entry record";
    return false;
  }
  record.clear();
  AppendRecord(record, (uint32_t)work.payload_size(), (uint32_t)work.stream().size(),
               work.stream());
  return true;
}

bool BuildPackage(const PackageSpec& plan, std::vector<unsigned char>& out, std::string& error) {
  out.clear();
  if (!CheckCompressionOptions(plan.compression, error)) return false;
  AppendPackageHeader(out, plan.kind, plan.reserved);
  std::vector<unsigned char> record;
  for (uint32_t i = 0; i < FIXED_ENTRIES + plan.support.size(); ++i) {
    const EntryRole role = EntryRoleAt(i);
    const PackedFile* f = role == ROLE_LIST            ? &plan.list
                          : role == ROLE_SETUP_PROGRAM ? &plan.setup_program
                          : role == ROLE_UNINSTALLER   ? &plan.uninstaller
                                                       : &plan.support[i - FIXED_ENTRIES];
    if (!EncodeEntry(*f, plan.compression, record, error, role != ROLE_LIST)) {
      out.clear();
      return false;
    }
    out.insert(out.end(), record.begin(), record.end());
  }
  return true;
}

uint64_t PayloadTotal(const PackageSpec& plan) {
  uint64_t total =
      FILE_HEADER_SIZE * 2ull + plan.setup_program.data.size() + plan.uninstaller.data.size();
  for (const PackedFile& f : plan.support) total += FILE_HEADER_SIZE + f.data.size();
  return total;
}

std::string MakeListFile(uint32_t size1, uint32_t size2, const std::vector<std::string>& names,
                         const char* eol) {
  std::string text;
  for (int i = 1; i <= 7; ++i) text += "Key" + std::to_string(i) + "=" + eol;
  text += "Size1=" + std::to_string(size1) + eol;
  text += "Size2=" + std::to_string(size2) + eol;
  text += "Files=" + std::to_string(names.size()) + eol;
  for (size_t i = 0; i < names.size(); ++i)
    text +=
        "File" + std::to_string(i + 1) + "=" + std::to_string(i + 1) + "," + names[i] + ",0" + eol;
  return text;
}

void CorruptAdler32(std::vector<unsigned char>& stream) {
  if (!stream.empty()) stream.back() ^= 0xFF;
}

}  // namespace datapack
