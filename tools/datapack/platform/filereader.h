// A ByteReader over a stdio file, so that packages of any size are read front to back as the
// bootstrapper reads them, without loading them whole.
#ifndef DATAPACK_FILEREADER_H
#define DATAPACK_FILEREADER_H

#include <stdio.h>

#include "bytereader.h"

namespace datapack {

struct FileReader {
  FILE* file;   // open for binary reading; not owned
  bool failed;  // a read failed (as opposed to reaching the end): an I/O error
  int error;    // errno of that failure
};

void InitFileReader(FileReader* f, ByteReader* r, FILE* file);

}  // namespace datapack

#endif
