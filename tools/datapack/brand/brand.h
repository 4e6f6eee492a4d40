// `datapack brand`: the release setup.exe with a packager's icon, link address and maker
// fields, made by rewriting its resources only (pe_image.h), never its code.
//
// brand/ owns everything that reads or rewrites setup.exe: the PE image, resources and
// icons, the texts (texts.h) and the pin (stub_pin.h). It includes walk/ (to read the pinned
// package) and platform/.
//
// What can change:
//   - the icon (group 1, shown on the window and by the shell): the 32 x 32 and 16 x 16
//     images of an .ico file, every colour depth it has of those sizes;
//   - the link label's text in the dialog template IDD_SETUP (control IDC_LINK): the address
//     the window shows and a click opens;
//   - the package pin (format.h): set, kept as it is, or removed;
//   - the texts the window and its message boxes show (texts.h): the string table, and the
//     message control's text in the dialog template;
//   - in the version resource: CompanyName, ProductName, ProductVersion, LegalCopyright (and
//     the fixed product version numbers when ProductVersion is "a[.b[.c[.d]]]").
// What stays: FileDescription "Setup program" and Comments "Uncompressor program" (they
// identify the program), the cursor, the window's layout, the file version.
#ifndef DATAPACK_BRAND_H
#define DATAPACK_BRAND_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pe_image.h"
#include "stub_pin.h"

namespace datapack {

// One image of an .ico file.
struct IconImage {
  int width = 0, height = 0;  // pixels (from the bitmap header)
  int bit_count = 0;          // bits per pixel
  Bytes data;                 // BITMAPINFOHEADER, colour table, XOR and AND masks
};

// Reads an .ico file and keeps its 32 x 32 and 16 x 16 images, in file order. False with
// `error` when the file is damaged, when a kept image is PNG-compressed (Windows 95 and NT 4,
// where setup.exe must run, read bitmaps only), or when either size is missing: the error
// then names the sizes the file has.
bool ParseIcon(const Bytes& ico, std::vector<IconImage>& images, std::string& error);

// The link rule of the build option SETUP_LINK_URL: 1 to 259 characters (the label's text is
// read back into a 260-byte buffer), none of them '"' or '\' (they would break the resource
// script of a build with that address); printable ASCII only, since the label's text is read
// back in the user's ANSI code page. "" when `url` is fine, else the reason.
std::string CheckLinkUrl(const std::string& url);

struct BrandOptions {
  bool set_icon = false;
  std::vector<IconImage> icon;
  std::string link;     // "" keeps the address
  std::string company;  // UTF-8; "" keeps the field (as do the ones below)
  std::string product;
  std::string product_version;
  std::string copyright;
  PinChange pin_change = PinChange::kKeep;                   // what happens to the package pin
  PackagePin pin{};                                          // the new pin, for PinChange::kSet
  std::u16string message;                                    // the window's message; "" keeps it
  std::vector<std::pair<uint32_t, std::u16string>> strings;  // string table texts by id
};

// Whether `resources` hold what identifies the setup bootstrapper: its version resource,
// its window template and its icon group.
bool HasSetupResources(const std::vector<Resource>& resources);

// Branding `setup` (the file's bytes) as `options` say into `out`. Returns false with
// `error` (a sentence for the user) when the file is not a setup.exe that can be rewritten
// safely: not a Windows program, damaged, signed, laid out otherwise (pe_image.h), or
// lacking setup.exe's resources (the identifying version fields, the dialog and its link
// label, the icon group).
bool Brand(const Bytes& setup, const BrandOptions& options, Bytes& out, std::string& error);

}  // namespace datapack

#endif
