// i686_probe.exe: the smallest 32-bit Windows program, built with the release's compiler.
// scripts/wine-probe-i686 runs it once per test run to learn whether this machine runs 32-bit
// Windows programs at all (a kernel without 32-bit support refuses Wine's 32-bit loader with
// "Exec format error"); the line it prints shows that it ran, and as what.
#include <stdio.h>

int main() {
  printf("%d-bit Windows program running\n", static_cast<int>(sizeof(void*) * 8));
  return 0;
}
