// setup.exe branded with the example texts (res/texts-de.txt, res/texts-ja.txt) as datapack
// brand --texts makes it, run under Wine in a German and a Japanese locale: the title, the
// window's message and two failure messages, read back as the user sees them, in UTF-16 (the
// W calls), after setup.exe's ANSI calls have been through the locale's code page.
//
// Wine takes a process's ANSI code page from the Unix locale it starts with (LC_ALL), and a
// program started by another Windows program inherits its Unix environment, whatever the
// Windows environment says. So the locale is set on this test program by ctest
// (CMakeLists.txt, by the case's name), and each case first checks that it took.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brand.h"
#include "harness.h"
#include "setup_scenarios.h"
#include "texts.h"

namespace e2e {
namespace {

constexpr int kMessageControl = 1001;  // IDC_MESSAGE

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &w[0], n);
  return w;
}

std::wstring WindowTextW(HWND hwnd) {
  wchar_t buf[1024] = L"";
  GetWindowTextW(hwnd, buf, 1024);
  return buf;
}

// The value of `key` in texts file `text` (UTF-8), "%1" replaced by `name`.
std::wstring Expected(const std::string& text, const std::string& key, const std::string& name) {
  size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return L"";
  at += key.size() + 2;
  std::string value = text.substr(at, text.find('\n', at) - at);
  if (!value.empty() && value.back() == '\r') value.pop_back();
  size_t ph = value.find("%1");
  if (ph != std::string::npos) value.replace(ph, 2, name);
  return Wide(value);
}

struct TextsCase {
  const char* name;
  const char* file;          // in res/
  unsigned codepage;         // --codepage
  unsigned locale_codepage;  // the ANSI code page of the locale ctest runs the case in
  bool exact;                // the locale's code page holds every character of the texts
};

// What the user sees: exactly the text, or, where the locale's code page lacks a character,
// '?' or a plain ASCII look-alike in its place and nothing else (no stray bytes of a
// misread multi-byte character, nothing cut).
void ExpectShown(const std::wstring& shown, const std::wstring& text, bool exact,
                 const char* what) {
  if (exact) {
    EXPECT_EQ(shown, text) << what;
    return;
  }
  ASSERT_EQ(shown.size(), text.size()) << what;
  // Every non-ASCII character of the German texts is one code page 932 lacks.
  bool lacking = false, replaced = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < 0x80) {
      EXPECT_EQ(shown[i], text[i]) << what << " at " << i;
      continue;
    }
    lacking = true;
    if (shown[i] != text[i]) {
      EXPECT_LT(shown[i], 0x80) << what << " at " << i;
      replaced = true;
    }
  }
  EXPECT_EQ(replaced, lacking) << what << ": the code page lacks characters, yet they show";
}

class SetupTexts : public ::testing::TestWithParam<TextsCase> {};

TEST_P(SetupTexts, ShowsTheBrandedTextsInTheLocale) {
  const TextsCase& c = GetParam();
  ASSERT_EQ(GetACP(), c.locale_codepage) << "the case's locale (LC_ALL, set by ctest) did not take";
  Scenario s;
  ASSERT_TRUE(s.ok());
  std::string texts_file, setup;
  ASSERT_TRUE(ReadBytes(WinPath(std::string(E2E_RES_DIR) + "/" + c.file), &texts_file));
  ASSERT_TRUE(ReadBytes(SetupExe(), &setup));
  datapack::Texts texts;
  std::string error;
  ASSERT_TRUE(datapack::ParseTexts(texts_file, c.codepage, texts, error)) << error;
  datapack::BrandOptions options;
  options.message = texts.message;
  options.strings = texts.strings;
  datapack::Bytes branded;
  ASSERT_TRUE(datapack::Brand(datapack::Bytes(setup.begin(), setup.end()), options, branded, error))
      << error;
  const std::string exe = s.StartPath("setup.exe");
  ASSERT_TRUE(WriteBytes(exe, std::string(branded.begin(), branded.end())));

  const std::wstring title = Expected(texts_file, "title", "");
  struct Failure {
    const char* key;
    const char* package;  // "_Data.001"'s bytes; nullptr for none
  } failures[] = {{"no-package", nullptr}, {"corrupt-package", "not a package at all"}};
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.key);
    const std::string package = s.StartPath("_Data.001");
    DeleteFileA(package.c_str());
    if (f.package) {
      ASSERT_TRUE(WriteBytes(package, f.package));
    }
    Process p = s.Start(exe);
    ASSERT_TRUE(p.started()) << "CreateProcessA error " << p.start_error();
    MessageBoxInfo box;
    ASSERT_TRUE(WaitForSetupMessage(p, &box)) << "no message box";
    HWND window = FindSetupWindow(p);
    ASSERT_NE(window, nullptr);
    ExpectShown(WindowTextW(window), title, c.exact, "window title");
    ExpectShown(WindowTextW(GetDlgItem(window, kMessageControl)),
                Expected(texts_file, "window-message", ""), c.exact, "window message");
    ExpectShown(WindowTextW(box.hwnd), title, c.exact, "box caption");
    ExpectShown(WindowTextW(GetDlgItem(box.hwnd, 0xFFFF)), Expected(texts_file, f.key, "_Data.001"),
                c.exact, "box text");
    AnswerMessageBox(box.hwnd);
    DWORD code = 1;
    EXPECT_TRUE(p.WaitExit(kDefaultTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Locales, SetupTexts,
    ::testing::Values(TextsCase{"GermanInGerman", "texts-de.txt", 1252, 1252, true},
                      TextsCase{"JapaneseInJapanese", "texts-ja.txt", 932, 932, true},
                      TextsCase{"GermanInJapanese", "texts-de.txt", 1252, 932, false}),
    [](const ::testing::TestParamInfo<TextsCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
