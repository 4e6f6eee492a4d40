// How a failure's message is put together from the catalogue's texts (failure.h). Beside
// the catalogue, so that setup.exe and datapack compose the same message from one place.
#include "failure.h"

#include <string.h>

#include "buffers.h"
#include "format.h"    // PACKAGE_FILE_NAME
#include "listfile.h"  // LIST_SUFFIX
#include "messages.h"  // PLACEHOLDER
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

size_t FillTemplate(const char* tmpl, const char* name, char* out) {
  out[0] = '\0';
  // By hand rather than strstr: setup.exe links no C library (window/cstring.c).
  const char* at = tmpl;
  while (*at && (at[0] != PLACEHOLDER[0] || at[1] != PLACEHOLDER[1])) ++at;
  if (!*at) return AppendText(out, MESSAGE_BUFFER_SIZE, tmpl);
  size_t head = (size_t)(at - tmpl);
  if (head > MESSAGE_MAX) head = MESSAGE_MAX;
  memcpy(out, tmpl, head);
  out[head] = '\0';
  AppendText(out, MESSAGE_BUFFER_SIZE, name);
  return AppendText(out, MESSAGE_BUFFER_SIZE, at + sizeof PLACEHOLDER - 1);
}

namespace {

// How a message is put together: catalogue template `id` with the name `fixed`, then the
// caller's argument (when `with_arg`), then `suffix`, in its placeholder. `missing` stands in
// for a template the string table lacks (a damaged stub): the message then still names the
// file, as the separate head and tail texts of older stubs did.
struct Recipe {
  int failure;
  unsigned id;  // string table id
  const char* fixed;
  int with_arg;
  const char* suffix;
  const char* missing;
};

// The corrupt-package message always names the package file, not the entry that failed: the
// user can only replace the whole package anyway.
const Recipe kRecipes[] = {
    {FAIL_NEED_WIN32, IDS_NEED_WIN32, "", 0, "", ""},
    {FAIL_NO_TEMP, IDS_NO_TEMP, "", 0, "", ""},
    {FAIL_NO_PACKAGE, IDS_NO_PACKAGE, PACKAGE_FILE_NAME, 0, "", " '" PLACEHOLDER "'."},
    {FAIL_CORRUPT_PACKAGE, IDS_CORRUPT_HEAD, PACKAGE_FILE_NAME, 0, "", " " PLACEHOLDER " "},
    {FAIL_NO_LIST, IDS_NO_LIST, "", 1, LIST_SUFFIX, " " PLACEHOLDER},
    {FAIL_LIST_CORRUPT, IDS_LIST_CORRUPT, "Setup" LIST_SUFFIX, 0, "", ""},
    {FAIL_NO_SPACE, IDS_NO_SPACE, "", 0, "", ""},
    {FAIL_CANNOT_COPY, IDS_CANNOT_COPY, "", 1, "", " " PLACEHOLDER},
    {FAIL_CANNOT_RUN, IDS_CANNOT_RUN, "", 1, "", " " PLACEHOLDER},
};

}  // namespace

size_t ComposeFailure(int failure, const char* arg, TextLoader load, char* out) {
  out[0] = '\0';
  for (const Recipe& r : kRecipes) {
    if (r.failure != failure) continue;
    char tmpl[TEXT_LOAD_SIZE];
    if (!load || load(r.id, tmpl, TEXT_LOAD_SIZE) <= 0)
      (tmpl[0] = '\0', AppendText(tmpl, sizeof tmpl, r.missing));
    char name[MESSAGE_BUFFER_SIZE];
    name[0] = '\0';
    AppendText(name, sizeof name, r.fixed);
    if (r.with_arg) AppendText(name, sizeof name, arg);
    AppendText(name, sizeof name, r.suffix);
    return FillTemplate(tmpl, name, out);
  }
  return 0;
}
