#include "bootmsg.h"

#include "format.h"

namespace datapack {

// The bootstrapper's string table entries these messages are made of.
static const char kCorruptHead[] = "Setup program cannot continue because file";
static const char kCorruptTail[] = "is corrupted.";
static const char kListCorrupt[] =
    "Setup program cannot continue because file Setup.lst is corrupted.";
static const char kCannotCopy[] = "Setup program cannot continue because it could not copy file";

const char kWorkingFolderPlaceholder[] = "%TEMP%\\";

std::string CorruptPackageMessage() {
  return std::string(kCorruptHead) + " " + PACKAGE_FILE_NAME + " " + kCorruptTail;
}

std::string ListCorruptMessage() { return kListCorrupt; }

std::string CannotCopyMessage(const std::string& path) {
  return std::string(kCannotCopy) + " " + path;
}

}  // namespace datapack
