#include "pe_image.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace datapack {

namespace {

uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Offsets in the image headers.
const size_t kLfanew = 0x3C;     // DOS header: file offset of "PE\0\0"
const size_t kCoffSections = 2;  // from the COFF header
const size_t kCoffSymbols = 8;
const size_t kCoffOptionalSize = 16;
const size_t kOptSizeOfInitializedData = 8;  // from the optional header
const size_t kOptSectionAlignment = 32;
const size_t kOptFileAlignment = 36;
const size_t kOptSizeOfImage = 56;
const size_t kOptCheckSum = 64;
const size_t kSecVirtualSize = 8;  // in a 40-byte section header
const size_t kSecVirtualAddress = 12;
const size_t kSecRawSize = 16;
const size_t kSecRawPointer = 20;
const size_t kSectionHeaderSize = 40;
const uint32_t kScnInitializedData = 0x40;
enum { kDirResource = 2, kDirSecurity = 4, kDirBaseReloc = 5 };

size_t DirectoryCountField(bool plus) { return plus ? 108 : 92; }
size_t Directory(bool plus, int index) { return (plus ? 112 : 96) + size_t(index) * 8; }

size_t SectionHeader(const PeImage& pe, size_t i) {
  return pe.section_table + i * kSectionHeaderSize;
}

// ---- Reading the resource tree

const size_t kMaxResources = 65536;

struct TreeReader {
  const Bytes& s;
  uint32_t rva;
  std::vector<Resource>& out;
  std::string& error;
  size_t visited = 0;  // directory entries read, shared subdirectories counted each time

  bool Fail(const std::string& why) {
    error = "damaged resource section: " + why;
    return false;
  }
  bool Key(uint32_t field, ResourceKey& key) {
    key = ResourceKey();
    if (!(field & 0x80000000u)) {
      key.id = field;
      return true;
    }
    size_t at = field & 0x7FFFFFFFu;
    if (at + 2 > s.size()) return Fail("a name lies outside it");
    size_t n = Get16(s, at);
    if (n == 0 || at + 2 + 2 * n > s.size()) return Fail("a name lies outside it");
    for (size_t i = 0; i < n; ++i) key.text.push_back(char16_t(Get16(s, at + 2 + 2 * i)));
    return true;
  }
  // level 0: types, 1: names, 2: languages (whose entries point at data).
  bool Directory(size_t at, int level, Resource path) {
    if (at + 16 > s.size()) return Fail("a directory lies outside it");
    size_t count = size_t(Get16(s, at + 12)) + Get16(s, at + 14);
    if (at + 16 + count * 8 > s.size()) return Fail("a directory lies outside it");
    for (size_t i = 0; i < count; ++i) {
      // Directories that share subdirectories could make the walk endless in all but name.
      if (++visited > 4 * kMaxResources) return Fail("too many directory entries");
      size_t e = at + 16 + i * 8;
      uint32_t name = Get32(s, e), target = Get32(s, e + 4);
      ResourceKey key;
      if (!Key(name, key)) return false;
      if (level == 0) path.type = key;
      if (level == 1) path.name = key;
      if (level == 2) {
        if (!key.text.empty()) return Fail("a language has a name");
        path.language = key.id;
      }
      bool subdirectory = (target & 0x80000000u) != 0;
      if (subdirectory != (level < 2)) return Fail("the tree is not three levels deep");
      if (subdirectory) {
        // Each level's directories lie after its parent's entry, so a loop cannot recur
        // endlessly (the level count ends it anyway).
        if (!Directory(target & 0x7FFFFFFFu, level + 1, path)) return false;
        continue;
      }
      if (size_t(target) + 16 > s.size()) return Fail("a data entry lies outside it");
      uint32_t data_rva = Get32(s, target), size = Get32(s, target + 4);
      if (data_rva < rva || data_rva - rva > s.size() || size > s.size() - (data_rva - rva))
        return Fail("resource data lies outside it");
      path.codepage = Get32(s, target + 8);
      path.data.assign(s.begin() + (data_rva - rva), s.begin() + (data_rva - rva + size));
      out.push_back(path);
    }
    return true;
  }
};

// ---- Writing it

struct Level {
  ResourceKey key;
  std::vector<size_t> children;  // indices into the next level (or into resources at the last)
};

}  // namespace

