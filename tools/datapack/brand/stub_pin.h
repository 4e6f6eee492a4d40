// The package pin of a branded setup.exe (format.h): `brand --pin` and `--unpin` set it,
// `verify --against` and `list --against` read it, on signed stubs too.
#ifndef DATAPACK_STUB_PIN_H
#define DATAPACK_STUB_PIN_H

#include <string>
#include <vector>

#include "cli.h"
#include "pe_image.h"
#include "pin.h"

namespace datapack {

// A setup.exe's pin, as read from its resources.
struct StubPin {
  bool present = false;  // false: the stub reads any package
  PackagePin pin{};      // valid when present
};

// What brand does to the pin.
enum class PinChange { kKeep, kSet, kRemove };

// `resources` with the pin resource set to `pin` (added or replaced), or removed when `pin`
// is NULL.
void SetPinResource(std::vector<Resource>& resources, const PackagePin* pin);

// Reads the setup.exe named `arg` into `file`, and its pin. Signed stubs are read as they are.
// Returns kExitOk, kExitIo (unreadable) or kExitInvalid (not the setup bootstrapper, or a
// damaged pin resource), the reason printed.
int LoadStubPin(Console& console, const std::string& arg, StubPin& stub, Bytes& file);

// The pin for the package file `arg`: reads it as verify does and refuses, with the reason, a
// package the bootstrapper would stop on (kExitInvalid); then its length and SHA-256.
// Returns kExitOk, kExitInvalid, kExitIo or kExitUsage (standard input: it must be a file
// that can be read twice).
int PinPackageFile(Console& console, const std::string& arg, PackagePin& pin);

// Hashes the package file `arg` and compares it with `stub`'s pin (the stub named
// `stub_name`). Prints "ARG: matches the pin of STUB" unless `quiet`; on a mismatch the
// reason, both lengths and digests. Returns kExitOk, kExitInvalid (other bytes, or a stub
// without pin) or kExitIo.
int CheckAgainstPin(Console& console, const std::string& arg, const std::string& stub_name,
                    const StubPin& stub, bool quiet);

// "1234 bytes, SHA-256 ab12...": a pin for people.
std::string PinText(const PackagePin& pin);
// Lower-case hexadecimal digest.
std::string DigestHex(const PackagePin& pin);

}  // namespace datapack

#endif
