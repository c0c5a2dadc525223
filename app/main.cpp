#include "app/main_form.h"
#include "common/japanese_font.h"
#include "common/japanese_translations.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("HayateMail")); // the title of untitled boxes
    hm::installJapaneseFonts();
    hm::installJapaneseTranslations();
    MainForm form;
    if (!form.Form_Load())
        return 0; // another instance runs: end silently
    form.show();
    return app.exec();
}
