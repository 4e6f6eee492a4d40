// Where the setup window's link label goes. Portable (no <windows.h>): setup.exe places the
// label with it, and the native unit tests call it directly.
#ifndef WINDOW_LINKGEOMETRY_H
#define WINDOW_LINKGEOMETRY_H

#include "bargeometry.h"  // CentredStart

// The label's left edge, made as wide as its text: centred on the window's outer width
// (frame included) while positioned in client coordinates, so the label sits right of the
// client area's centre by the left frame's few pixels, the placement the window's layout was
// drawn for. Halvings truncate (CentredStart); an address wider than the window starts left
// of it.
static inline int LinkLabelLeft(int window_width, int text_width) {
  return CentredStart(window_width, text_width);
}

#endif
