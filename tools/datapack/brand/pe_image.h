// Portable Executable images as `datapack brand` rewrites them: the resource tree read into a
// flat list and written back as a new resource section, and the image put together again
// around that section. Only the resource section changes; the code and data sections keep
// their bytes and addresses.
//
// What an image must be for ReplaceResources to rewrite it safely:
//
//   headers | section ... section | resource section | [base relocation section]  (end of file)
//
// The resource section is the last one, or followed only by the base relocations (GNU ld's
// layout). Nothing refers to the relocations but the data directory, so they can move to
// make room; any other section after the resources might be referenced from code by address,
// and is refused. Nothing may follow the last section: appended data would be lost, and a
// signature (the certificate table) would no longer match the changed image.
#ifndef DATAPACK_PE_IMAGE_H
#define DATAPACK_PE_IMAGE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace datapack {

using Bytes = std::vector<unsigned char>;

// Little-endian fields of PE images, icons and resources, read and written at an offset or
// appended: every structure brand touches is little-endian.
inline uint16_t Get16(const Bytes& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
inline uint32_t Get32(const Bytes& b, size_t at) {
  return uint32_t(Get16(b, at)) | uint32_t(Get16(b, at + 2)) << 16;
}
inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
inline void Append16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
  Append16(b, v & 0xFFFF);
  Append16(b, v >> 16);
}

// A resource type, name or language: a number, or (when `text` is not empty) a name, kept as
// the UTF-16 code units the image holds.
struct ResourceKey {
  uint32_t id = 0;
  std::u16string text;

  bool operator==(const ResourceKey& o) const { return id == o.id && text == o.text; }
  bool operator<(const ResourceKey& o) const;  // names first (by code unit), then numbers
};

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint32_t language = 0;
  uint32_t codepage = 0;
  Bytes data;
};

// Standard resource types.
enum : uint32_t { kRtIcon = 3, kRtDialog = 5, kRtGroupIcon = 14, kRtVersion = 16 };

// Reads the resource tree whose root is at `root` (an offset into `section`, which is loaded
// at `section_rva`). The tree has the usual three levels (type, name, language); data must
// lie inside the section. Returns false with `error` set on any other shape.
bool ParseResources(const Bytes& section, uint32_t section_rva, uint32_t root,
                    std::vector<Resource>& out, std::string& error);

// A resource section for address `section_rva` holding `resources`: directories, data
// entries, names, then the data, each sorted as the loader's binary search needs. The same
// list always gives the same bytes. Two resources with the same type, name and language are
// the caller's fault (the second is dropped).
Bytes BuildResources(std::vector<Resource> resources, uint32_t section_rva);

// What ReplaceResources needs of an image, read by ReadPeImage.
struct PeImage {
  bool pe32_plus = false;  // PE32+ (64-bit) optional header
  uint16_t machine = 0;
  size_t optional_header = 0;  // file offset
  size_t section_table = 0;    // file offset
  uint16_t section_count = 0;
  uint32_t section_alignment = 0;
  uint32_t file_alignment = 0;
  size_t resource_section = 0;  // index; the one holding the resource root
  uint32_t resource_rva = 0;
  Bytes resources;  // that section's bytes
};

// What ReadPeImage reads an image for: to rewrite it, or only to look at its resources (a
// signed image then is fine, and so is any layout around the resource section).
enum class PeRead { kRewrite, kInspect };

// Checks `file` as an image ReplaceResources can rewrite (the layout above, a resource
// section, no signature) and reads it. Returns false with `error` saying what is wrong, in
// words for a user: a damaged image, a signed one, an unexpected layout. With kInspect, only
// a damaged image or one without resources is refused (signed, unstripped and any layout
// around the resources are fine).
bool ReadPeImage(const Bytes& file, PeImage& image, std::string& error,
                 PeRead purpose = PeRead::kRewrite);

// The image `file` (read as `image`) with its resource section replaced by `section` (built
// for image.resource_rva): the relocations moved after it, the section sizes, the image
// size, the data directory and the checksum updated. Everything before the resource
// section keeps its bytes, the time stamp included.
Bytes ReplaceResources(const Bytes& file, const PeImage& image, const Bytes& section);

// The PE checksum of `file`, the checksum field (at `field`) counted as zero.
uint32_t PeChecksum(const Bytes& file, size_t field);

}  // namespace datapack

#endif
