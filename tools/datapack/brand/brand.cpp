#include "brand.h"

#include <algorithm>

#include "texts.h"

namespace datapack {

namespace {

// setup.exe's resource ids (res/resource.h) and the version fields that identify it.
const uint32_t kIconGroup = 1;          // IDI_SETUP
const uint32_t kDialog = 101;           // IDD_SETUP
const uint32_t kLinkControl = 1003;     // IDC_LINK
const uint32_t kMessageControl = 1001;  // IDC_MESSAGE
const uint32_t kVersionInfo = 1;        // VS_VERSION_INFO
const char16_t kDescription[] = u"Setup program";
const char16_t kComments[] = u"Uncompressor program";

void AppendText(Bytes& b, const std::u16string& s) {  // with its terminating zero
  for (char16_t c : s) Append16(b, c);
  Append16(b, 0);
}
void Pad4(Bytes& b) { b.resize((b.size() + 3) & ~size_t(3), 0); }

// Reads a zero-terminated UTF-16 string at `at`; false when it runs past `end`.
bool ReadText(const Bytes& b, size_t& at, size_t end, std::u16string& s) {
  s.clear();
  for (; at + 2 <= end; at += 2) {
    char16_t c = char16_t(Get16(b, at));
    if (c == 0) {
      at += 2;
      return true;
    }
    s.push_back(c);
  }
  return false;
}

// ---- The dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items)

// Skips a "string or ordinal" field; false when it runs past the end.
bool SkipSzOrOrd(const Bytes& b, size_t& at) {
  if (at + 2 > b.size()) return false;
  uint16_t first = Get16(b, at);
  if (first == 0xFFFF) {
    at += 4;
    return at <= b.size();
  }
  std::u16string ignored;
  return ReadText(b, at, b.size(), ignored);
}

// The template with control `id`'s text replaced; false when it has no such control or is
// not an extended template.
bool ReplaceControlText(const Bytes& in, uint32_t id, const std::u16string& text, Bytes& out) {
  if (in.size() < 26 || Get16(in, 0) != 1 || Get16(in, 2) != 0xFFFF) return false;
  const uint32_t style = Get32(in, 12);
  const size_t count = Get16(in, 16);
  size_t at = 26;
  if (!SkipSzOrOrd(in, at) || !SkipSzOrOrd(in, at)) return false;  // menu, class
  std::u16string ignored;
  if (!ReadText(in, at, in.size(), ignored)) return false;  // title
  if (style & 0x40) {                                       // DS_SETFONT: the font
    at += 6;
    if (at > in.size() || !ReadText(in, at, in.size(), ignored)) return false;
  }
  out.assign(in.begin(), in.begin() + at);
  bool found = false;
  for (size_t i = 0; i < count; ++i) {
    at = (at + 3) & ~size_t(3);
    const size_t start = at;
    if (at + 24 > in.size()) return false;
    const uint32_t item_id = Get32(in, at + 20);
    at += 24;
    if (!SkipSzOrOrd(in, at)) return false;  // class
    const size_t title = at;
    if (!SkipSzOrOrd(in, at) || at + 2 > in.size()) return false;
    const size_t extra = Get16(in, at);
    const size_t after_title = at;
    at += 2 + extra;
    if (at > in.size()) return false;
    Pad4(out);
    if (item_id == id) {
      found = true;
      out.insert(out.end(), in.begin() + start, in.begin() + title);
      AppendText(out, text);
      out.insert(out.end(), in.begin() + after_title, in.begin() + at);
    } else {
      out.insert(out.end(), in.begin() + start, in.begin() + at);
    }
  }
  return found;
}

// ---- The version resource: a tree of (length, value length, type, key, value, children)

struct VersionNode {
  std::u16string key;
  bool text = false;  // wType 1: the value is UTF-16 text
  Bytes value;        // as stored (text: code units and the terminating zero)
  std::vector<VersionNode> children;
};

bool ParseVersion(const Bytes& b, size_t at, size_t end, VersionNode& node, size_t& next) {
  if (at + 6 > end) return false;
  const size_t length = Get16(b, at), value_length = Get16(b, at + 2), type = Get16(b, at + 4);
  if (length < 6 || at + length > end) return false;
  const size_t node_end = at + length;
  node.text = type == 1;
  size_t p = at + 6;
  if (!ReadText(b, p, node_end, node.key)) return false;
  p = (p + 3) & ~size_t(3);
  size_t value_bytes = node.text ? 2 * value_length : value_length;
  if (p + value_bytes > node_end) {
    // Some writers count a text value in bytes; never read past the node.
    if (!node.text || p > node_end) return false;
    value_bytes = node_end - p;
  }
  node.value.assign(b.begin() + p, b.begin() + p + value_bytes);
  p = (p + value_bytes + 3) & ~size_t(3);
  while (p < node_end) {
    node.children.emplace_back();
    if (!ParseVersion(b, p, node_end, node.children.back(), p)) return false;
    p = (p + 3) & ~size_t(3);
  }
  next = node_end;
  return true;
}

void WriteVersion(const VersionNode& node, Bytes& b) {
  Pad4(b);
  const size_t start = b.size();
  Append16(b, 0);
  Append16(b, uint32_t(node.text ? node.value.size() / 2 : node.value.size()));
  Append16(b, node.text ? 1 : 0);
  AppendText(b, node.key);
  Pad4(b);
  b.insert(b.end(), node.value.begin(), node.value.end());
  for (const VersionNode& child : node.children) WriteVersion(child, b);
  Put16(b, start, uint32_t(b.size() - start));
}

// A text value up to its terminating zero (or its end, when it has none).
std::u16string ValueText(const Bytes& v) {
  std::u16string s;
  size_t at = 0;
  ReadText(v, at, v.size(), s);
  return s;
}

// "1.2.3" -> the fixed-info halves (1 << 16 | 2, 3 << 16); false unless 1 to 4 numbers of at
// most 65535.
bool VersionNumbers(const std::string& text, uint32_t& ms, uint32_t& ls) {
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t n = 0, i = 0;
  while (n < 4) {
    size_t start = i;
    uint32_t v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 5)
      v = v * 10 + uint32_t(text[i++] - '0');
    if (i == start || v > 65535) return false;
    parts[n++] = v;
    if (i == text.size()) break;
    if (text[i++] != '.') return false;
  }
  if (i != text.size()) return false;
  ms = parts[0] << 16 | parts[1];
  ls = parts[2] << 16 | parts[3];
  return true;
}

// Applies the maker fields to every string table; false (with `error`) when the resource is
// not setup.exe's.
bool BrandVersion(const Bytes& in, const BrandOptions& o, Bytes& out, std::string& error) {
  VersionNode root;
  size_t next = 0;
  if (!ParseVersion(in, 0, in.size(), root, next) || root.key != u"VS_VERSION_INFO" ||
      root.value.size() < 52) {
    error = "its version resource is damaged";
    return false;
  }
  struct Field {
    const char16_t* key;
    const std::string* value;
    std::u16string text;
  } fields[] = {{u"CompanyName", &o.company, {}},
                {u"ProductName", &o.product, {}},
                {u"ProductVersion", &o.product_version, {}},
                {u"LegalCopyright", &o.copyright, {}}};
  for (Field& f : fields) {
    std::u32string chars;
    if (!DecodeUtf8(*f.value, chars)) {
      error = "a version field is not valid UTF-8";
      return false;
    }
    f.text = Utf16(chars);
  }
  bool identified = false;
  for (VersionNode& block : root.children) {
    if (block.key != u"StringFileInfo") continue;
    for (VersionNode& table : block.children) {
      bool description = false, comments = false;
      for (VersionNode& s : table.children) {
        description |= s.key == u"FileDescription" && ValueText(s.value) == kDescription;
        comments |= s.key == u"Comments" && ValueText(s.value) == kComments;
      }
      if (!description || !comments) continue;
      identified = true;
      for (const Field& f : fields) {
        if (f.value->empty()) continue;
        auto it = std::find_if(table.children.begin(), table.children.end(),
                               [&](const VersionNode& s) { return s.key == f.key; });
        if (it == table.children.end()) {
          table.children.emplace_back();
          it = table.children.end() - 1;
          it->key = f.key;
        }
        it->text = true;
        it->value.clear();
        AppendText(it->value, f.text);
      }
    }
  }
  if (!identified) {
    error =
        "its version resource does not name it \"Setup program\", \"Uncompressor "
        "program\": it is not the setup bootstrapper";
    return false;
  }
  uint32_t ms, ls;
  if (!o.product_version.empty() && VersionNumbers(o.product_version, ms, ls)) {
    Put32(root.value, 16, ms);  // VS_FIXEDFILEINFO.dwProductVersionMS
    Put32(root.value, 20, ls);
  }
  out.clear();
  WriteVersion(root, out);
  return true;
}

std::string SizeList(std::vector<std::pair<int, int>> sizes) {
  std::sort(sizes.begin(), sizes.end(), std::greater<std::pair<int, int>>());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  std::string s;
  for (const auto& wh : sizes)
    s += (s.empty() ? "" : ", ") + std::to_string(wh.first) + " x " + std::to_string(wh.second);
  return s.empty() ? "no images" : s;
}

}  // namespace

