// Geometry of the progress bar and of font heights: integer arithmetic only, so that every
// pixel the window shows can be predicted by the tests.
#include "bargeometry.h"

#include <stdint.h>

int CentredStart(int outer, int inner) { return outer / 2 - inner / 2; }

int BarSplit(int width, int percent) {
  if (width <= 0) return 0;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  // 64 bits: a window cannot be 21 million pixels wide, but the product must not wrap if a
  // caller passes something odd.
  return (int)((int64_t)width * percent / 100);
}

struct TextOrigin BarLabelOrigin(int width, int height, int text_w, int text_h) {
  struct TextOrigin at;
  at.x = CentredStart(width, text_w);
  at.y = CentredStart(height, text_h);
  return at;
}

int CharHeightForPoints(int points, int dpi) {
  int64_t scaled = (int64_t)points * dpi;
  // Half away from zero, like MulDiv; the sign then makes it a character height.
  int64_t rounded = scaled >= 0 ? (scaled + 36) / 72 : (scaled - 36) / 72;
  return (int)-rounded;
}
