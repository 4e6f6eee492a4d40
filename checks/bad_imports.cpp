// Deliberately not what setup.exe must be: a console program importing wide-character
// functions. The binary check's self-test runs the check on it and expects it to be refused,
// so that a check which can no longer fail is noticed.
#include <windows.h>

int main() {
  HANDLE file = CreateFileW(L"nul", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return GetModuleHandleW(NULL) ? 0 : MessageBoxW(NULL, L"", L"", MB_OK);
}
