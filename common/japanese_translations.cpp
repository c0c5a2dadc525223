#include "common/japanese_translations.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace hm {
namespace {

// Texts of Qt's own dialogs that its Japanese catalogue (6.4) leaves in English.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        static const QHash<QByteArray, QString> texts{
            {"Folder", QStringLiteral("フォルダ")},
            {"Double Sided Printing", QStringLiteral("両面印刷")},
            {"Off", QStringLiteral("しない")},
            {"Long side binding", QStringLiteral("長辺綴じ")},
            {"Short side binding", QStringLiteral("短辺綴じ")},
            {"Pages", QStringLiteral("ページ指定")},
            {"Specify pages or ranges separated by commas. Ranges are specified by two numbers separated "
             "by a hyphen. E.g: 3,5-7,9 prints pages 3, 5, 6, 7 and 9.",
             QStringLiteral("ページか範囲をカンマで区切って指定します。範囲は二つの番号をハイフンでつなぎます。"
                            "例: 3,5-7,9 で 3、5、6、7、9 ページを印刷します。")},
        };
        // Only Qt's own classes: the program's texts are Japanese already.
        if (!context || context[0] != 'Q')
            return QString();
        return texts.value(QByteArray(source));
    }
};

} // namespace

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
    // Asked before the catalogues, for what they lack.
    if (base)
        QCoreApplication::installTranslator(new MissingQtTexts(QCoreApplication::instance()));
    return base;
}

} // namespace hm
