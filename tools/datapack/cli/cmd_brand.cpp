// datapack brand: a copy of the release setup.exe with the packager's icon, link address and
// maker fields (brand.h says what can change and what cannot).
#include <stdio.h>

#include "brand.h"
#include "codepage.h"
#include "commands.h"
#include "messages.h"
#include "platform.h"
#include "tempfiles.h"
#include "texts.h"

namespace datapack {

const char kBrandHelp[] =
    "Usage: datapack brand [OPTIONS] -o OUTPUT SETUP.EXE\n"
    "Writes a copy of the release setup.exe with your own icon, link address and version\n"
    "fields. Only the resources are rewritten, never the code; the same inputs always give\n"
    "the same bytes. Brand first, then sign the branded copy: a signed file is refused.\n"
    "\n"
    "  -i, --icon FILE.ico       the window's and the file's icon: the file's 32 x 32 and\n"
    "                            16 x 16 images (both needed, as bitmaps; every colour depth\n"
    "                            it has of those sizes is kept, other sizes are left out)\n"
    "  -l, --link URL            the address the window shows and a click opens: 1 to 259\n"
    "                            printable ASCII characters, no '\"' or '\\'\n"
    "      --company TEXT        version field CompanyName\n"
    "      --product TEXT        version field ProductName\n"
    "      --product-version TEXT  version field ProductVersion (and, when it is numbers\n"
    "                            such as 2.1.0, the fixed product version)\n"
    "      --copyright TEXT      version field LegalCopyright\n"
    "      --pin PACKAGE         bind the copy to PACKAGE: it stores the package's length and\n"
    "                            SHA-256, and refuses every other package before unpacking\n"
    "                            anything (PACKAGE is first verified; one the bootstrapper\n"
    "                            would refuse is not pinned)\n"
    "      --unpin               remove the pin: the copy runs any package again\n"
    "      --texts FILE          the texts the window and its messages show, in your\n"
    "                            language (below)\n"
    "      --codepage N          the Windows ANSI code page of the users the texts are\n"
    "                            for (default 1252): texts are measured in it, and every\n"
    "                            character it lacks is warned about\n"
    "  -o, --output FILE         the branded copy (required); - writes it to standard output\n"
    "                            (never a terminal; the summary then goes to standard error)\n"
    "  -f, --force               replace an existing output file\n"
    "\n"
    "Version fields are UTF-8, at most 256 characters, no control characters. FileDescription\n"
    "(\"Setup program\"), Comments (\"Uncompressor program\"), the file version and the\n"
    "window's layout stay as they are; so do the texts unless --texts, and a pin unless --pin\n"
    "or --unpin.\n"
    "Sign the pinned copy: the signature then covers the package too ('datapack verify\n"
    "--against SETUP.EXE PACKAGE' says whether a package is the pinned one).\n"
    "\n"
    "The texts FILE is UTF-8, one key=value line per text, '#' starts a comment line; the\n"
    "value is everything after '=', spaces included. Keys left out keep their text. %1\n"
    "stands for the file's name, exactly once in the messages that have it below and\n"
    "nowhere else. Each text takes at most 259 bytes in the code page. The keys and their\n"
    "English texts (res/texts-en.txt):\n"
    "  title=" TEXT_TITLE
    "\n"
    "  window-message=" TEXT_PREPARING
    "\n"
    "  need-win32=" TEXT_NEED_WIN32
    "\n"
    "  no-temp=" TEXT_NO_TEMP
    "\n"
    "  no-package=" TEMPLATE_NO_PACKAGE
    "\n"
    "  corrupt-package=" TEMPLATE_CORRUPT
    "\n"
    "  no-list=" TEMPLATE_NO_LIST
    "\n"
    "  corrupt-list=" TEMPLATE_LIST_CORRUPT
    "\n"
    "  no-space=" TEXT_NO_SPACE
    "\n"
    "  cannot-copy=" TEMPLATE_CANNOT_COPY
    "\n"
    "  cannot-run=" TEMPLATE_CANNOT_RUN
    "\n"
    "The title is also every message box's caption. The window's message must fit 4 lines\n"
    "of its box (the window does not grow); a longer one is warned about.\n"
    "\n"
    "Exit status: 0 written, 1 usage error, an existing output without --force or an output\n"
    "that is not a regular file (a folder, for one), 2 a SETUP.EXE, icon, package to pin or\n"
    "texts file that cannot be used (the reason is printed), 3 I/O error.\n";

namespace {

bool ReadWhole(const std::string& arg, Bytes& bytes, std::string& error) {
  FILE* f = OpenRead(PathFromNative(arg), error);
  if (!f) return false;
  bytes.clear();
  unsigned char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) error = "read failed";
  return !failed;
}

// A maker field: "" when fine, else the reason.
std::string CheckField(const std::string& text) {
  size_t chars = 0;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return "must not contain control characters";
    chars += (c & 0xC0) != 0x80;
  }
  if (chars > 256) return "must have at most 256 characters";
  return "";
}

}  // namespace

