// The release's BeforeProgramHold (internal.h): nothing happens between unpacking the setup
// program and holding it.
#include "internal.h"

void BeforeProgramHold(const char*) {}
