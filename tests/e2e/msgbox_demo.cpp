// msgbox_demo.exe: shows one error message box the way setup.exe reports a failure, so that the
// harness's message-box helpers (and the screenshot machinery of scripts/main-job) can be
// proved without setup.exe.
//
//   msgbox_demo.exe TEXT...
//
// Everything after the program name (and the blanks after it) is the box's text, verbatim.
// The caption is " Setup program", the style MB_ICONERROR | MB_OK. The exit code is 100 plus
// MessageBoxA's result (IDOK gives 101), so that a test can tell an answered box from a
// killed process; 100 alone means MessageBoxA failed.
#include <windows.h>

// Returns the part of a command line after the program name and the blanks that follow it.
// The program name is quoted or ends at the first blank, as the C runtime splits it.
static const char* SkipProgramName(const char* line) {
  if (*line == '"') {
    ++line;
    while (*line != '\0' && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line != '\0' && *line != ' ' && *line != '\t') ++line;
  }
  while (*line == ' ' || *line == '\t') ++line;
  return line;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* text = SkipProgramName(GetCommandLineA());
  int answer = MessageBoxA(nullptr, text, " Setup program", MB_ICONERROR | MB_OK);
  return 100 + answer;
}
