// The setup run's pure decisions: disk space, messages, working folder, paths, file table,
// the check of the setup program.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "bytereader.h"
#include "buffers.h"
#include "digest.h"
#include "diskspace.h"
#include "expected_texts.h"
#include "failure.h"
#include "filetable.h"
#include "paths.h"
#include "messages.h"
#include "resource.h"
#include "watchrule.h"

namespace {

// --- Disk space ---------------------------------------------------------------------------

TEST(RunDiskSpace, EqualIsRefusedOneMoreIsAccepted) {
  // 1000 clusters of 8 sectors of 512 bytes: 4,096,000 bytes free.
  EXPECT_FALSE(HasRoomFor(1000, 8, 512, 4096000));
  EXPECT_TRUE(HasRoomFor(1000, 8, 512, 4095999));
  EXPECT_FALSE(HasRoomFor(1000, 8, 512, 4096001));
  // A one-byte cluster makes the boundary exact to the byte.
  EXPECT_FALSE(HasRoomFor(4096000, 1, 1, 4096000));
  EXPECT_TRUE(HasRoomFor(4096001, 1, 1, 4096000));
}

TEST(RunDiskSpace, MoreThanFourGibibytesFreeDoesNotWrap) {
  // 1,048,577 clusters of 4 KiB: 4 GiB + 4 KiB, which a 32-bit product would see as 4 KiB.
  EXPECT_EQ(FreeSpaceBytes(1048577, 8, 512), 4294971392ull);
  EXPECT_TRUE(HasRoomFor(1048577, 8, 512, 0xFFFFFFFFu));
  EXPECT_TRUE(HasRoomFor(1048577, 8, 512, 8192));
  // Exactly 4 GiB free: also greater than any 32-bit total.
  EXPECT_TRUE(HasRoomFor(1048576, 8, 512, 0xFFFFFFFFu));
  // Factors whose product exceeds 64 bits saturate instead of wrapping to little.
  EXPECT_EQ(FreeSpaceBytes(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), UINT64_MAX);
  EXPECT_TRUE(HasRoomFor(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu));
}

TEST(RunDiskSpace, NoFreeSpaceOnlyFitsNothing) {
  EXPECT_EQ(FreeSpaceBytes(0, 8, 512), 0u);
  EXPECT_EQ(FreeSpaceBytes(100, 0, 512), 0u);
  EXPECT_FALSE(HasRoomFor(0, 8, 512, 0));  // not greater than 0
  EXPECT_TRUE(HasRoomFor(1, 1, 1, 0));
}

// --- Messages -----------------------------------------------------------------------------

// Every text of the catalogue.
const unsigned kCatalogueIds[] = {IDS_TITLE,        IDS_NEED_WIN32,   IDS_NO_PACKAGE,
                                  IDS_CORRUPT_HEAD, IDS_CORRUPT_TAIL, IDS_NO_LIST,
                                  IDS_CANNOT_COPY,  IDS_LIST_CORRUPT, IDS_CANNOT_RUN,
                                  IDS_NO_SPACE,     IDS_NO_TEMP};

std::string Compose(int failure, const char* arg = nullptr) {
  char out[MESSAGE_BUFFER_SIZE];
  memset(out, 'x', sizeof out);
  size_t len = ComposeFailure(failure, arg, LoadCompiledText, out);
  EXPECT_EQ(len, strlen(out));
  return out;
}

TEST(RunMessages, EveryFailureComposesItsExactText) {
  const std::string copy(kCannotCopyPrefix), run(kCannotRunPrefix), list(kNoListPrefix);
  EXPECT_EQ(Compose(FAIL_NEED_WIN32), kNeedWin32Text);
  EXPECT_EQ(Compose(FAIL_NO_TEMP), kNoTempText);
  EXPECT_EQ(Compose(FAIL_NO_PACKAGE), kNoPackageText);
  EXPECT_EQ(Compose(FAIL_CORRUPT_PACKAGE), kCorruptText);
  EXPECT_EQ(Compose(FAIL_NO_LIST, "Instalar"), list + "Instalar.lst");
  EXPECT_EQ(Compose(FAIL_LIST_CORRUPT), kListCorruptText);
  EXPECT_EQ(Compose(FAIL_NO_SPACE), kNoSpaceText);
  EXPECT_EQ(Compose(FAIL_CANNOT_COPY, "C:\\WINDOWS\\KQUninst.exe"),
            copy + "C:\\WINDOWS\\KQUninst.exe");
  EXPECT_EQ(Compose(FAIL_CANNOT_RUN, "C:\\TEMP\\Setup1.exe"), run + "C:\\TEMP\\Setup1.exe");
  char title[TEXT_LOAD_SIZE];
  LoadCompiledText(IDS_TITLE, title, TEXT_LOAD_SIZE);
  EXPECT_STREQ(title, kCaption);
}

TEST(RunMessages, ArgumentIsIgnoredWhereTheMessageHasNone) {
  EXPECT_EQ(Compose(FAIL_NO_SPACE, "C:\\x"), Compose(FAIL_NO_SPACE));
  EXPECT_EQ(Compose(FAIL_CORRUPT_PACKAGE, "Setup1.exe"), Compose(FAIL_CORRUPT_PACKAGE));
  // A missing argument reads as empty rather than crashing.
  EXPECT_EQ(Compose(FAIL_CANNOT_COPY), kCannotCopyPrefix);
}

TEST(RunMessages, LongPathIsCutAt519Characters) {
  std::string path(600, 'p');
  std::string message = Compose(FAIL_CANNOT_COPY, path.c_str());
  ASSERT_EQ(message.size(), (size_t)MESSAGE_MAX);
  EXPECT_EQ(message.substr(0, 62), std::string(kCannotCopyPrefix) + "p");
  EXPECT_EQ(message.back(), 'p');
  // A path that just fits is kept whole.
  std::string fits(MESSAGE_MAX - strlen(TEXT_CANNOT_COPY) - 1, 'q');
  EXPECT_EQ(Compose(FAIL_CANNOT_COPY, fits.c_str()), std::string(TEXT_CANNOT_COPY) + " " + fits);
}

TEST(RunMessages, MissingCatalogueTextsLeaveOnlyTheFixedParts) {
  char out[MESSAGE_BUFFER_SIZE];
  ComposeFailure(
      FAIL_NO_PACKAGE, nullptr, [](unsigned, char* buf, int) { return buf[0] = '\0', 0; }, out);
  EXPECT_STREQ(out, " '_Data.001'.");
  ComposeFailure(FAIL_NO_SPACE, nullptr, nullptr, out);
  EXPECT_STREQ(out, "");
  ComposeFailure(12345, nullptr, LoadCompiledText, out);
  EXPECT_STREQ(out, "");
}

TEST(RunMessages, CatalogueTextsFitTheirLoadBuffers) {
  for (unsigned id : kCatalogueIds) {
    char text[2 * TEXT_LOAD_SIZE];
    EXPECT_GT(LoadCompiledText(id, text, sizeof text), 0) << "text " << id;
    EXPECT_LT(strlen(text), (size_t)TEXT_LOAD_SIZE) << "text " << id;
  }
}

TEST(RunMessages, AppendTextNeverOverflows) {
  char buf[8] = "abc";
  EXPECT_EQ(AppendText(buf, sizeof buf, "defghij"), 7u);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(AppendText(buf, sizeof buf, "z"), 7u);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(AppendText(buf, sizeof buf, nullptr), 7u);
}

// The one rule every translation relies on: the name goes where the placeholder is.
TEST(RunMessages, TemplateTakesTheNameWherePlaceholderIs) {
  const std::string name259(259, 'n');
  const std::string head(300, 'h');
  struct Case {
    std::string tmpl, name, message;
  } cases[] = {
      {"%1 fehlt.", "_Data.001", "_Data.001 fehlt."},                            // at the start
      {"Datei '%1' fehlt.", "_Data.001", "Datei '_Data.001' fehlt."},            // in the middle
      {"could not run file %1", "C:\\S1.exe", "could not run file C:\\S1.exe"},  // at the end
      {"file %1 is gone", "", "file  is gone"},                                  // an empty name
      {"no name here", "x", "no name here"},                                     // no placeholder
      {"%1 and %1", "a", "a and %1"},                                            // only the first
      {"50% off %", "x", "50% off %"},                                           // '%' alone stays
      {"[%1]", name259, "[" + name259 + "]"},                                    // a longest path
      {head + " %1 tail", name259, (head + " " + name259 + " tail").substr(0, MESSAGE_MAX)},
  };
  for (const Case& c : cases) {
    char out[MESSAGE_BUFFER_SIZE];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(FillTemplate(c.tmpl.c_str(), c.name.c_str(), out), c.message.size()) << c.tmpl;
    EXPECT_EQ(std::string(out), c.message) << c.tmpl;
  }
}

// --- Working folder and paths -------------------------------------------------------------

TEST(RunFolders, TemporaryFolderLengthDecidesTheWindowsDirectory) {
  EXPECT_TRUE(TempPathUnusable(0));  // the call failed
  EXPECT_TRUE(TempPathUnusable(1));
  EXPECT_TRUE(TempPathUnusable(2));
  EXPECT_FALSE(TempPathUnusable(3));  // "C:\"
  EXPECT_FALSE(TempPathUnusable(259));
  // Did not fit the 260-byte buffer: the call reports the size it needs.
  EXPECT_TRUE(TempPathUnusable(260));
  EXPECT_TRUE(TempPathUnusable(261));
  EXPECT_TRUE(TempPathUnusable(32767));
}

TEST(RunFolders, TrailingBackslashIsAddedOnce) {
  char path[16] = "C:\\TEMP";
  EXPECT_TRUE(EnsureTrailingBackslash(path, sizeof path));
  EXPECT_STREQ(path, "C:\\TEMP\\");
  EXPECT_TRUE(EnsureTrailingBackslash(path, sizeof path));
  EXPECT_STREQ(path, "C:\\TEMP\\");
  char full[8] = "C:\\TEMP";  // no room for one more character
  EXPECT_FALSE(EnsureTrailingBackslash(full, sizeof full));
  EXPECT_STREQ(full, "C:\\TEMP");
}

struct Split {
  int leaf;
  std::string path;  // the caller's string afterwards
  std::string parent;
};

Split SplitOf(const char* input) {
  char path[MESSAGE_BUFFER_SIZE];
  char parent[MESSAGE_BUFFER_SIZE] = "untouched";
  strcpy(path, input);
  int leaf = SplitFolderPath(path, parent, sizeof parent);
  return {leaf, path, leaf < 0 ? "" : parent};
}

TEST(RunFolders, FolderPathSplitsIntoParentAndLeaf) {
  Split s = SplitOf("C:\\WINDOWS\\TEMP\\");
  EXPECT_EQ(s.path, "C:\\WINDOWS\\TEMP");  // trailing backslash removed in the caller's string
  EXPECT_EQ(s.parent, "C:\\WINDOWS\\");
  EXPECT_EQ(s.path.substr((size_t)s.leaf), "TEMP");

  // A folder directly in a drive's root keeps the root's backslash.
  s = SplitOf("C:\\TEMP");
  EXPECT_EQ(s.parent, "C:\\");
  EXPECT_EQ(s.path.substr((size_t)s.leaf), "TEMP");

  s = SplitOf("\\\\server\\share\\tmp\\");
  EXPECT_EQ(s.parent, "\\\\server\\share\\");
  EXPECT_EQ(s.path.substr((size_t)s.leaf), "tmp");
}

TEST(RunFolders, PathWithoutBackslashCountsAsExisting) {
  Split s = SplitOf("C:\\");  // a drive root: its only backslash is the trailing one
  EXPECT_EQ(s.leaf, -1);
  EXPECT_EQ(s.path, "C:");
  EXPECT_EQ(SplitOf("TEMP").leaf, -1);
  EXPECT_EQ(SplitOf("").leaf, -1);
}

TEST(RunFolders, ParentThatDoesNotFitIsRefused) {
  char path[32] = "C:\\abcdefghij\\leaf";
  char parent[8];
  EXPECT_EQ(SplitFolderPath(path, parent, sizeof parent), -1);
}

TEST(RunFolders, UninstallerIsRecognisedByItsLastTwelveCharacters) {
  EXPECT_TRUE(IsUninstallerPath("C:\\WINDOWS\\KQUninst.exe"));
  EXPECT_TRUE(IsUninstallerPath("C:\\WINDOWS\\\\KQUninst.exe"));
  EXPECT_TRUE(IsUninstallerPath("KQUninst.exe"));  // exactly 12 characters
  EXPECT_FALSE(IsUninstallerPath("Uninst.exe"));   // shorter paths never match
  EXPECT_FALSE(IsUninstallerPath(""));
  EXPECT_FALSE(IsUninstallerPath("C:\\WINDOWS\\kquninst.exe"));  // case-sensitive
  EXPECT_FALSE(IsUninstallerPath("C:\\WINDOWS\\KQUninst.EXE"));
  EXPECT_FALSE(IsUninstallerPath("C:\\KQUninst.exe\\readme.txt"));  // earlier in the path
  EXPECT_FALSE(IsUninstallerPath("C:\\TEMP\\KQUninst.exe.bak"));
  EXPECT_TRUE(IsUninstallerPath("C:\\TEMP\\OldKQUninst.exe"));  // ends with the name
}

// --- File table ---------------------------------------------------------------------------

TEST(RunFileTable, TableSizeNeverWraps) {
  EXPECT_EQ(FileTableBytes(0), 0u);
  EXPECT_EQ(FileTableBytes(3), 78u);
  EXPECT_EQ(FileTableBytes(0x7FFFFFFFu / 26), (0x7FFFFFFFu / 26) * 26);
  EXPECT_EQ(FileTableBytes(0x7FFFFFFFu / 26 + 1), 0u);
  EXPECT_EQ(FileTableBytes(0x7FFFFFFFu), 0u);  // 26 times this would wrap 32 bits
}

// --- The setup program read back through its hold -------------------------------------------

TEST(RunProgramCheck, OnlyWhatWasWrittenMatches) {
  FileDigest known;
  DigestBytes("Wikipedia", 9, &known);  // Adler-32's published example
  EXPECT_EQ(known.length, 9u);
  EXPECT_EQ(known.adler, 0x11E60398u);

  std::string program(10000, '\0');
  for (size_t i = 0; i < program.size(); i++) program[i] = (char)(i * 7 + i / 251);
  std::string swapped = program;
  std::swap(swapped[100], swapped[101]);
  std::string changed = program;
  changed[9999] ^= 0x01;
  // 65521 zero bytes add nothing to either Adler-32 sum modulo 65521: a file of another
  // length with the same checksum, which only the length tells apart.
  const std::string zeros(65521, '\0');
  struct {
    const char* what;
    std::string written, read;
    int fail_at;  // the read fails at this offset; -1: never
    int matches;
  } cases[] = {
      {"the same bytes", program, program, -1, 1},
      {"nothing written, nothing read", "", "", -1, 1},
      {"exactly one read chunk", program.substr(0, 4096), program.substr(0, 4096), -1, 1},
      {"one byte changed, same length", program, changed, -1, 0},
      {"two bytes swapped", program, swapped, -1, 0},
      {"one byte longer", program, program + "x", -1, 0},
      {"one byte shorter", program, program.substr(0, 9999), -1, 0},
      {"empty", program, "", -1, 0},
      {"same Adler-32, longer", program, program + zeros, -1, 0},
      {"same Adler-32, shorter", program + zeros, program, -1, 0},
      {"a read fails", program, program, 5000, 0},
      {"a read fails at the very end", program, program, 9999, 0},
  };
  for (const auto& c : cases) {
    FileDigest digest;
    DigestBytes(c.written.data(), (uint32_t)c.written.size(), &digest);
    FileDigest of_read;
    DigestBytes(c.read.data(), (uint32_t)c.read.size(), &of_read);
    if (strstr(c.what, "same Adler-32")) {
      ASSERT_EQ(of_read.adler, digest.adler) << c.what;
    }
    MemoryReader m;
    ByteReader r;
    InitMemoryReader(&m, &r, c.read.data(), c.read.size());
    m.fail_at = c.fail_at;
    EXPECT_EQ(ContentMatches(&r, &digest), c.matches) << c.what;
  }

  // A replacement far longer than the program is not read through.
  std::string huge(1 << 20, 'x');
  FileDigest small;
  DigestBytes(huge.data(), 10, &small);
  MemoryReader m;
  ByteReader r;
  InitMemoryReader(&m, &r, huge.data(), huge.size());
  EXPECT_EQ(ContentMatches(&r, &small), 0);
  EXPECT_LE(m.pos, 4096u);
}

// --- The watch --------------------------------------------------------------------------------

TEST(RunWatch, OnlyATimedOutWaitMeansStillRunning) {
  const struct {
    uint32_t wait_result;
    const char* what;
    int runs;
  } cases[] = {
      {0x102, "WAIT_TIMEOUT: not signalled", 1},
      {0x0, "WAIT_OBJECT_0: the process ended", 0},
      {0xFFFFFFFF, "WAIT_FAILED: the handle tells nothing more", 0},
      {0x80, "WAIT_ABANDONED", 0},
      {259, "STILL_ACTIVE, an exit code, not a wait result", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(SetupProgramStillRuns(c.wait_result), c.runs) << c.what;
}

}  // namespace
