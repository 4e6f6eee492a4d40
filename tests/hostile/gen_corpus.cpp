// hostile_gen OUTDIR: creates OUTDIR when needed and writes every package of the hostile corpus as
// OUTDIR/<case>.001 and the manifest OUTDIR/manifest.tsv, one line per case, tab-separated:
//   name  verdict  verify-exit  message  left-in-working-folder  uninstaller-left
// verdict is corrupt-package, corrupt-list, could-not-copy, no-space or accepted; message is
// the bootstrapper's text with %TEMP% for its working folder ("-" when there is none);
// left-in-working-folder is a comma-separated list ("-" for nothing); uninstaller-left is
// yes or no. verify_corpus.py reads it back.
#include <stdio.h>

#include <filesystem>
#include <string>

#include "corpus.h"

// The setup program of the host corpus: never run, only unpacked (setup.exe's runner puts a
// real program in its place for the accepted cases).
static const char kProgram[] = "MZ stand-in for the setup program; datapack only inflates it.";

static bool WriteFile(const std::string& path, const void* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(data, 1, size, f) == size;
  return fclose(f) == 0 && ok;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: hostile_gen OUTDIR\n");
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(argv[1], ec);
  const std::string dir = std::string(argv[1]) + "/";
  std::string manifest;
  for (const hostile::Case& c : hostile::Cases()) {
    std::vector<unsigned char> bytes = hostile::BuildPackage(c, kProgram);
    if (!WriteFile(dir + c.name + ".001", bytes.data(), bytes.size())) {
      fprintf(stderr, "hostile_gen: cannot write %s%s.001\n", dir.c_str(), c.name.c_str());
      return 1;
    }
    std::string left;
    for (const std::string& name : hostile::LeftInWorkingFolder(c))
      left += (left.empty() ? "" : ",") + name;
    const std::string message = hostile::Message(c);
    manifest += c.name + "\t" + hostile::VerdictId(c.verdict) + "\t" +
                std::to_string(hostile::VerifyExit(c)) + "\t" + (message.empty() ? "-" : message) +
                "\t" + (left.empty() ? "-" : left) + "\t" +
                ((c.leaves & hostile::kUninstaller) ? "yes" : "no") + "\n";
  }
  if (!WriteFile(dir + "manifest.tsv", manifest.data(), manifest.size())) {
    fprintf(stderr, "hostile_gen: cannot write %smanifest.tsv\n", dir.c_str());
    return 1;
  }
  printf("hostile_gen: %zu cases in %s\n", hostile::Cases().size(), dir.c_str());
  return 0;
}
