#include "common/japanese_font.h"

#include <QApplication>
#include <QFontDatabase>

#include <fontconfig/fontconfig.h>

#include <future>

namespace hm {
namespace {
std::future<void>& fontSetup()
{
    static std::future<void> setup;
    return setup;
}

QString& pGothicFamily()
{
    static QString family = QStringLiteral("ＭＳ Ｐゴシック");
    return family;
}
} // namespace

void startFontSetup()
{
    // Qt's own first use of fontconfig then finds it set up; a use that came first would set
    // it up itself and this result would be dropped, which fontconfig allows.
    fontSetup() = std::async(std::launch::async, [] { FcInit(); });
}

void installJapaneseFonts(const QString& preferred)
{
    if (fontSetup().valid())
        fontSetup().get();
    QStringList gothicP = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAexGothic"),
                           QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")};
    if (!preferred.isEmpty())
        gothicP.prepend(preferred);
    for (const char* name : {"ＭＳ Ｐゴシック", "MS PGothic", "ＭＳ ゴシック", "ＭＳ Ｐ明朝", "ＭＳ 明朝"})
        QFont::removeSubstitutions(QString::fromUtf8(name));
    const QStringList gothic = {QStringLiteral("IPAGothic"), QStringLiteral("IPAexGothic"),
                                QStringLiteral("Noto Sans Mono CJK JP")};
    const QStringList mincho = {QStringLiteral("IPAPMincho"), QStringLiteral("IPAMincho"),
                                QStringLiteral("Noto Serif CJK JP")};
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), gothicP);
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), gothicP);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"), gothic);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐ明朝"), mincho);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ 明朝"), mincho);
    // The first installed equivalent, named directly: every text then asks the font system for
    // the fallbacks of one family, not of the substituted name as well.
    for (const QString& family : gothicP)
        if (QFontDatabase::hasFamily(family)) {
            pGothicFamily() = family;
            break;
        }
    QApplication::setFont(pGothic(9));
}

QFont pGothic(qreal pointSize)
{
    QFont f(pGothicFamily());
    f.setPointSizeF(pointSize);
    return f;
}

} // namespace hm
