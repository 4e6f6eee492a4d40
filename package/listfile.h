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
  LIST_LINE_MAX = 519,      // characters in a line (the line buffer holds 520 bytes)
  LIST_BUFFER_SIZE = 520,
  LIST_FIELD_MAX = 27,      // characters in a comma-separated field (28-byte field buffer)
  LIST_FIELD_SIZE = 28,
  SUPPORT_NAME_MAX = 25,    // characters in a support file name (26-byte file table slot)
  SUPPORT_SLOT_SIZE = 26,
  LIST_FIRST_SIZE_LINE = 8,
  LIST_COUNT_LINE = 10,
  LIST_FIRST_NAME_LINE = 11
};

// Reads one line, without its ending, into line[LIST_BUFFER_SIZE]. Returns 1, or 0 when the
// data ends or a read fails before a line ending (line is then empty), when the read after
// a CR or LF fails, or giving back the byte read after it fails (line then holds the line),
// or when the line is longer than LIST_LINE_MAX (refused: line is then empty).
int ReadListLine(struct ByteReader *r, char *line);

// Reads one line and leaves only its value (everything after the first "=") in
// line[LIST_BUFFER_SIZE]. Returns 1, or 0 when the line cannot be read or has no "=".
int ReadListValue(struct ByteReader *r, char *line);

// Cuts the first comma-separated field off `rest`: field[LIST_FIELD_SIZE] receives the
// characters before the first comma (all of rest when there is none) and rest keeps what
// follows the comma (empty when there is none). Returns 1, or 0 when the field is longer
// than LIST_FIELD_MAX (field and rest are then left unchanged).
int SplitField(char *field, char *rest);

// Index of the first occurrence of c in s, or of the last when from_end is nonzero; -1 if none.
int FindChar(const char *s, char c, int from_end);

// The number at the start of a value: white space skipped, optional sign, decimal digits
// accumulated in wrapping 32-bit arithmetic; "-" negates modulo 2^32; no digits give 0.
uint32_t ParseListNumber(const char *value);

// Whether Windows opens `name` as a device in any folder: CON, PRN, AUX, NUL, COM1 to COM9
// or LPT1 to LPT9, in any letter case, alone or followed by an extension ("Com1.bin"), once
// trailing spaces and dots are dropped and spaces before the extension ("NUL .txt").
int IsDeviceName(const char *name);

// Whether name is a plain file name that stays inside the working folder and is a file: not
// empty, no "\", "/" or ":", not "." or "..", not a device name (IsDeviceName).
int IsPlainFileName(const char *name);

// Takes a support file's name from a list value (destroying the value): the second field,
// cut at its first space, into name[SUPPORT_SLOT_SIZE]. Returns 1, or 0 when a field is
// longer than LIST_FIELD_MAX, the name longer than SUPPORT_NAME_MAX, or not a plain file
// name. An empty name (a value without a comma) is returned as 1 with name empty: it is the
// caller's to treat (the bootstrapper then fails to create the file).
int TakeSupportName(char *value, char *name);

// The whole list as the bootstrapper reads it, for checking a list before packing or while
// verifying (setup.exe reads step by step, with its disk check between lines 9 and 10).
enum ListError {
  LIST_OK = 0,
  LIST_UNREADABLE_LINE,  // missing, unterminated, or longer than 519 characters
  LIST_NO_EQUALS,        // a needed line without "="
  LIST_ZERO_COUNT,       // line 10 reads as 0
  LIST_BAD_NAME,         // a support name field too long, or not a plain file name
  LIST_NO_MEMORY
};

struct ListSummary {
  uint32_t size1;     // line 8
  uint32_t size2;     // line 9
  uint32_t expected;  // size1 + size2, wrapping as the bootstrapper adds them
  int32_t count;      // line 10; negative names no support files
  uint32_t names;     // support names read (count when positive, else 0)
  char (*name)[SUPPORT_SLOT_SIZE];  // PackageAllocZeroed'd table of `names` slots; NULL when none
  int error;          // ListError
  uint32_t error_line;  // 1-based line number where reading stopped, 0 when ok
};

// Reads a list file as the bootstrapper does. Returns the ListError (also in s->error).
// Free with FreeListSummary whatever it returned.
int ReadListSummary(struct ByteReader *r, struct ListSummary *s);
void FreeListSummary(struct ListSummary *s);
const char *ListErrorText(int error);

#endif