int CommandBrand(const std::vector<std::string>& args, Console& console) {
  static const std::vector<OptionSpec> kSpecs = {
      {"icon", 'i', true},   {"link", 'l', true},          {"company", 0, true},
      {"product", 0, true},  {"product-version", 0, true}, {"copyright", 0, true},
      {"output", 'o', true}, {"force", 'f', false},        {"pin", 0, true},
      {"unpin", 0, false},   {"texts", 0, true},           {"codepage", 0, true}};
  Options o;
  std::string error;
  if (!ParseOptions(args, kSpecs, o, error)) return UsageError(console, "brand", error);
  if (o.operands.size() != 1) return UsageError(console, "brand", "name one SETUP.EXE");
  if (!o.Has("output")) return UsageError(console, "brand", "the output file (-o) is required");
  const std::string in_name = o.operands[0], out_name = o.Get("output");
  const bool to_stdout = out_name == "-";
  if (to_stdout && console.out_is_terminal)
    return Fail(console, kExitUsage, out_name,
                "standard output is a terminal: redirect it to a file or a pipe, or give -o FILE");

  // The fields go into the version resource as UTF-16. Arguments are UTF-8 on POSIX and in
  // the ANSI code page on Windows; a path's UTF-8 form converts either.
  auto utf8 = [&](const char* name) { return PathFromNative(o.Get(name)).u8string(); };
  BrandOptions b;
  b.link = o.Get("link");
  const std::pair<const char*, std::string*> fields[] = {{"company", &b.company},
                                                         {"product", &b.product},
                                                         {"product-version", &b.product_version},
                                                         {"copyright", &b.copyright}};
  if (o.Has("pin") && o.Has("unpin"))
    return UsageError(console, "brand", "give --pin or --unpin, not both");
  bool change =
      o.Has("icon") || !b.link.empty() || o.Has("pin") || o.Has("unpin") || o.Has("texts");
  for (const auto& field : fields) {
    *field.second = utf8(field.first);
    change |= !field.second->empty();
  }
  if (!change)
    return UsageError(console, "brand",
                      "nothing to change: give --icon, --link, --texts, a field, --pin or --unpin");
  unsigned codepage = 1252;
  if (o.Has("codepage")) {
    const std::string n = o.Get("codepage");
    if (!o.Has("texts")) return UsageError(console, "brand", "--codepage goes with --texts");
    if (n.empty() || n.size() > 5 || n.find_first_not_of("0123456789") != std::string::npos ||
        !CodePageKnown(codepage = unsigned(std::stoul(n))))
      return UsageError(console, "brand", "--codepage: '" + n + "' is no code page known here");
  }
  if (o.Has("link")) {
    std::string why = CheckLinkUrl(b.link);
    if (!why.empty()) return UsageError(console, "brand", "--link: " + why);
  }
  for (const auto& field : fields) {
    std::string why = CheckField(*field.second);
    if (!why.empty())
      return UsageError(console, "brand", std::string("--") + field.first + " " + why);
  }

  // The output name itself is replaced, a symbolic link included.
  const fs::path output = PathFromNative(out_name);
  if (!to_stdout)
    if (int code = CheckOutput(
            console, out_name, output, output, o.Has("force"), "",
            {{PathFromNative(in_name), "is SETUP.EXE itself: write the copy elsewhere"}}))
      return code;
  if (o.Has("icon")) {
    const std::string icon_name = o.Get("icon");
    Bytes ico;
    if (!ReadWhole(icon_name, ico, error)) return Fail(console, kExitIo, icon_name, error);
    if (!ParseIcon(ico, b.icon, error)) return Fail(console, kExitInvalid, icon_name, error);
    b.set_icon = true;
  }
  if (o.Has("pin")) {
    if (int code = PinPackageFile(console, o.Get("pin"), b.pin)) return code;
    b.pin_change = PinChange::kSet;
  } else if (o.Has("unpin")) {
    b.pin_change = PinChange::kRemove;
  }
  if (o.Has("texts")) {
    const std::string texts_name = o.Get("texts");
    Bytes file;
    if (!ReadWhole(texts_name, file, error)) return Fail(console, kExitIo, texts_name, error);
    Texts texts;
    if (!ParseTexts(std::string(file.begin(), file.end()), codepage, texts, error))
      return Fail(console, kExitInvalid, texts_name, error);
    for (const std::string& warning : texts.warnings) Warn(console, texts_name, warning);
    b.message = texts.message;
    b.strings = texts.strings;
  }
  Bytes setup, branded;
  if (!ReadWhole(in_name, setup, error)) return Fail(console, kExitIo, in_name, error);
  if (!Brand(setup, b, branded, error))
    return Fail(console, kExitInvalid, in_name, "cannot brand this file: " + error);
  auto write = [&](FILE* f) {
    if (fwrite(branded.data(), 1, branded.size(), f) == branded.size()) return int(kExitOk);
    return Fail(console, kExitIo, out_name, ErrnoText());
  };
  if (to_stdout) {
    // As "create -o -": the copy on standard output (main reports a failed write), the
    // summary on standard error.
    UseBinaryMode(stdout);
    if (!console.out.write((const char*)branded.data(), (std::streamsize)branded.size()))
      return kExitIo;
  } else if (const int code =
                 WriteThroughTemporary(console, out_name, output, o.Has("force"), write)) {
    return code;
  }
  (to_stdout ? console.err : console.out)
      << out_name << ": branded copy of " << in_name << ", " << branded.size() << " bytes"
      << (o.Has("pin") ? ", pinned to " + o.Get("pin") : "") << "\n";
  return kExitOk;
}

}  // namespace datapack
