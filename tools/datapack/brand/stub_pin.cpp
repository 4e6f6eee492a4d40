// The package pin of a branded setup.exe; see stub_pin.h.
#include "stub_pin.h"

#include <errno.h>
#include <stdio.h>

#include <algorithm>

#include "brand.h"
#include "commands.h"
#include "filereader.h"
#include "format.h"
#include "package_walk.h"
#include "platform.h"

namespace datapack {

namespace {

bool IsPinResource(const Resource& r) {
  return r.type.text.empty() && r.type.id == PIN_RESOURCE_TYPE && r.name.text.empty() &&
         r.name.id == PIN_RESOURCE_ID;
}

// The file `arg` as bytes; kExitIo with the reason printed when it cannot be read.
int ReadFileBytes(Console& console, const std::string& arg, Bytes& bytes) {
  std::string error;
  FILE* f = OpenRead(PathFromNative(arg), error);
  if (!f) return Fail(console, kExitIo, arg, error);
  bytes.clear();
  unsigned char buf[65536];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
  const bool failed = ferror(f) != 0;
  fclose(f);
  return failed ? Fail(console, kExitIo, arg, "read failed") : int(kExitOk);
}

// Hashes the file `arg`: kExitOk, or kExitIo with the reason printed.
int HashFile(Console& console, const std::string& arg, PackagePin& measured) {
  if (arg == "-")
    return Fail(console, kExitUsage, arg,
                "the pin is the hash of a file: name the package, not standard input");
  std::string error;
  FILE* f = OpenRead(PathFromNative(arg), error);
  if (!f) return Fail(console, kExitIo, arg, error);
  FileReader file;
  ByteReader reader;
  InitFileReader(&file, &reader, f);
  const int ok = HashPackage(&reader, &measured, nullptr);
  fclose(f);
  if (!ok) {
    errno = file.error;
    return Fail(console, kExitIo, arg, file.failed ? ErrnoText() : "out of memory");
  }
  return kExitOk;
}

}  // namespace

std::string DigestHex(const PackagePin& pin) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : pin.digest) {
    s += kDigits[c >> 4];
    s += kDigits[c & 15];
  }
  return s;
}

std::string PinText(const PackagePin& pin) {
  return std::to_string(pin.length) + " bytes, SHA-256 " + DigestHex(pin);
}

void SetPinResource(std::vector<Resource>& resources, const PackagePin* pin) {
  resources.erase(std::remove_if(resources.begin(), resources.end(), IsPinResource),
                  resources.end());
  if (!pin) return;
  Resource r;
  r.type.id = PIN_RESOURCE_TYPE;
  r.name.id = PIN_RESOURCE_ID;
  r.language = 0;  // neutral: the first language FindResourceA looks for, on every system
  r.data.resize(PIN_RESOURCE_SIZE);
  FormatPackagePin(pin, r.data.data());
  resources.push_back(std::move(r));
}

int LoadStubPin(Console& console, const std::string& arg, StubPin& stub, Bytes& file) {
  stub = StubPin();
  if (int code = ReadFileBytes(console, arg, file)) return code;
  std::string error;
  PeImage pe;
  std::vector<Resource> resources;
  if (!ReadPeImage(file, pe, error, PeRead::kInspect) ||
      !ParseResources(pe.resources, pe.resource_rva, 0, resources, error))
    return Fail(console, kExitInvalid, arg, "cannot read its pin: " + error);
  if (!HasSetupResources(resources))
    return Fail(console, kExitInvalid, arg,
                "it lacks setup.exe's resources (version, dialog or icon): it is not the setup "
                "bootstrapper");
  auto found = std::find_if(resources.begin(), resources.end(), IsPinResource);
  if (found == resources.end()) return kExitOk;
  if (!ParsePackagePin(found->data.data(), found->data.size(), &stub.pin))
    return Fail(console, kExitInvalid, arg,
                "its package pin is damaged: it refuses every package; brand it again");
  stub.present = true;
  return kExitOk;
}

int PinPackageFile(Console& console, const std::string& arg, PackagePin& pin) {
  if (arg == "-")
    return UsageError(console, "brand",
                      "--pin needs the package as a file: it is read twice, to check and to hash");
  PackageReport report;
  if (int code = InspectFile(console, arg, InspectOptions(), report, "checking")) return code;
  if (report.failed) {
    console.out << Printable(report.message) << "\n";
    return Fail(console, kExitInvalid, arg,
                "the bootstrapper would refuse it, so it cannot be pinned: " + report.reason);
  }
  return HashFile(console, arg, pin);
}

int CheckAgainstPin(Console& console, const std::string& arg, const std::string& stub_name,
                    const StubPin& stub, bool quiet) {
  if (!stub.present)
    return Fail(console, kExitInvalid, stub_name,
                "it carries no package pin: it runs any package (brand it with --pin)");
  PackagePin measured;
  if (int code = HashFile(console, arg, measured)) return code;
  if (measured.length != stub.pin.length ||
      !std::equal(measured.digest, measured.digest + PIN_DIGEST_SIZE, stub.pin.digest))
    return Fail(console, kExitInvalid, arg,
                "not the package " + stub_name + " is pinned to (pinned: " + PinText(stub.pin) +
                    "; this one: " + PinText(measured) + "); setup.exe would refuse it");
  if (!quiet)
    console.out << Printable(arg) << ": matches the pin of " << Printable(stub_name) << "\n";
  return kExitOk;
}

}  // namespace datapack
