// datapack brand's parts: the icon reader, the link rule, the resource tree written and read
// back, and a small image rewritten around a bigger resource section.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brand.h"
#include "pe_image.h"

namespace datapack {
namespace {

// An image entry of an .ico file: `png` gives a PNG signature instead of a bitmap header.
struct IcoImage {
  int size;
  int bits;
  bool png = false;
};

Bytes MakeIco(const std::vector<IcoImage>& images) {
  Bytes ico(6 + 16 * images.size(), 0);
  Put16(ico, 2, 1);
  Put16(ico, 4, uint32_t(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const IcoImage& im = images[i];
    Bytes data(40 + 64, 0x5A);
    if (im.png) {
      const char sig[] = "\x89PNG\r\n\x1a\n";
      std::copy(sig, sig + 8, data.begin());
    } else {
      Put32(data, 0, 40);
      Put32(data, 4, uint32_t(im.size));
      Put32(data, 8, uint32_t(im.size * 2));
      Put16(data, 12, 1);
      Put16(data, 14, uint32_t(im.bits));
    }
    size_t e = 6 + 16 * i;
    ico[e] = ico[e + 1] = uint8_t(im.size == 256 ? 0 : im.size);
    Put32(ico, e + 8, uint32_t(data.size()));
    Put32(ico, e + 12, uint32_t(ico.size()));
    ico.insert(ico.end(), data.begin(), data.end());
  }
  return ico;
}

TEST(BrandIcon, KeepsBothSizesAtEveryDepthAndNamesWhatIsMissing) {
  struct Case {
    std::vector<IcoImage> images;
    size_t kept;        // images kept when accepted
    const char* error;  // part of the refusal, "" when accepted
  } cases[] = {
      {{{32, 4}, {16, 4}}, 2, ""},
      {{{48, 32}, {32, 4}, {32, 32}, {16, 4}, {16, 8}}, 4, ""},  // 48 x 48 left out
      {{{256, 32, true}, {32, 8}, {16, 8}}, 2, ""},              // a large PNG left out
      {{{48, 32}, {32, 4}}, 0, "needs a 32 x 32 and a 16 x 16 image; it has 48 x 48, 32 x 32"},
      {{{16, 4}}, 0, "it has 16 x 16"},
      {{}, 0, "it has no images"},
      {{{32, 32, true}, {16, 4}}, 0, "32 x 32 image is PNG-compressed"},
  };
  for (const Case& c : cases) {
    std::vector<IconImage> kept;
    std::string error;
    bool ok = ParseIcon(MakeIco(c.images), kept, error);
    SCOPED_TRACE(c.error);
    EXPECT_EQ(ok, c.error[0] == 0) << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(kept.size(), c.kept);
  }
  std::vector<IconImage> kept;
  std::string error;
  Bytes cut = MakeIco({{32, 4}, {16, 4}});
  cut.resize(cut.size() - 1);
  EXPECT_FALSE(ParseIcon(cut, kept, error));
  EXPECT_EQ(error, "damaged icon file: image 2 lies outside it");
  EXPECT_FALSE(ParseIcon(Bytes{'M', 'Z', 0, 0, 0, 0}, kept, error));
}

TEST(BrandIcon, ReadsTheReleaseIcon) {
  FILE* f = fopen(SETUP_ICO, "rb");
  ASSERT_NE(f, nullptr);
  Bytes ico;
  int c;
  while ((c = fgetc(f)) != EOF) ico.push_back(uint8_t(c));
  fclose(f);
  std::vector<IconImage> images;
  std::string error;
  ASSERT_TRUE(ParseIcon(ico, images, error)) << error;
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].width, 32);
  EXPECT_EQ(images[0].bit_count, 4);
  EXPECT_EQ(images[1].width, 16);
  EXPECT_EQ(images[1].height, 16);
  // 40-byte header, 16 colours, 4-bit XOR mask and 1-bit AND mask (rows padded to 4 bytes).
  EXPECT_EQ(images[1].data.size(), 40u + 64 + 16 * 8 + 16 * 4);
}

TEST(BrandLink, FollowsTheBuildOptionsRule) {
  EXPECT_EQ(CheckLinkUrl("https://example.com/"), "");
  EXPECT_EQ(CheckLinkUrl(std::string(259, 'a')), "");
  EXPECT_NE(CheckLinkUrl(std::string(260, 'a')).find("has 260"), std::string::npos);
  EXPECT_NE(CheckLinkUrl("").find("has 0"), std::string::npos);
  EXPECT_NE(CheckLinkUrl("http://a/\"b").find("double quotes"), std::string::npos);
  EXPECT_NE(CheckLinkUrl("http://a\\b").find("backslashes"), std::string::npos);
  EXPECT_NE(CheckLinkUrl("http://\xC3\xA9.example/").find("ASCII"), std::string::npos);
  EXPECT_NE(CheckLinkUrl("http://a/\tb").find("ASCII"), std::string::npos);
}

Resource Res(uint32_t type, const std::u16string& name_text, uint32_t name, uint32_t lang,
             const std::string& data) {
  Resource r;
  r.type.id = type;
  r.name.text = name_text;
  r.name.id = name;
  r.language = lang;
  r.codepage = 1252;
  r.data.assign(data.begin(), data.end());
  return r;
}

TEST(BrandResources, TreeWrittenReadsBackTheSameInAnyOrder) {
  std::vector<Resource> in = {Res(kRtVersion, u"", 1, 0x409, "version"),
                              Res(kRtIcon, u"", 2, 0x409, "icon two"),
                              Res(kRtIcon, u"", 1, 0x409, "icon one, longer"),
                              Res(kRtDialog, u"MAIN", 0, 0x407, "named dialog"),
                              Res(kRtDialog, u"", 101, 0x409, "dialog"),
                              Res(kRtDialog, u"", 101, 0x407, "dialog, German")};
  const uint32_t rva = 0x5000;
  Bytes section = BuildResources(in, rva);
  std::vector<Resource> reversed(in.rbegin(), in.rend());
  EXPECT_EQ(BuildResources(reversed, rva), section);

  std::vector<Resource> out;
  std::string error;
  ASSERT_TRUE(ParseResources(section, rva, 0, out, error)) << error;
  // The loader's order: types ascending; names before numbers; languages ascending.
  const char* expected[] = {"icon one, longer", "icon two", "named dialog",
                            "dialog, German",   "dialog",   "version"};
  ASSERT_EQ(out.size(), 6u);
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(std::string(out[i].data.begin(), out[i].data.end()), expected[i]);
    EXPECT_EQ(out[i].codepage, 1252u);
  }
  EXPECT_EQ(out[2].name.text, u"MAIN");
  EXPECT_EQ(out[3].language, 0x407u);
  // Root: no named types, three numbered ones; the first data entry's RVA is 8-aligned.
  EXPECT_EQ(Get32(section, 12), 3u << 16);
  EXPECT_EQ(out[0].type.id, uint32_t(kRtIcon));

