// The texts the bootstrapper shows when it stops, composed by its own ComposeFailure from the
// texts its string table is compiled from, so that `datapack verify` can print what a user of
// a broken package would see.
#ifndef DATAPACK_SETUP_MESSAGES_H
#define DATAPACK_SETUP_MESSAGES_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace datapack {

// Header wrong, an entry record cut short, an entry that does not inflate: always names
// "_Data.001", whatever the package file is called and whichever entry failed.
std::string CorruptPackageMessage();

// A list line that cannot be read or has no "=", a count of 0, an unusable support file
// name: always names "Setup.lst", whatever the base name.
std::string ListCorruptMessage();

// A support file `name` that cannot be created in the working folder, which only the
// bootstrapper knows: the message reads "... could not copy file %TEMP%\<name>" (cut at 519
// characters, as the bootstrapper cuts it).
std::string CannotCopyMessage(const std::string& name);

// Composes the messages above from `texts` (string table id, UTF-8 text: a branded stub's,
// ReadStubTexts in texts.h) instead of the texts setup.exe is built with; an empty list goes
// back to those. For verify --against.
void UseStubTexts(std::vector<std::pair<uint32_t, std::string>> texts);

// `message` as verify prints it: with a stub's texts in use, UTF-8 text (a translation) as it
// is; otherwise, and for anything else, Printable (commands.h).
std::string PrintableMessage(const std::string& message);

}  // namespace datapack

#endif