bool ParseIcon(const Bytes& ico, std::vector<IconImage>& images, std::string& error) {
  images.clear();
  if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1) {
    error = "not an icon file (no icon directory)";
    return false;
  }
  const size_t count = Get16(ico, 4);
  if (6 + 16 * count > ico.size()) {
    error = "damaged icon file: its directory is cut short";
    return false;
  }
  std::vector<std::pair<int, int>> seen;
  bool has32 = false, has16 = false;
  for (size_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16 * i;
    const uint32_t size = Get32(ico, e + 8), offset = Get32(ico, e + 12);
    if (offset > ico.size() || size > ico.size() - offset || size < 8) {
      error = "damaged icon file: image " + std::to_string(i + 1) + " lies outside it";
      return false;
    }
    Bytes data(ico.begin() + offset, ico.begin() + offset + size);
    const int dir_w = ico[e] ? ico[e] : 256, dir_h = ico[e + 1] ? ico[e + 1] : 256;
    if (data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G') {
      seen.push_back({dir_w, dir_h});
      if ((dir_w == 32 && dir_h == 32) || (dir_w == 16 && dir_h == 16)) {
        error = "its " + std::to_string(dir_w) + " x " + std::to_string(dir_h) +
                " image is PNG-compressed; Windows 95 and NT 4 show bitmap icons only";
        return false;
      }
      continue;
    }
    if (size < 40 || Get32(data, 0) < 40) {
      error = "damaged icon file: image " + std::to_string(i + 1) + " has no bitmap header";
      return false;
    }
    IconImage image;
    image.width = int32_t(Get32(data, 4));
    image.height = int32_t(Get32(data, 8)) / 2;  // the XOR and AND masks, one above the other
    image.bit_count = Get16(data, 14);
    seen.push_back({image.width, image.height});
    if (image.width != image.height || (image.width != 32 && image.width != 16)) continue;
    (image.width == 32 ? has32 : has16) = true;
    image.data = std::move(data);
    images.push_back(std::move(image));
  }
  if (!has32 || !has16) {
    error = std::string("the icon needs a 32 x 32 and a 16 x 16 image; it has ") + SizeList(seen);
    images.clear();
    return false;
  }
  return true;
}