bool ResourceKey::operator<(const ResourceKey& o) const {
  bool named = !text.empty(), other_named = !o.text.empty();
  if (named != other_named) return named;
  return named ? text < o.text : id < o.id;
}

bool ParseResources(const Bytes& section, uint32_t section_rva, uint32_t root,
                    std::vector<Resource>& out, std::string& error) {
  out.clear();
  TreeReader reader{section, section_rva, out, error};
  return reader.Directory(root, 0, Resource());
}

Bytes BuildResources(std::vector<Resource> resources, uint32_t section_rva) {
  auto key = [](const Resource& r) { return std::tie(r.type, r.name, r.language); };
  std::sort(resources.begin(), resources.end(),
            [&](const Resource& a, const Resource& b) { return key(a) < key(b); });
  resources.erase(
      std::unique(resources.begin(), resources.end(),
                  [&](const Resource& a, const Resource& b) { return key(a) == key(b); }),
      resources.end());
  // The tree: types, then each type's names, then each name's languages.
  std::vector<Level> types, names, langs;
  for (size_t i = 0; i < resources.size(); ++i) {
    const Resource& r = resources[i];
    if (types.empty() || !(types.back().key == r.type)) {
      types.push_back({r.type, {}});
      names.push_back({r.name, {}});
      types.back().children.push_back(names.size() - 1);
    } else if (!(names.back().key == r.name)) {
      names.push_back({r.name, {}});
      types.back().children.push_back(names.size() - 1);
    }
    ResourceKey lang;
    lang.id = r.language;
    langs.push_back({lang, {i}});
    names.back().children.push_back(langs.size() - 1);
  }
  // Layout: the root, the type directories, the name directories (16 bytes + 8 per entry
  // each), the data entries (16 bytes each), the names, then the data, 8-aligned.
  auto dir_size = [](const Level& l) { return uint32_t(16 + 8 * l.children.size()); };
  std::vector<uint32_t> type_at, name_at;
  uint32_t at = 16 + 8 * uint32_t(types.size());
  for (const Level& t : types) type_at.push_back(at), at += dir_size(t);
  for (const Level& n : names) name_at.push_back(at), at += dir_size(n);
  const uint32_t entries_at = at;
  at += 16 * uint32_t(langs.size());
  std::map<std::u16string, uint32_t> text_at;
  for (const std::vector<Level>* level : {&types, &names}) {
    for (const Level& l : *level) {
      if (l.key.text.empty() || text_at.count(l.key.text)) continue;
      text_at[l.key.text] = at;
      at += 2 + 2 * uint32_t(l.key.text.size());
    }
  }
  std::vector<uint32_t> data_at;
  for (const Resource& r : resources) {
    at = AlignUp(at, 8);
    data_at.push_back(at);
    at += uint32_t(r.data.size());
  }

  Bytes out;
  out.reserve(at);
  auto directory = [&](const std::vector<Level>& entries, const std::vector<size_t>& which,
                       auto target) {
    size_t named = 0;
    for (size_t i : which) named += !entries[i].key.text.empty();
    Append32(out, 0);  // characteristics
    Append32(out, 0);  // time stamp: none, so that the bytes depend on the resources alone
    Append32(out, 0);  // version
    Append16(out, uint32_t(named));
    Append16(out, uint32_t(which.size() - named));
    for (size_t i : which) {
      const ResourceKey& k = entries[i].key;
      Append32(out, k.text.empty() ? k.id : 0x80000000u | text_at[k.text]);
      Append32(out, target(i));
    }
  };
  std::vector<size_t> all_types(types.size());
  for (size_t i = 0; i < types.size(); ++i) all_types[i] = i;
  directory(types, all_types, [&](size_t i) { return 0x80000000u | type_at[i]; });
  for (const Level& t : types)
    directory(names, t.children, [&](size_t i) { return 0x80000000u | name_at[i]; });
  for (const Level& n : names)
    directory(langs, n.children, [&](size_t i) { return entries_at + 16 * uint32_t(i); });
  for (const Level& l : langs) {
    const Resource& r = resources[l.children[0]];
    Append32(out, section_rva + data_at[l.children[0]]);
    Append32(out, uint32_t(r.data.size()));
    Append32(out, r.codepage);
    Append32(out, 0);
  }
  for (const auto& t : text_at) {
    Append16(out, uint32_t(t.first.size()));
    for (char16_t c : t.first) Append16(out, c);
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    out.resize(data_at[i], 0);
    out.insert(out.end(), resources[i].data.begin(), resources[i].data.end());
  }
  return out;
}

