#pragma once
// The fonts the program's windows ask for, mapped to installed fonts of the
// same size and weight that carry Cyrillic letters.

#include <QFont>

namespace fonts {

QFont msSansSerif(double pointSize = 8.25, bool bold = false); // the system font of buttons and labels
QFont smallFonts(double pointSize = 6.75);                     // small captions of the control frames
QFont timesNewRoman(double pointSize, bool bold);
// The object list's bold entries, in the narrow face of the same family, so
// that a long entry still shows its number at the end.
QFont listFont();

} // namespace fonts