std::string CheckLinkUrl(const std::string& url) {
  if (url.empty() || url.size() > 259)
    return "the address must have 1 to 259 characters (has " + std::to_string(url.size()) + ")";
  for (unsigned char c : url) {
    if (c == '"' || c == '\\') return "the address must not contain double quotes or backslashes";
    if (c < 0x20 || c > 0x7E) return "the address must be printable ASCII";
  }
  return "";
}

namespace {

bool IsResource(const Resource& r, uint32_t type, uint32_t name) {
  return r.type.text.empty() && r.type.id == type && r.name.text.empty() && r.name.id == name;
}

}  // namespace

bool HasSetupResources(const std::vector<Resource>& resources) {
  auto has = [&](uint32_t type, uint32_t name) {
    return std::any_of(resources.begin(), resources.end(),
                       [&](const Resource& r) { return IsResource(r, type, name); });
  };
  return has(kRtVersion, kVersionInfo) && has(kRtDialog, kDialog) && has(kRtGroupIcon, kIconGroup);
}

bool Brand(const Bytes& setup, const BrandOptions& options, Bytes& out, std::string& error) {
  PeImage pe;
  if (!ReadPeImage(setup, pe, error)) return false;
  std::vector<Resource> resources;
  if (!ParseResources(pe.resources, pe.resource_rva, 0, resources, error)) return false;
  auto find = [&](uint32_t type, uint32_t name) {
    return std::find_if(resources.begin(), resources.end(),
                        [&](const Resource& r) { return IsResource(r, type, name); });
  };
  auto version = find(kRtVersion, kVersionInfo);
  auto dialog = find(kRtDialog, kDialog);
  auto group = find(kRtGroupIcon, kIconGroup);
  if (version == resources.end() || dialog == resources.end() || group == resources.end()) {
    error =
        "it lacks setup.exe's resources (version, dialog or icon): it is not the setup "
        "bootstrapper";
    return false;
  }
  Bytes data;
  if (!BrandVersion(version->data, options, data, error)) return false;
  version->data = data;
  std::u16string link;
  for (char c : options.link) link.push_back(char16_t(c));
  if (!ReplaceControlText(dialog->data, kLinkControl, link, data)) {
    error = "its window template has no link label: it is not the setup bootstrapper";
    return false;
  }
  if (!options.link.empty()) dialog->data = data;
  if (!options.message.empty()) {
    if (!ReplaceControlText(dialog->data, kMessageControl, options.message, data)) {
      error = "its window template has no message: it is not the setup bootstrapper";
      return false;
    }
    dialog->data = data;
  }

  if (options.set_icon) {
    // The group's images go; the new ones take the lowest free icon ids.
    const Bytes& old = group->data;
    const uint32_t language = group->language;
    std::vector<uint32_t> old_ids;
    if (old.size() < 6 || 6 + 14 * size_t(Get16(old, 4)) > old.size()) {
      error = "its icon group is damaged";
      return false;
    }
    for (size_t i = 0; i < Get16(old, 4); ++i) old_ids.push_back(Get16(old, 6 + 14 * i + 12));
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource& r) {
                                     return r.type.text.empty() && r.type.id == kRtIcon &&
                                            r.name.text.empty() &&
                                            std::count(old_ids.begin(), old_ids.end(), r.name.id);
                                   }),
                    resources.end());
    Bytes dir;
    Append16(dir, 0);
    Append16(dir, 1);
    Append16(dir, uint32_t(options.icon.size()));
    uint32_t id = 1;
    std::vector<Resource> added;
    for (const IconImage& image : options.icon) {
      while (find(kRtIcon, id) != resources.end()) ++id;
      dir.push_back(uint8_t(image.width));
      dir.push_back(uint8_t(image.height));
      dir.push_back(uint8_t(image.bit_count < 8 ? 1 << image.bit_count : 0));
      dir.push_back(0);
      Append16(dir, 1);  // planes
      Append16(dir, uint32_t(image.bit_count));
      Append16(dir, uint32_t(image.data.size()) & 0xFFFF);
      Append16(dir, uint32_t(image.data.size()) >> 16);
      Append16(dir, id);
      Resource r;
      r.type.id = kRtIcon;
      r.name.id = id++;
      r.language = language;
      r.data = image.data;
      added.push_back(std::move(r));
    }
    group = find(kRtGroupIcon, kIconGroup);
    group->data = dir;
    resources.insert(resources.end(), added.begin(), added.end());
  }
  // Last: both may add resources, and so move those `version`, `dialog` and `group` point at.
  if (options.pin_change != PinChange::kKeep)
    SetPinResource(resources, options.pin_change == PinChange::kSet ? &options.pin : nullptr);
  if (!ReplaceStrings(resources, options.strings, error)) return false;
  out = ReplaceResources(setup, pe, BuildResources(resources, pe.resource_rva));
  return true;
}

}  // namespace datapack