bool ReadPeImage(const Bytes& file, PeImage& pe, std::string& error, PeRead purpose) {
  const bool rewrite = purpose == PeRead::kRewrite;
  pe = PeImage();
  auto damaged = [&](const std::string& why) {
    error = "not a valid Windows program (" + why + ")";
    return false;
  };
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return damaged("no MZ header");
  size_t pe_at = Get32(file, kLfanew);
  if (pe_at > file.size() || file.size() - pe_at < 24 + 96) return damaged("cut short");
  if (Get32(file, pe_at) != 0x00004550u) return damaged("no PE signature");
  const size_t coff = pe_at + 4;
  pe.machine = Get16(file, coff);
  pe.section_count = Get16(file, coff + kCoffSections);
  const size_t optional_size = Get16(file, coff + kCoffOptionalSize);
  pe.optional_header = coff + 20;
  pe.section_table = pe.optional_header + optional_size;
  uint16_t magic = Get16(file, pe.optional_header);
  if (magic != 0x10B && magic != 0x20B) return damaged("unknown optional header");
  pe.pe32_plus = magic == 0x20B;
  const bool plus = pe.pe32_plus;
  if (optional_size < Directory(plus, kDirBaseReloc + 1) ||
      pe.section_table + pe.section_count * kSectionHeaderSize > file.size())
    return damaged("cut short");
  if (Get32(file, pe.optional_header + DirectoryCountField(plus)) <= kDirBaseReloc)
    return damaged("too few data directories");
  if (rewrite && Get32(file, coff + kCoffSymbols) != 0)
    return damaged("it carries a symbol table: brand the stripped release");
  const size_t opt = pe.optional_header;
  pe.section_alignment = Get32(file, opt + kOptSectionAlignment);
  pe.file_alignment = Get32(file, opt + kOptFileAlignment);
  auto power_of_two = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (!power_of_two(pe.file_alignment) || !power_of_two(pe.section_alignment) ||
      pe.file_alignment > pe.section_alignment)
    return damaged("bad alignment");

  if (rewrite && (Get32(file, opt + Directory(plus, kDirSecurity)) != 0 ||
                  Get32(file, opt + Directory(plus, kDirSecurity) + 4) != 0)) {
    error =
        "it is signed, and rewriting it would break the signature: brand the unsigned "
        "release, then sign the branded copy";
    return false;
  }
  const uint32_t rsrc_rva = Get32(file, opt + Directory(plus, kDirResource));
  const uint32_t reloc_rva = Get32(file, opt + Directory(plus, kDirBaseReloc));
  if (rsrc_rva == 0) {
    error = "it has no resources: it is not the setup bootstrapper";
    return false;
  }
  // Every section's raw data within the file, in address order, raw data in the same order.
  uint64_t end_of_data = 0;
  bool found = false;
  for (size_t i = 0; i < pe.section_count; ++i) {
    size_t h = SectionHeader(pe, i);
    uint32_t va = Get32(file, h + kSecVirtualAddress), vsize = Get32(file, h + kSecVirtualSize);
    uint32_t raw = Get32(file, h + kSecRawSize), ptr = Get32(file, h + kSecRawPointer);
    if (raw != 0 && (uint64_t(ptr) + raw > file.size() || ptr < end_of_data))
      return damaged("section data outside the file");
    if (raw != 0) end_of_data = uint64_t(ptr) + raw;
    if (i > 0) {
      size_t p = SectionHeader(pe, i - 1);
      if (va < uint64_t(Get32(file, p + kSecVirtualAddress)) + Get32(file, p + kSecVirtualSize))
        return damaged("overlapping sections");
    }
    if (va == rsrc_rva) {
      if (raw == 0 || vsize > raw) return damaged("resource section incomplete");
      pe.resource_section = i;
      pe.resource_rva = va;
      pe.resources.assign(file.begin() + ptr, file.begin() + ptr + std::min(vsize, raw));
      found = true;
    } else if (rewrite && found && !(va == reloc_rva && i + 1 == pe.section_count)) {
      error =
          "its resources are not the last section (only the base relocations may follow "
          "them), so they cannot grow without moving code or data";
      return false;
    }
  }
  if (!found) {
    error = "its resource directory is not at the start of a section";
    return false;
  }
  if (rewrite && end_of_data != file.size()) {
    error = std::to_string(file.size() - end_of_data) +
            " bytes follow its last section (appended data or a signature) and would be lost";
    return false;
  }
  return true;
}

