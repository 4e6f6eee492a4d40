// Writing the package's records: the other half of package.cpp's readers, on the same
// format.h offsets. Only datapack and the tests write; setup.exe links none of this.
#include "package.h"

void WritePackageHeader(unsigned char out[PACKAGE_HEADER_SIZE], int kind, unsigned char reserved) {
  out[0] = (unsigned char)PACKAGE_SIGNATURE;
  out[1] = (unsigned char)(PACKAGE_SIGNATURE >> 8);
  out[PACKAGE_RESERVED_AT] = reserved;
  out[PACKAGE_KIND_AT] = (unsigned char)kind;
}

void WriteEntryRecord(unsigned char out[ENTRY_RECORD_SIZE], uint32_t declared, uint32_t stored) {
  PutLE32(out + RECORD_DECLARED_AT, declared);
  PutLE32(out + RECORD_STORED_AT, stored);
}

void WriteFileHeader(unsigned char out[FILE_HEADER_SIZE], const struct FileHeader* h) {
  PutLE32(out + HEADER_ATTRIBUTES_AT, h->attributes);
  PutLE64(out + HEADER_CREATED_AT, h->created);
  PutLE64(out + HEADER_ACCESSED_AT, h->accessed);
  PutLE64(out + HEADER_WRITTEN_AT, h->written);
}
