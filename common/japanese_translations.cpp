#include "common/japanese_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace hm {

bool installJapaneseTranslations()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    bool base = false;
    for (const char* catalogue : {"qtbase", "qtmultimedia"}) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(japanese, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)
            && QCoreApplication::installTranslator(translator)) {
            base = base || qstrcmp(catalogue, "qtbase") == 0;
        } else {
            delete translator;
        }
    }
    return base;
}

} // namespace hm
