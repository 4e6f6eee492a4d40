// How a failure's message is put together from the catalogue's texts (failure.h). Beside
// the catalogue, so that setup.exe and datapack compose the same message from one place.
#include "failure.h"

#include <string.h>

#include "buffers.h"
#include "format.h"    // PACKAGE_FILE_NAME
#include "listfile.h"  // LIST_SUFFIX
#include "resource.h"

size_t AppendText(char* buf, size_t size, const char* text) {
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

// How a message is put together: catalogue text `head`, `fixed`, the caller's argument (when
// `with_arg`), `suffix`, then catalogue text `tail` (when not 0).
struct Recipe {
  int failure;
  unsigned head;  // string table id
  const char* fixed;
  int with_arg;
  const char* suffix;
  unsigned tail;  // string table id, 0 for none
};

// The corrupt-package message always names the package file, not the entry that failed: the
// user can only replace the whole package anyway.
const Recipe kRecipes[] = {
    {FAIL_NEED_WIN32, IDS_NEED_WIN32, "", 0, "", 0},
    {FAIL_NO_TEMP, IDS_NO_TEMP, "", 0, "", 0},
    {FAIL_NO_PACKAGE, IDS_NO_PACKAGE, " '" PACKAGE_FILE_NAME "'.", 0, "", 0},
    {FAIL_CORRUPT_PACKAGE, IDS_CORRUPT_HEAD, " " PACKAGE_FILE_NAME " ", 0, "", IDS_CORRUPT_TAIL},
    {FAIL_NO_LIST, IDS_NO_LIST, " ", 1, LIST_SUFFIX, 0},
    {FAIL_LIST_CORRUPT, IDS_LIST_CORRUPT, "", 0, "", 0},
    {FAIL_NO_SPACE, IDS_NO_SPACE, "", 0, "", 0},
    {FAIL_CANNOT_COPY, IDS_CANNOT_COPY, " ", 1, "", 0},
    {FAIL_CANNOT_RUN, IDS_CANNOT_RUN, " ", 1, "", 0},
};

// Appends catalogue text `id` to out[MESSAGE_BUFFER_SIZE]; a missing text adds nothing.
void AppendCatalogueText(char* out, unsigned id, TextLoader load) {
  char text[TEXT_LOAD_SIZE];
  if (load && load(id, text, TEXT_LOAD_SIZE) > 0) AppendText(out, MESSAGE_BUFFER_SIZE, text);
}

}  // namespace

size_t ComposeFailure(int failure, const char* arg, TextLoader load, char* out) {
  out[0] = '\0';
  for (const Recipe& r : kRecipes) {
    if (r.failure != failure) continue;
    AppendCatalogueText(out, r.head, load);
    AppendText(out, MESSAGE_BUFFER_SIZE, r.fixed);
    if (r.with_arg) AppendText(out, MESSAGE_BUFFER_SIZE, arg);
    AppendText(out, MESSAGE_BUFFER_SIZE, r.suffix);
    if (r.tail) AppendCatalogueText(out, r.tail, load);
    break;
  }
  return strlen(out);
}
