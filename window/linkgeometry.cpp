// The link label's placement; see linkgeometry.h.
#include "linkgeometry.h"

#include "bargeometry.h"  // CentredStart

int LinkLabelLeft(int window_width, int text_width) {
  return CentredStart(window_width, text_width);
}
