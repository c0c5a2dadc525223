#pragma once
#include <QFont>

namespace hm {
// Maps the Windows font names the windows are designed with onto installed Japanese fonts
// and makes the P-Gothic the application font. Call once after QApplication exists.
void installJapaneseFonts();
// "ＭＳ Ｐゴシック" at the given point size, resolved to an installed equivalent.
QFont pGothic(qreal pointSize = 9);
} // namespace hm
