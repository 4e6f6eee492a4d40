// The inputs of `datapack create`: the list, read and checked as the bootstrapper reads it, and
// every file the package will hold, found and examined, all before anything is written.
// cmd_create.cpp turns the command line into a CreateRequest and writes the package from the
// Contents gathered here.
#ifndef DATAPACK_CREATE_INPUTS_H
#define DATAPACK_CREATE_INPUTS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "commands.h"
#include "encode.h"
#include "format.h"
#include "listcheck.h"
#include "package_writer.h"
#include "platform.h"

namespace datapack {
namespace create {

// One file of the package, from where it is found to the entry written.
struct Input {
  PackedFile file;  // name, and later the data, attributes and times
  fs::path path;
  SourceStat st;
  uint32_t list_line = 0;  // the list line naming a support file; 0 for the others
  EntryRole role = ROLE_SUPPORT;
};

// What the command line asks for.
struct CreateRequest {
  std::string list_arg;  // as given, for messages
  fs::path list_path, setup, uninstaller;
  fs::path folder;  // of the support files
  int kind = 0;
  CompressionOptions compression;
  unsigned threads = 1;
  bool fixed_times = false;  // every file gets epoch_time
  uint64_t epoch_time = 0;   // FILETIME
  bool force = false, quiet = false, strict = false, fix_sizes = false;
  bool to_stdout = false;  // -o -: the package goes to standard output
  fs::path output;
  std::string out_name;  // for messages
};

// Everything the package holds, examined before anything is written.
struct Contents {
  std::string base, list_name, setup_name;  // "Setup", "Setup.lst", "Setup1.exe"
  Input list;
  ListCheck check;
  std::vector<Input> inputs;   // setup program, uninstaller, support files, in package order
  uint64_t payload_total = 0;  // payload bytes of every entry after the list
  uint64_t source_total = 0;   // bytes of every source file, the list included
};

// --kind's value (Instal, Setup or Instalar in any case, or 1, 2, 3) into `kind`.
bool ParseKind(const std::string& text, int& kind);

// Reads a whole file of `size` bytes, checking it did not change size meanwhile.
bool ReadSource(const fs::path& path, uint64_t size, std::vector<unsigned char>& data,
                std::string& error);

// The header fields of `in`: its attributes, and its own times or else epoch_time.
void TakeHeader(Input& in, bool fixed, uint64_t epoch_time);

// Reads the list and checks it as the bootstrapper will read it: failures refuse, surprises
// warn.
int ReadList(Console& console, const CreateRequest& req, Contents& c);

// Finds and examines every file in package order: each must exist, be a regular file and fit
// an entry.
int GatherInputs(Console& console, const CreateRequest& req, Contents& c);

// Lines 8 + 9 against the payload total: rewritten in the packed list with --fix-sizes,
// otherwise warned about.
int SettleSizes(Console& console, const CreateRequest& req, Contents& c);

}  // namespace create
}  // namespace datapack

#endif