  // A data entry whose data would run past the section is refused, not read. The entries
  // follow the directories: root 16 + 3 * 8, types 32 + 32 + 24, names 24 + 24 + 24 + 32 + 24.
  Bytes broken = section;
  EXPECT_EQ((Get32(section, 256) - rva) % 8, 0u);
  ASSERT_EQ(Get32(section, 256 + 4), 16u);  // "icon one, longer"
  Put32(broken, 256 + 4, uint32_t(section.size()));
  EXPECT_FALSE(ParseResources(broken, rva, 0, out, error));
  EXPECT_NE(error.find("outside"), std::string::npos) << error;
}

// A small PE32 image: .text at 0x1000, .rsrc at 0x2000, .reloc at 0x3000, 0x200 bytes each.
Bytes SmallImage(const Bytes& rsrc) {
  const size_t pe = 0x40, opt = pe + 24, sections = opt + 224;
  Bytes f(0x200, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, pe);
  Put32(f, pe, 0x4550);
  Put16(f, pe + 4, 0x14C);
  Put16(f, pe + 6, 3);
  Put16(f, pe + 20, 224);
  Put16(f, opt, 0x10B);
  Put32(f, opt + 8, 0x400);  // initialised data: .rsrc and .reloc
  Put32(f, opt + 32, 0x1000);
  Put32(f, opt + 36, 0x200);
  Put32(f, opt + 56, 0x4000);
  Put32(f, opt + 92, 16);
  Put32(f, opt + 96 + 2 * 8, 0x2000);
  Put32(f, opt + 96 + 2 * 8 + 4, uint32_t(rsrc.size()));
  Put32(f, opt + 96 + 5 * 8, 0x3000);
  Put32(f, opt + 96 + 5 * 8 + 4, 12);
  const char* names[] = {".text", ".rsrc", ".reloc"};
  for (uint32_t i = 0; i < 3; ++i) {
    size_t h = sections + 40 * i;
    std::copy(names[i], names[i] + strlen(names[i]), f.begin() + h);
    Put32(f, h + 8, i == 1 ? uint32_t(rsrc.size()) : 12);
    Put32(f, h + 12, 0x1000 * (i + 1));
    Put32(f, h + 16, 0x200);
    Put32(f, h + 20, 0x200 * (i + 1));
    Put32(f, h + 36, i == 0 ? 0x60000020 : 0x40000040);
  }
  Bytes text(0x200, 0xC3), reloc(0x200, 0);
  Put32(reloc, 0, 0x1000);  // one block: page 0x1000, 12 bytes, two entries
  Put32(reloc, 4, 12);
  Put16(reloc, 8, 0x3010);
  f.insert(f.end(), text.begin(), text.end());
  Bytes r = rsrc;
  r.resize(0x200, 0);
  f.insert(f.end(), r.begin(), r.end());
  f.insert(f.end(), reloc.begin(), reloc.end());
  Put32(f, opt + 64, PeChecksum(f, opt + 64));
  return f;
}

