// The release's BeforeProgramHold (runstate.h): nothing happens between unpacking the setup
// program and holding it.
#include "runstate.h"

void BeforeProgramHold(const char *) {}
