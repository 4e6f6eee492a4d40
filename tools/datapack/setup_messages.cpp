#include "setup_messages.h"

#include "buffers.h"
#include "failure.h"

namespace datapack {

// The bootstrapper's own composition, from the texts its string table is compiled from.
static std::string Compose(int failure, const char* arg) {
  char message[MESSAGE_BUFFER_SIZE];
  ComposeFailure(failure, arg, LoadCompiledText, message);
  return message;
}

std::string CorruptPackageMessage() { return Compose(FAIL_CORRUPT_PACKAGE, nullptr); }

std::string ListCorruptMessage() { return Compose(FAIL_LIST_CORRUPT, nullptr); }

std::string CannotCopyMessage(const std::string& name) {
  return Compose(FAIL_CANNOT_COPY, ("%TEMP%\\" + name).c_str());
}

}  // namespace datapack
