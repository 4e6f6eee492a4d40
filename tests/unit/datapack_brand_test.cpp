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
#include "datapack_fixture.h"
#include "resource.h"
#include "pe_image.h"
#include "texts.h"

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

// ---- Texts (brand --texts)

std::string ReadRes(const char* name) {
  std::string text;
  FILE* f = fopen((std::string(RES_DIR) + "/" + name).c_str(), "rb");
  if (!f) return text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

TEST(BrandTexts, RefusesWhatSetupExeCannotShowNamingTheLine) {
  const std::string long_text(260, 'x');
  struct Case {
    std::string file;
    unsigned codepage;
    const char* error;  // part of the refusal, "" when accepted
  } cases[] = {
      {"# comment\n\ntitle= Setup\r\nno-package=Datei '%1' fehlt.\n", 1252, ""},
      {"\xEF\xBB\xBFtitle=T\n", 1252, ""},  // a byte order mark
      {"title=T\nno-package=Datei fehlt.\n", 1252, "line 2: no-package lacks %1"},
      {"no-list=%1 und %1\n", 1252, "line 1: no-list holds %1 more than once"},
      {"no-space=%1 voll\n", 1252, "line 1: no-space names no file"},
      {"\n\ntitel=T\n", 1252, "line 3: unknown key 'titel'"},
      {"title=A\ntitle=B\n", 1252, "line 2: title is given a second time"},
      {"title\n", 1252, "line 1: not key=value"},
      {"title=\n", 1252, "line 1: title is empty"},
      {"title=a\tb\n", 1252, "line 1: title holds control character U+0009"},
      {"title=a\xC2\x85"
       "b\n",
       1252, "control character U+0085"},
      {"title=\xC3(\n", 1252, "line 1: title is not UTF-8"},
      {"title=\xE0\x80\xAF\n", 1252, "is not UTF-8"},  // overlong
      {"title=" + std::string(259, 'x') + "\n", 1252, ""},
      {"title=" + long_text + "\n", 1252, "title takes 260 bytes in code page 1252"},
      // 130 characters of two bytes each do not fit 259 bytes of code page 932.
      {"title=" +
           [] {
             std::string s;
             for (int i = 0; i < 130; ++i) s += "\xE3\x81\x82";  // U+3042
             return s;
           }() +
           "\n",
       932, "title takes 260 bytes in code page 932"},
  };
  for (const Case& c : cases) {
    Texts texts;
    std::string error;
    bool ok = ParseTexts(c.file, c.codepage, texts, error);
    if (*c.error == '\0') {
      EXPECT_TRUE(ok) << c.file.substr(0, 40) << ": " << error;
    } else {
      EXPECT_FALSE(ok) << c.file.substr(0, 40);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

TEST(BrandTexts, EnglishExampleGivesTheDefaultTextsByteForByte) {
  Texts texts;
  std::string error;
  ASSERT_TRUE(ParseTexts(ReadRes("texts-en.txt"), 1252, texts, error)) << error;
  EXPECT_TRUE(texts.warnings.empty()) << texts.warnings[0];
  // Every key but the window's message is a string table text.
  ASSERT_EQ(texts.strings.size(), kTextKeyCount - 1);
  for (const auto& s : texts.strings) {
    const TextKey* key = nullptr;
    for (size_t k = 0; k < kTextKeyCount; ++k)
      if (kTextKeys[k].id == s.first) key = &kTextKeys[k];
    ASSERT_NE(key, nullptr) << s.first;
    EXPECT_EQ(std::string(s.second.begin(), s.second.end()), DefaultText(*key)) << key->key;
  }
  EXPECT_EQ(std::string(texts.message.begin(), texts.message.end()), DefaultText(kTextKeys[1]));
}

TEST(BrandTexts, WarnsAboutCharactersTheCodePageLacksAndLongMessages) {
  struct Case {
    const char* file;
    unsigned codepage;
    std::vector<std::string> warnings;  // parts, in order
  } cases[] = {
      {"title= Setup-Programm f\xC3\xBCr Gro\xC3\x9F\n", 1252, {}},
      {"title= Setup-Programm f\xC3\xBCr Gro\xC3\x9F\xC3\xBC\n",  // U+00FC warned once
       932,
       {"line 1: title: character U+00FC is not in code page 932",
        "line 1: title: character U+00DF is not in code page 932"}},
      {"title=\xE3\x82\xBB\xE3\x83\x83\xE3\x83\x88\n", 932, {}},  // katakana
      {"title=\xE3\x82\xBB\n", 1252, {"character U+30BB is not in code page 1252"}},
      {"window-message=Short.\n", 1252, {}},
      {"window-message=Das Setup-Programm bereitet den Assistenten vor, der Sie durch den "
       "Rest der Installation f\xC3\xBChrt. Bitte warten Sie, w\xC3\xA4hrend die notwendigen "
       "Dateien entpackt werden, dies kann einige Minuten dauern, haben Sie bitte Geduld. "
       "Vielen Dank f\xC3\xBCr Ihr Vertrauen.\n",
       1252,
       {"line 1: window-message may need 5 lines; the window shows 4"}},
  };
  for (const Case& c : cases) {
    Texts texts;
    std::string error;
    ASSERT_TRUE(ParseTexts(c.file, c.codepage, texts, error)) << error;
    ASSERT_EQ(texts.warnings.size(), c.warnings.size()) << c.file;
    for (size_t i = 0; i < c.warnings.size(); ++i)
      EXPECT_NE(texts.warnings[i].find(c.warnings[i]), std::string::npos) << texts.warnings[i];
  }
}

TEST(BrandTexts, MessageLinesWrapAtSpacesAndBetweenWideCharacters) {
  auto lines = [](const std::string& ascii) {
    return MessageLines(std::u32string(ascii.begin(), ascii.end()), 1252);
  };
  EXPECT_EQ(lines(DefaultText(kTextKeys[1])), 3);  // the English message as the window shows it
  EXPECT_EQ(lines("a"), 1);
  EXPECT_EQ(lines(std::string(46, 'a')), 1);  // 276 pixels
  EXPECT_EQ(lines(std::string(47, 'a')), 2);  // a word wider than the line breaks inside
  EXPECT_EQ(lines(std::string(46, 'a') + " b"), 2);
  // Japanese has no spaces: it wraps between characters, 23 of 12 pixels to a line.
  EXPECT_EQ(MessageLines(std::u32string(23, U'\u3042'), 932), 1);
  EXPECT_EQ(MessageLines(std::u32string(24, U'\u3042'), 932), 2);
  EXPECT_EQ(MessageLines(std::u32string(93, U'\u3042'), 932), 5);
}

TEST(BrandTexts, StringTableKeepsTheOtherTextsOfItsBlock) {
  Resource table;
  table.type.id = 6;
  table.name.id = 1;
  for (int i = 0; i < 16; ++i) {
    Append16(table.data, i == 3 ? 2 : 0);
    if (i == 3) Append16(table.data, 'h'), Append16(table.data, 'i');
  }
  std::vector<Resource> resources = {table};
  std::string error;
  ASSERT_TRUE(ReplaceStrings(resources, {{2, u"\u00C4x"}}, error)) << error;
  const Bytes& d = resources[0].data;
  ASSERT_EQ(d.size(), 16 * 2 + 2 * 2 + 2 * 2u);
  EXPECT_EQ(Get16(d, 4), 2u);  // id 2: two code units
  EXPECT_EQ(Get16(d, 6), 0xC4u);
  EXPECT_EQ(Get16(d, 8), 'x');
  EXPECT_EQ(Get16(d, 10), 2u);  // id 3 as it was
  EXPECT_EQ(Get16(d, 12), 'h');
  // An id in a block the stub does not have.
  EXPECT_FALSE(ReplaceStrings(resources, {{40, u"x"}}, error));
}

// verify --against: the bootstrapper's message from a branded stub's own templates.
TEST(BrandTexts, VerifyAgainstAStubComposesFromItsTemplates) {
  Resource table;
  table.type.id = 6;
  table.name.id = 1;
  table.language = 0x409;
  table.data.assign(32, 0);
  std::vector<Resource> resources = {table};
  std::string error;
  ASSERT_TRUE(
      ReplaceStrings(resources, {{IDS_CORRUPT_HEAD, u"Die Datei %1 ist besch\u00E4digt."}}, error));
  std::vector<std::pair<uint32_t, std::string>> texts;
  // What marks a file as the setup bootstrapper (its version, window and icon group), which
  // --against also reads the package pin from.
  for (const auto& [type, name] :
       {std::pair<uint32_t, uint32_t>{kRtVersion, 1}, {kRtDialog, 101}, {kRtGroupIcon, 1}}) {
    Resource marker;
    marker.type.id = type;
    marker.name.id = name;
    marker.language = 0x409;
    marker.data.assign(4, 0);
    resources.push_back(marker);
  }
  Bytes image = SmallImage(BuildResources(resources, 0x2000));
  ASSERT_TRUE(ReadStubTexts(image, texts, error)) << error;
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].first, uint32_t(IDS_CORRUPT_HEAD));
  EXPECT_EQ(texts[0].second,
            "Die Datei %1 ist besch\xC3\xA4"
            "digt.");

  dptest::TempDir dir;
  dptest::WriteFile(dir / "setup.exe", image);
  dptest::WriteFile(dir / "_Data.001", std::string("not a package"));
  const std::string package = (dir / "_Data.001").string();
  auto branded = dptest::RunTool({"verify", "--against", (dir / "setup.exe").string(), package});
  EXPECT_EQ(branded.code, 2);
  EXPECT_EQ(branded.out,
            "Die Datei _Data.001 ist besch\xC3\xA4"
            "digt.\n");
  // The next verify has the texts setup.exe is built with again.
  auto plain = dptest::RunTool({"verify", package});
  EXPECT_EQ(plain.out, "Setup program cannot continue because file _Data.001 is corrupted.\n");
  // A file that is not the setup bootstrapper is refused before any package is read.
  dptest::WriteFile(dir / "other.exe", SmallImage(BuildResources({}, 0x2000)));
  auto refused = dptest::RunTool({"verify", "--against", (dir / "other.exe").string(), package});
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("not the setup bootstrapper"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");
}

}  // namespace
}  // namespace datapack
