#pragma once
// The glyphs of the image's buttons, drawn in code: a diskette (save) and white arrows on
// green discs (back, forward).
#include <QPixmap>

namespace quenlith {

// 48 x 48 diskette.
QPixmap diskGlyph();

// 22 x 22 white arrow on a green disc, pointing right or left.
QPixmap arrowGlyph(bool pointsRight);

} // namespace quenlith
