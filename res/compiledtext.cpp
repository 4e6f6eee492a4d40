// The catalogue's texts compiled in, for programs without the string table. A file of its
// own, so that setup.exe, which never calls it, never links its texts.
#include "failure.h"

#include "messages.h"
#include "resource.h"

int LoadCompiledText(unsigned id, char* buf, int size) {
  static const struct {
    unsigned id;
    const char* text;
  } kTexts[] = {
      {IDS_TITLE, TEXT_TITLE},
      {IDS_NEED_WIN32, TEXT_NEED_WIN32},
      {IDS_NO_PACKAGE, TEMPLATE_NO_PACKAGE},
      {IDS_CORRUPT_HEAD, TEMPLATE_CORRUPT},
      {IDS_NO_LIST, TEMPLATE_NO_LIST},
      {IDS_CANNOT_COPY, TEMPLATE_CANNOT_COPY},
      {IDS_LIST_CORRUPT, TEMPLATE_LIST_CORRUPT},
      {IDS_CANNOT_RUN, TEMPLATE_CANNOT_RUN},
      {IDS_NO_SPACE, TEXT_NO_SPACE},
      {IDS_NO_TEMP, TEXT_NO_TEMP},
  };
  if (size <= 0) return 0;
  buf[0] = '\0';
  for (const auto& t : kTexts)
    if (t.id == id) return (int)AppendText(buf, (size_t)size, t.text);
  return 0;
}
