// Reading the list file (<base>.lst): key=value text lines holding two sizes, a count and the
// support file names. Portable: setup.exe reads its unpacked list through a ByteReader over a
// file handle; datapack and the tests read memory.
//
// Lines end at CR or LF; CR LF and LF CR are one line ending, CR CR and LF LF two. A last line
// without an ending is not returned. The bootstrapper uses line 8 + line 9 (expected total),
// line 10 (count of support files) and lines 11.. (one per support file: the second comma
// separated field of the value, cut at its first space, is the file's name).
#ifndef PACKAGE_LISTFILE_H
#define PACKAGE_LISTFILE_H

#include <stdint.h>

#include "bytereader.h"

enum {
  LIST_LINE_MAX = 519,  // characters in a line (the line buffer holds 520 bytes)
  LIST_BUFFER_SIZE = 520,
  LIST_FIELD_MAX = 27,  // characters in a comma-separated field (28-byte field buffer)
  LIST_FIELD_SIZE = 28,
  SUPPORT_NAME_MAX = 25,  // characters in a support file name (26-byte file table slot)
  SUPPORT_SLOT_SIZE = 26,
  LIST_FIRST_SIZE_LINE = 8,
  LIST_COUNT_LINE = 10,
  LIST_FIRST_NAME_LINE = 11
};

// Reads one line, without its ending, into line[LIST_BUFFER_SIZE]. Returns 1, or 0 when the
// data ends or a read fails before a line ending (line is then empty), when the read after
// a CR or LF fails, or giving back the byte read after it fails (line then holds the line),
// or when the line is longer than LIST_LINE_MAX (refused: line is then empty).
int ReadListLine(struct ByteReader* r, char* line);

// Reads one line and leaves only its value (everything after the first "=") in
// line[LIST_BUFFER_SIZE]. Returns 1, or 0 when the line cannot be read or has no "=".
int ReadListValue(struct ByteReader* r, char* line);

// Cuts the first comma-separated field off `rest`: field[LIST_FIELD_SIZE] receives the
// characters before the first comma (all of rest when there is none) and rest keeps what
// follows the comma (empty when there is none). Returns 1, or 0 when the field is longer
// than LIST_FIELD_MAX (field and rest are then left unchanged).
int SplitField(char* field, char* rest);

// Index of the first occurrence of c in s, or of the last when from_end is nonzero; -1 if none.
int FindChar(const char* s, char c, int from_end);

// The number at the start of a value: white space skipped, optional sign, decimal digits
// accumulated in wrapping 32-bit arithmetic; "-" negates modulo 2^32; no digits give 0.
uint32_t ParseListNumber(const char* value);

// Whether Windows opens `name` as a device: CON, PRN, AUX, NUL, COM1 to COM9 or LPT1 to LPT9
// (the digit also a superscript 1, 2 or 3: bytes 0xB9, 0xB2, 0xB3 of code page 1252), and
// CLOCK$, CONIN$ and CONOUT$ (devices to Windows 95 and 98, or to a program opening them by
// name), in any letter case, alone or followed by an extension ("Com1.bin"), once trailing
// spaces and dots are dropped and spaces before the extension ("NUL .txt").
int IsDeviceName(const char* name);

// Whether two names are the same file to Windows: equal once trailing spaces and dots are
// dropped (Windows drops them when it creates a file), ASCII letters compared without regard
// to case. Two list names for which this holds unpack into one file.
int SameWindowsName(const char* a, const char* b);

// Whether name is a plain file name that stays inside the working folder and is a file: not
// empty, no "\", "/" or ":", not "." or "..", not a device name (IsDeviceName).
int IsPlainFileName(const char* name);

// Takes a support file's name from a list value (destroying the value): the second field,
// cut at its first space, into name[SUPPORT_SLOT_SIZE]. Returns 1, or 0 when a field is
// longer than LIST_FIELD_MAX, the name longer than SUPPORT_NAME_MAX, or not a plain file
// name. An empty name (a value without a comma) is returned as 1 with name empty: it is the
// caller's to treat (the bootstrapper then fails to create the file).
int TakeSupportName(char* value, char* name);

// Why reading a list stopped.
enum ListError {
  LIST_OK = 0,
  LIST_UNREADABLE_LINE,  // missing, unterminated, or longer than 519 characters
  LIST_NO_EQUALS,        // a needed line without "="
  LIST_ZERO_COUNT,       // line 10 reads as 0
  LIST_BAD_NAME          // a support name field too long, or not a plain file name
};

// A list read step by step, as the bootstrapper reads it: the sizes (lines 1 to 9), the count
// (line 10), then one support file name per line. setup.exe checks the disk between the sizes
// and the count and allocates its file table between the count and the names; datapack's list
// check takes the same steps, so both stop at the same line for the same reason.
struct ListReader {
  struct ByteReader* r;
  uint32_t line;      // 1-based number of the last line read; where reading stopped on failure
  uint32_t size1;     // line 8
  uint32_t size2;     // line 9
  uint32_t expected;  // size1 + size2, wrapping as every list number does
  int32_t count;      // line 10; negative names no support files
  uint32_t slots;     // support file names the list holds: count when positive, else 0
};

void StartListReader(struct ListReader* l, struct ByteReader* r);

// Lines 1 to 9: lines 1 to 7 are not used but must each be a key=value line; lines 8 and 9
// give size1, size2 and expected. Returns a ListError.
int ReadListSizes(struct ListReader* l);

// Line 10: count and slots. A count of 0 is LIST_ZERO_COUNT. Returns a ListError.
int ReadListCount(struct ListReader* l);

// The next support file name (TakeSupportName) into slot[SUPPORT_SLOT_SIZE], which is written
// only with a complete name. Returns a ListError.
int ReadListName(struct ListReader* l, char* slot);

const char* ListErrorText(int error);

#endif
