// The texts setup.exe shows, as its users read them, for every test that checks a message:
// written out here rather than taken from the catalogue (res/messages.h) or the programs, so
// that a changed text is a fault the tests catch.
#ifndef TESTS_SUPPORT_EXPECTED_TEXTS_H
#define TESTS_SUPPORT_EXPECTED_TEXTS_H

// The caption of the window and of every message box, leading space included.
constexpr char kCaption[] = " Setup program";
constexpr char kNeedWin32Text[] =
    "You need Windows 95/98 or Windows NT40/2000 to run this program.";
constexpr char kNoTempText[] =
    "Setup program cannot continue because it could not create a temporary directory to "
    "uncompress files.";
constexpr char kNoPackageText[] =
    "Setup program cannot continue because it could not find file '_Data.001'.";
constexpr char kCorruptText[] =
    "Setup program cannot continue because file _Data.001 is corrupted.";
constexpr char kListCorruptText[] =
    "Setup program cannot continue because file Setup.lst is corrupted.";
constexpr char kNoSpaceText[] =
    "Setup program cannot continue because there is no enough disk free space to uncompress "
    "files.";
// Followed by the list file's name (base name and ".lst").
constexpr char kNoListPrefix[] = "Setup program cannot continue because it could not find file ";
// Followed by the path of the file that could not be created or written.
constexpr char kCannotCopyPrefix[] =
    "Setup program cannot continue because it could not copy file ";
// Followed by the setup program's path.
constexpr char kCannotRunPrefix[] = "Setup program cannot continue because it could not run file ";

#endif
