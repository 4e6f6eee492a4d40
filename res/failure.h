// Every way the setup run can fail, and the message each failure shows, composed from the
// message catalogue's texts. Portable (no <windows.h>): setup.exe loads the texts from its
// string table, while datapack and the native unit tests load the same texts compiled in, so
// that `datapack verify` prints what a user of a broken package would see.
#ifndef RES_FAILURE_H
#define RES_FAILURE_H

#include <stddef.h>

// Every way the run can fail, each with its own message.
enum RunFailure {
  FAIL_NEED_WIN32,       // Win32s or a system older than version 4
  FAIL_NO_TEMP,          // the working folder cannot be created
  FAIL_NO_PACKAGE,       // "_Data.001" cannot be opened
  FAIL_CORRUPT_PACKAGE,  // bad header, entry record or stream
  FAIL_NO_LIST,          // the unpacked list file cannot be opened; arg: the base name
  FAIL_LIST_CORRUPT,     // a needed list line is missing or malformed, or the count is 0
  FAIL_NO_SPACE,         // the disk has too little room
  FAIL_CANNOT_COPY,      // a file cannot be created or written; arg: its path
  FAIL_CANNOT_RUN        // the setup program cannot be started; arg: its path
};

// Loads catalogue text `id` into buf[size], NUL-terminated; returns its length (0 when the
// text is missing, buf then empty). setup.exe passes LoadStringA; tests pass a table.
typedef int (*TextLoader)(unsigned id, char* buf, int size);

// Composes the message for `failure` into out[MESSAGE_BUFFER_SIZE] from the catalogue texts
// (each loaded into TEXT_LOAD_SIZE bytes), the package name and `arg` (see RunFailure; NULL
// is taken as empty). The result is cut at MESSAGE_MAX characters. Returns its length.
size_t ComposeFailure(int failure, const char* arg, TextLoader load, char* out);

// The one rule that puts a file's name into a message: `tmpl` up to its first PLACEHOLDER
// (messages.h), `name`, then the rest of `tmpl` as it is (a second placeholder stays
// literal); without a placeholder, `tmpl` alone. Into out[MESSAGE_BUFFER_SIZE], cut at
// MESSAGE_MAX characters. Returns the length.
size_t FillTemplate(const char* tmpl, const char* name, char* out);

// Appends `text` to the NUL-terminated `buf` of `size` bytes, cutting it so that the result
// still fits. Returns the new length.
size_t AppendText(char* buf, size_t size, const char* text);

// The TextLoader over the catalogue's texts compiled in (res/messages.h), for programs that
// carry no string table. The texts are the ones setup.rc compiles.
int LoadCompiledText(unsigned id, char* buf, int size);

#endif
