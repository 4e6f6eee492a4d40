#include "package_writer.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace datapack {

void AppendPackageHeader(std::vector<unsigned char>& out, int kind, unsigned char reserved) {
  out.resize(out.size() + PACKAGE_HEADER_SIZE);
  WritePackageHeader(&out[out.size() - PACKAGE_HEADER_SIZE], kind, reserved);
}

std::vector<unsigned char> MakePayload(const PackedFile& file) {
  std::vector<unsigned char> payload(FILE_HEADER_SIZE + file.data.size());
  const FileHeader header = {file.attributes, file.created, file.accessed, file.written};
  WriteFileHeader(&payload[0], &header);
  if (!file.data.empty())
    std::copy(file.data.begin(), file.data.end(), payload.begin() + FILE_HEADER_SIZE);
  return payload;
}

bool CompressPayload(const unsigned char* payload, size_t size, const CompressionOptions& options,
                     std::vector<unsigned char>& stream, std::string& error) {
  if (!CheckCompressionOptions(options, error)) return false;
  // zlib counts in uInt; payloads beyond that cannot be recorded in an entry anyway.
  if (size > std::numeric_limits<uInt>::max()) {
    error = "payload larger than 4 GiB";
    return false;
  }
  z_stream z{};
  // The default 15-bit window: the reader inflates with zlib's default window, and a smaller
  // window gains nothing for files of this size.
  if (deflateInit2(&z, options.level, Z_DEFLATED, 15, options.mem_level, options.strategy) !=
      Z_OK) {
    error = "cannot start the compressor (out of memory)";
    return false;
  }
  stream.resize(deflateBound(&z, (uLong)size));
  z.next_in = const_cast<Bytef*>(payload);
  z.avail_in = (uInt)size;
  int rc;
  do {
    z.next_out = stream.data() + z.total_out;
    z.avail_out = (uInt)(stream.size() - z.total_out);
    rc = deflate(&z, Z_FINISH);
    // zlib before 1.3.1 bounds stored output at memory level 9 a few bytes short.
    if (rc == Z_OK) stream.resize(stream.size() + 256);
  } while (rc == Z_OK);
  stream.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) {
    error = "compression failed";
    stream.clear();
    return false;
  }
  return true;
}

std::vector<unsigned char> StoredStream(const unsigned char* payload, size_t size, size_t block) {
  if (block == 0 || block > 65535) block = 65535;
  std::vector<unsigned char> s;
  s.reserve(size + size / block * 5 + 16);
  s.push_back(0x78);  // deflate, 32 KiB window
  s.push_back(0x01);  // no dictionary, lowest level; 0x7801 is a multiple of 31
  size_t pos = 0;
  do {
    size_t n = size - pos < block ? size - pos : block;
    bool last = pos + n == size;
    s.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00; the rest of the byte pads to the boundary
    s.push_back((unsigned char)n);
    s.push_back((unsigned char)(n >> 8));
    s.push_back((unsigned char)~n);
    s.push_back((unsigned char)(~n >> 8));
    s.insert(s.end(), payload + pos, payload + pos + n);
    pos += n;
  } while (pos < size);
  const uLong adler = adler32_z(adler32(0L, Z_NULL, 0), payload, size);
  s.push_back((unsigned char)(adler >> 24));  // the zlib trailer is big-endian
  s.push_back((unsigned char)(adler >> 16));
  s.push_back((unsigned char)(adler >> 8));
  s.push_back((unsigned char)adler);
  return s;
}

void AppendRecord(std::vector<unsigned char>& out, uint32_t declared, uint32_t stored,
                  const std::vector<unsigned char>& stream) {
  size_t at = out.size();
  out.resize(at + ENTRY_RECORD_SIZE);
  WriteEntryRecord(&out[at], declared, stored);
  out.insert(out.end(), stream.begin(), stream.end());
}

}  // namespace datapack
