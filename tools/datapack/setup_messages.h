// The texts the bootstrapper shows when it stops, composed by its own ComposeFailure from the
// texts its string table is compiled from, so that `datapack verify` can print what a user of
// a broken package would see.
#ifndef DATAPACK_SETUP_MESSAGES_H
#define DATAPACK_SETUP_MESSAGES_H

#include <string>

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

}  // namespace datapack

#endif
