#pragma once
#include <QFont>

namespace hm {
// Starts the font system's own set-up (reading its configuration and font caches, a few
// milliseconds) on another thread, so that it overlaps the rest of the launch. Call first
// thing in main, before the application object; installJapaneseFonts waits for it.
void startFontSetup();
// Maps the Windows font names the windows are designed with onto installed Japanese fonts
// and makes the P-Gothic the application font. Call once after QApplication exists; a
// preferred family, when installed, stands for the P-Gothic before the usual ones (tests draw
// every window in each family the program may meet).
void installJapaneseFonts(const QString& preferred = QString());
// "ＭＳ Ｐゴシック" at the given point size, resolved to an installed equivalent.
QFont pGothic(qreal pointSize = 9);
} // namespace hm
