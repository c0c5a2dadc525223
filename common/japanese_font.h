#pragma once
#include <QFont>

namespace hm {
// Maps the Windows font names the windows are designed with onto installed Japanese fonts
// and makes the P-Gothic the application font. Call once after QApplication exists; a
// preferred family, when installed, stands for the P-Gothic before the usual ones (tests draw
// every window in each family the program may meet).
void installJapaneseFonts(const QString& preferred = QString());
// "ＭＳ Ｐゴシック" at the given point size, resolved to an installed equivalent.
QFont pGothic(qreal pointSize = 9);
} // namespace hm
