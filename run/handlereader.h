// A ByteReader (package/bytereader.h) over an open Win32 file handle, so that the portable
// package and list readers read the package and the unpacked list file.
#ifndef RUN_HANDLEREADER_H
#define RUN_HANDLEREADER_H

#include <windows.h>

#include "bytereader.h"

// Makes `r` read from `file` at its current position; the handle stays the caller's to close
// and must stay open while `r` is used. Reads go straight to ReadFile (the list is read a byte
// at a time, as small as it is); `back` moves the file position back by one byte.
void InitHandleReader(struct ByteReader* r, HANDLE file);

#endif
