#include "setup_messages.h"

#include "buffers.h"
#include "commands.h"  // Printable
#include "failure.h"
#include "texts.h"  // IsUtf8Text

namespace datapack {

// --- Module state ------------------------------------------------------------------------
// s_stub_texts  set by UseStubTexts (verify --against); empty: the compiled-in texts.
static std::vector<std::pair<uint32_t, std::string>> s_stub_texts;

void UseStubTexts(std::vector<std::pair<uint32_t, std::string>> texts) {
  s_stub_texts = std::move(texts);
}

std::string PrintableMessage(const std::string& message) {
  if (s_stub_texts.empty() || !IsUtf8Text(message)) return Printable(message);
  return message;
}

// The TextLoader over a stub's texts, as LoadStringA would give them (a text missing: 0).
static int LoadStubText(unsigned id, char* buf, int size) {
  buf[0] = '\0';
  for (const auto& t : s_stub_texts)
    if (t.first == id) return (int)AppendText(buf, (size_t)size, t.second.c_str());
  return 0;
}

// The bootstrapper's own composition, from the texts its string table is compiled from (or
// a branded stub's).
static std::string Compose(int failure, const char* arg) {
  char message[MESSAGE_BUFFER_SIZE];
  ComposeFailure(failure, arg, s_stub_texts.empty() ? LoadCompiledText : LoadStubText, message);
  return message;
}

std::string CorruptPackageMessage() { return Compose(FAIL_CORRUPT_PACKAGE, nullptr); }

std::string ListCorruptMessage() { return Compose(FAIL_LIST_CORRUPT, nullptr); }

std::string CannotCopyMessage(const std::string& name) {
  return Compose(FAIL_CANNOT_COPY, ("%TEMP%\\" + name).c_str());
}

}  // namespace datapack
