// Composing the failure messages; see failure.h.
#include "failure.h"

#include <string.h>

#include "buffers.h"
#include "format.h"
#include "messages.h"
#include "resource.h"

size_t AppendText(char *buf, size_t size, const char *text) {
  size_t used = strlen(buf);
  if (!text || used + 1 >= size) return used;
  size_t room = size - 1 - used;
  size_t add = strlen(text);
  if (add > room) add = room;
  memcpy(buf + used, text, add);
  buf[used + add] = '\0';
  return used + add;
}

namespace {

// One piece of a composed message: a catalogue text, a fixed text, or the caller's argument.
enum PieceKind { PIECE_END, PIECE_TEXT, PIECE_FIXED, PIECE_ARG };

struct Piece {
  PieceKind kind;
  unsigned id;        // PIECE_TEXT: string table id
  const char *fixed;  // PIECE_FIXED: the text
};

const int kMaxPieces = 6;

struct Recipe {
  int failure;
  Piece pieces[kMaxPieces];
};

#define TEXT(id) {PIECE_TEXT, id, nullptr}
#define FIXED(s) {PIECE_FIXED, 0, s}
#define ARG {PIECE_ARG, 0, nullptr}
#define END {PIECE_END, 0, nullptr}

// How each message is put together. The corrupt-package message always names the package
// file, not the entry that failed: the user can only replace the whole package anyway.
const Recipe kRecipes[] = {
    {FAIL_NEED_WIN32, {TEXT(IDS_NEED_WIN32), END}},
    {FAIL_NO_TEMP, {TEXT(IDS_NO_TEMP), END}},
    {FAIL_NO_PACKAGE, {TEXT(IDS_NO_PACKAGE), FIXED(" '"), FIXED(PACKAGE_FILE_NAME), FIXED("'."), END}},
    {FAIL_CORRUPT_PACKAGE,
     {TEXT(IDS_CORRUPT_HEAD), FIXED(" "), FIXED(PACKAGE_FILE_NAME), FIXED(" "),
      TEXT(IDS_CORRUPT_TAIL), END}},
    {FAIL_NO_LIST, {TEXT(IDS_NO_LIST), FIXED(" "), ARG, FIXED(LIST_SUFFIX), END}},
    {FAIL_LIST_CORRUPT, {TEXT(IDS_LIST_CORRUPT), END}},
    {FAIL_NO_SPACE, {TEXT(IDS_NO_SPACE), END}},
    {FAIL_CANNOT_COPY, {TEXT(IDS_CANNOT_COPY), FIXED(" "), ARG, END}},
    {FAIL_CANNOT_RUN, {TEXT(IDS_CANNOT_RUN), FIXED(" "), ARG, END}},
};

#undef TEXT
#undef FIXED
#undef ARG
#undef END

}  // namespace

size_t ComposeFailure(int failure, const char *arg, TextLoader load, void *ctx, char *out) {
  out[0] = '\0';
  for (const Recipe &recipe : kRecipes) {
    if (recipe.failure != failure) continue;
    for (const Piece &piece : recipe.pieces) {
      if (piece.kind == PIECE_END) break;
      if (piece.kind == PIECE_TEXT) {
        char text[TEXT_LOAD_SIZE];
        text[0] = '\0';
        if (!load || load(ctx, piece.id, text, TEXT_LOAD_SIZE) <= 0) text[0] = '\0';
        AppendText(out, MESSAGE_BUFFER_SIZE, text);
      } else {
        AppendText(out, MESSAGE_BUFFER_SIZE, piece.kind == PIECE_ARG ? arg : piece.fixed);
      }
    }
    break;
  }
  return strlen(out);
}

int LoadCompiledText(void *ctx, unsigned id, char *buf, int size) {
  (void)ctx;
  static const struct {
    unsigned id;
    const char *text;
  } kTexts[] = {
      {IDS_TITLE, TEXT_TITLE},               {IDS_NEED_WIN32, TEXT_NEED_WIN32},
      {IDS_NO_PACKAGE, TEXT_NO_PACKAGE},     {IDS_CORRUPT_HEAD, TEXT_CORRUPT_HEAD},
      {IDS_CORRUPT_TAIL, TEXT_CORRUPT_TAIL}, {IDS_NO_LIST, TEXT_NO_LIST},
      {IDS_CANNOT_COPY, TEXT_CANNOT_COPY},   {IDS_LIST_CORRUPT, TEXT_LIST_CORRUPT},
      {IDS_CANNOT_RUN, TEXT_CANNOT_RUN},     {IDS_NO_SPACE, TEXT_NO_SPACE},
      {IDS_NO_TEMP, TEXT_NO_TEMP},
  };
  if (size <= 0) return 0;
  buf[0] = '\0';
  for (const auto &t : kTexts)
    if (t.id == id) return (int)AppendText(buf, (size_t)size, t.text);
  return 0;
}
