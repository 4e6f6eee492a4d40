// Arithmetic of the setup window's owner-drawn pieces: where the progress bar splits into its
// filled and empty parts, where its percentage label goes, and font heights (the bar's label
// and the window's link label ask for theirs here). Portable (no <windows.h>): setup.exe draws with
// these numbers, and the native unit tests call them directly.
//
// All halvings truncate toward zero, as the platform's integer division does; a label wider
// than its box gets a negative start and is clipped on both sides by the drawing code.
#ifndef PROGRESS_BARGEOMETRY_H
#define PROGRESS_BARGEOMETRY_H

// Where text of a given size starts inside a box, in the box's own coordinates.
struct TextOrigin {
  int x;  // left edge of the text
  int y;  // top edge of the text
};

// Start of something `inner` units long centred in a span of `outer` units:
// outer / 2 - inner / 2, each halving truncated (so 7 and 4 give 3 - 2 = 1).
int CentredStart(int outer, int inner);

// Column where the bar's filled part ends: width * percent / 100, truncated. The percentage
// is clamped to 0..100 first, so the result is always within 0..width; a negative width
// gives 0. Computed in 64 bits, so no width overflows.
int BarSplit(int width, int percent);

// The label's position in a bar of width x height for a label measuring text_w x text_h:
// both coordinates by CentredStart. The same position serves both colour passes.
struct TextOrigin BarLabelOrigin(int width, int height, int text_w, int text_h);

// The height to ask of CreateFontA for a font of `points` points on a device of `dpi`
// vertical dots per inch: a negative value (a character height, not a cell height) of
// points * dpi / 72 rounded half away from zero, as MulDiv(points, dpi, 72) rounds.
// 8 points at 96 dpi gives -11, at 120 dpi -13.
int CharHeightForPoints(int points, int dpi);

// The point size of the bar's label. The dialog's own 8 points: a one-point label would be
// one or two pixels tall wherever the face can be scaled that far down, and nobody could read
// the percentage.
enum { BAR_LABEL_POINTS = 8 };

#endif