TEST(BrandImage, GrowsTheResourcesAndMovesTheRelocationsAfterThem) {
  const size_t opt = 0x40 + 24, sections = opt + 224;
  Bytes small = BuildResources({Res(kRtVersion, u"", 1, 0x409, "v")}, 0x2000);
  Bytes file = SmallImage(small);
  PeImage pe;
  std::string error;
  ASSERT_TRUE(ReadPeImage(file, pe, error)) << error;
  EXPECT_EQ(pe.resource_section, 1u);

  Bytes big = BuildResources({Res(kRtVersion, u"", 1, 0x409, std::string(0x1234, 'x'))}, 0x2000);
  Bytes out = ReplaceResources(file, pe, big);
  // .rsrc: 0x1234 + tree bytes, raw size rounded to 0x200; .reloc moved to the next page.
  const uint32_t raw = (uint32_t(big.size()) + 0x1FF) & ~0x1FFu;
  EXPECT_EQ(Get32(out, sections + 40 + 8), big.size());
  EXPECT_EQ(Get32(out, sections + 40 + 16), raw);
  EXPECT_EQ(Get32(out, sections + 80 + 12), 0x4000u);
  EXPECT_EQ(Get32(out, sections + 80 + 20), 0x400 + raw);
  EXPECT_EQ(Get32(out, opt + 96 + 5 * 8), 0x4000u);         // relocation directory
  EXPECT_EQ(Get32(out, opt + 96 + 2 * 8 + 4), big.size());  // resource directory size
  EXPECT_EQ(Get32(out, opt + 56), 0x5000u);                 // SizeOfImage
  EXPECT_EQ(Get32(out, opt + 8), 0x200 + raw);              // initialised data
  EXPECT_EQ(Get32(out, opt + 64), PeChecksum(out, opt + 64));
  EXPECT_EQ(out.size(), 0x400 + raw + 0x200);
  EXPECT_TRUE(std::equal(file.begin() + 0x200, file.begin() + 0x400, out.begin() + 0x200));
  EXPECT_TRUE(std::equal(file.begin() + 0x600, file.end(), out.begin() + 0x400 + raw));
  ASSERT_TRUE(ReadPeImage(out, pe, error)) << error;
  std::vector<Resource> back;
  ASSERT_TRUE(ParseResources(pe.resources, pe.resource_rva, 0, back, error)) << error;
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].data.size(), 0x1234u);

  // Not a setup.exe: a Windows program without its resources.
  Bytes branded;
  BrandOptions options;
  options.company = "Maker";
  EXPECT_FALSE(Brand(file, options, branded, error));
  EXPECT_NE(error.find("not the setup bootstrapper"), std::string::npos) << error;
}

TEST(BrandImage, RefusesWhatItCannotRewriteSafely) {
  const size_t opt = 0x40 + 24, sections = opt + 224;
  Bytes good = SmallImage(BuildResources({Res(kRtVersion, u"", 1, 0x409, "v")}, 0x2000));
  // `readable`: the resources can still be read (PeRead::kInspect, for the package pin),
  // since nothing is to be rewritten.
  struct Case {
    const char* error;
    void (*damage)(Bytes&);
    bool readable;
  } cases[] = {
      {"it is signed",
       [](Bytes& f) { Put32(f, opt + 96 + 4 * 8, 0x800), Put32(f, opt + 100 + 32, 8); }, true},
      {"8 bytes follow its last section", [](Bytes& f) { f.resize(f.size() + 8, 0); }, true},
      {"not the last section", [](Bytes& f) { Put32(f, opt + 96 + 5 * 8, 0); }, true},
      {"no MZ header", [](Bytes& f) { f[0] = 'X'; }, false},
      {"no PE signature", [](Bytes& f) { f[0x40] = 'X'; }, false},
      {"section data outside the file", [](Bytes& f) { Put32(f, sections + 80 + 16, 0x400); },
       false},
      {"symbol table", [](Bytes& f) { Put32(f, 0x40 + 12, 0x100); }, true},
      {"has no resources", [](Bytes& f) { Put32(f, opt + 96 + 2 * 8, 0); }, false},
  };
  for (const Case& c : cases) {
    Bytes f = good;
    c.damage(f);
    PeImage pe;
    std::string error;
    EXPECT_FALSE(ReadPeImage(f, pe, error)) << c.error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_EQ(ReadPeImage(f, pe, error, PeRead::kInspect), c.readable) << c.error << ": " << error;
  }
}

}  // namespace
}  // namespace datapack
