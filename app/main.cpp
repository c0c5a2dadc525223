#include "app/main_form.h"
#include "app/program_icon.h"
#include "common/ansi_codec.h"
#include "common/japanese_font.h"
#include "common/private_files.h"
#include "common/text_accessibility.h"
#include "common/ui_services.h"
#include "common/user_folder.h"
#include "common/japanese_translations.h"

#include <QApplication>

int main(int argc, char** argv)
{
    hm::startFontSetup();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HayateMail"));
    // On X11 the icon's sizes are decoded meanwhile; it is set once the window has painted.
    const QIcon icon = hm::programIcon();
    QGuiApplication::setDesktopFileName(QStringLiteral("hayatemail"));
    hm::installJapaneseTranslations();
    hm::installTextAccessibility();
    // What needs no font goes first, while fontconfig sets itself up; a problem is shown once
    // the Japanese fonts are in place. Without the CP932 converters every Japanese text would
    // be lost: say so and stop.
    QString problem = hm::ansi::converterProblem();
    if (problem.isEmpty())
        problem = hm::settleProgramFolder();
    if (problem.isEmpty())
        hm::keepMailPrivate();
    hm::installJapaneseFonts();
    if (!problem.isEmpty()) {
        QApplication::setWindowIcon(icon);
        hm::ui::message(nullptr, problem, QString(), hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
        return 1;
    }
    MainForm form;
    if (!form.Form_Load())
        return 0; // another instance runs and was asked to come forward
    form.show();
    return app.exec();
}