Bytes ReplaceResources(const Bytes& file, const PeImage& pe, const Bytes& section) {
  const bool plus = pe.pe32_plus;
  const size_t opt = pe.optional_header;
  const size_t rh = SectionHeader(pe, pe.resource_section);
  const uint32_t old_raw = Get32(file, rh + kSecRawSize);
  const uint32_t ptr = Get32(file, rh + kSecRawPointer);
  const uint32_t raw = AlignUp(uint32_t(section.size()), pe.file_alignment);

  Bytes out(file.begin(), file.begin() + ptr);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(size_t(ptr) + raw, 0);
  Put32(out, rh + kSecVirtualSize, uint32_t(section.size()));
  Put32(out, rh + kSecRawSize, raw);
  uint32_t next_va = AlignUp(pe.resource_rva + uint32_t(section.size()), pe.section_alignment);
  uint32_t last_end = next_va;
  for (size_t i = pe.resource_section + 1; i < pe.section_count; ++i) {
    // The base relocations (ReadPeImage allows no other section here).
    size_t h = SectionHeader(pe, i);
    uint32_t va = Get32(file, h + kSecVirtualAddress);
    uint32_t vsize = Get32(file, h + kSecVirtualSize);
    uint32_t sraw = Get32(file, h + kSecRawSize), sptr = Get32(file, h + kSecRawPointer);
    size_t dir = opt + Directory(plus, kDirBaseReloc);
    Put32(out, dir, Get32(file, dir) - va + next_va);
    Put32(out, h + kSecVirtualAddress, next_va);
    Put32(out, h + kSecRawPointer, sraw ? uint32_t(out.size()) : 0);
    out.insert(out.end(), file.begin() + sptr, file.begin() + sptr + sraw);
    last_end = next_va + vsize;
    next_va = AlignUp(last_end, pe.section_alignment);
  }
  Put32(out, opt + Directory(plus, kDirResource) + 4, uint32_t(section.size()));
  Put32(out, opt + kOptSizeOfImage, AlignUp(last_end, pe.section_alignment));
  if (Get32(file, rh + 36) & kScnInitializedData)
    Put32(out, opt + kOptSizeOfInitializedData,
          Get32(file, opt + kOptSizeOfInitializedData) - old_raw + raw);
  Put32(out, opt + kOptCheckSum, PeChecksum(out, opt + kOptCheckSum));
  return out;
}

uint32_t PeChecksum(const Bytes& file, size_t field) {
  // 16-bit one's-complement-style sum with the carries folded back, plus the file length.
  uint64_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    if (i >= field && i < field + 4) continue;
    uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + file.size());
}

}  // namespace datapack
