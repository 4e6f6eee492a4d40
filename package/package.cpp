// Package header, entry records and file headers.
#include "package.h"

#include <string.h>

#include "core_memory.h"
#include "inflate_entry.h"  // FailEntry

const char* BaseNameForKind(int kind) {
  switch (kind) {
    case KIND_INSTAL: return "Instal";
    case KIND_SETUP: return "Setup";
    case KIND_INSTALAR: return "Instalar";
    default: return NULL;
  }
}

const char* ProgramStem(const char* base_name) {
  // The Spanish-named packages ship their setup program as Instal1.exe, not Instalar1.exe.
  if (base_name && strcmp(base_name, "Instalar") == 0) return "Instal";
  return base_name;
}

int ReadPackageHeader(struct ByteReader* r, int* kind) {
  unsigned char h[PACKAGE_HEADER_SIZE];
  uint32_t got = 0;
  if (!r->read(r->ctx, h, PACKAGE_HEADER_SIZE, &got) || got < PACKAGE_HEADER_SIZE) return 0;
  if ((h[0] | (h[1] << 8)) != PACKAGE_SIGNATURE) return 0;
  if (!BaseNameForKind(h[PACKAGE_KIND_AT])) return 0;  // the reserved byte is ignored
  *kind = h[PACKAGE_KIND_AT];
  return 1;
}

const char kEntryTooLarge[] =
    "stored and inflated sizes add up to 2 GiB or more: beyond a 32-bit bootstrapper";

// Reads one little-endian u32 of the entry record.
static int ReadRecordField(struct ByteReader* r, struct EntryInfo* info, uint32_t* value) {
  unsigned char b[4];
  uint32_t got = 0;
  if (!r->read(r->ctx, b, 4, &got))
    return FailEntry(info, ENTRY_READ_FAILED, "reading the entry record failed");
  if (got < 4)
    return FailEntry(info, ENTRY_TRUNCATED_RECORD, "package ends inside an entry record");
  *value = GetLE32(b);
  return ENTRY_OK;
}

int ReadEntryRecord(struct ByteReader* r, struct EntryInfo* info) {
  // Field by field, so that a record cut in its second half fails as cut, not as unreadable.
  static_assert(RECORD_DECLARED_AT == 0 && RECORD_STORED_AT == 4, "declared, then stored");
  memset(info, 0, sizeof *info);
  int status = ReadRecordField(r, info, &info->declared);
  if (status == ENTRY_OK) status = ReadRecordField(r, info, &info->stored);
  if (status != ENTRY_OK) return status;
  if (!EntrySizesFit(info->declared, info->stored))
    return FailEntry(info, ENTRY_NO_MEMORY, kEntryTooLarge);
  return ENTRY_OK;
}

int CheckPayloadLength(int status, struct EntryInfo* info) {
  if (status == ENTRY_OK && info->produced < FILE_HEADER_SIZE)
    return FailEntry(info, ENTRY_SHORT_PAYLOAD, "payload is shorter than its 28-byte file header");
  return status;
}

int ReadEntry(struct ByteReader* r, const struct ProgressSink* sink, struct Entry* e) {
  memset(e, 0, sizeof *e);
  int status = ReadEntryRecord(r, &e->info);
  if (status != ENTRY_OK) return status;

  // Both buffers zero-filled: the inflater's output capacity is the declared size, and
  // stream bytes the source does not deliver read as zeros.
  uint32_t stored = e->info.stored, declared = e->info.declared;
  unsigned char* in = (unsigned char*)PackageAllocZeroed(stored);
  unsigned char* out = (unsigned char*)PackageAllocZeroed(declared);
  if (!in || !out) {
    PackageFree(in);
    PackageFree(out);
    return FailEntry(&e->info, ENTRY_NO_MEMORY, "no memory for the entry's buffers");
  }
  uint32_t got = 0;
  // A failed or short read is deliberately not an error here: the stream is judged only
  // by whether it is complete within what arrived (the rest being zeros).
  if (stored) r->read(r->ctx, in, stored, &got);

  status = InflateEntryBuffer(in, stored, out, declared, NULL, sink, &e->info);
  e->info.stored_read = got < stored ? got : stored;
  PackageFree(in);
  status = CheckPayloadLength(status, &e->info);
  if (status != ENTRY_OK) {
    PackageFree(out);
    return status;
  }
  e->payload = out;
  e->length = e->info.produced;
  return ENTRY_OK;
}

void FreeEntry(struct Entry* e) {
  PackageFree(e->payload);
  e->payload = NULL;
  e->length = 0;
}

int ParseFileHeader(const unsigned char* payload, uint32_t length, struct FileHeader* h) {
  if (!payload || length < FILE_HEADER_SIZE) return 0;
  h->attributes = GetLE32(payload + HEADER_ATTRIBUTES_AT);
  h->created = GetLE64(payload + HEADER_CREATED_AT);
  h->accessed = GetLE64(payload + HEADER_ACCESSED_AT);
  h->written = GetLE64(payload + HEADER_WRITTEN_AT);
  return 1;
}

const char* EntryStatusText(int status) {
  switch (status) {
    case ENTRY_OK: return "ok";
    case ENTRY_TRUNCATED_RECORD: return "entry record is cut short";
    case ENTRY_READ_FAILED: return "reading the package failed";
    case ENTRY_NO_MEMORY: return "not enough memory for the entry";
    case ENTRY_BAD_STREAM: return "stream is not valid zlib data";
    case ENTRY_TOO_LONG: return "stream is longer than its declared size";
    case ENTRY_SHORT_PAYLOAD: return "payload is shorter than its file header";
    default: return "unknown entry status";
  }
}
