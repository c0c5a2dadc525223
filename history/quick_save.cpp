#include "history/quick_save.h"

#include "common/program_folder.h"

#include <QDir>
#include <QFileInfo>

namespace hm::history {
namespace {

// Bytes a name may take (NAME_MAX is 255), leaving room for ".txt".
constexpr qsizetype kMaxStemBytes = 240;

QChar fullWidth(QChar c)
{
    switch (c.unicode()) {
    case '\\': return QChar(0xFF3C);
    case '/': return QChar(0xFF0F);
    case ':': return QChar(0xFF1A);
    case '*': return QChar(0xFF0A);
    case '?': return QChar(0xFF1F);
    case '"': return QChar(0xFF02);
    case '<': return QChar(0xFF1C);
    case '>': return QChar(0xFF1E);
    case '|': return QChar(0xFF5C);
    default: return c;
    }
}

QString cutToBytes(const QString& stem)
{
    QString out;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < stem.size(); ++i) {
        const bool pair = stem.at(i).isHighSurrogate() && i + 1 < stem.size() && stem.at(i + 1).isLowSurrogate();
        const QString piece = stem.mid(i, pair ? 2 : 1);
        const qsizetype len = piece.toUtf8().size();
        if (bytes + len > kMaxStemBytes)
            break;
        out += piece;
        bytes += len;
        if (pair)
            ++i;
    }
    return out;
}

} // namespace

QString QuickSaveFileName(const QString& subject)
{
    QString stem;
    stem.reserve(subject.size());
    for (qsizetype i = 0; i < subject.size(); ++i) {
        const QChar c = subject.at(i);
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Other_Control) {
            stem += QLatin1Char('_');
        } else if (c == QLatin1Char('.') && ((i + 1 < subject.size() && subject.at(i + 1) == QLatin1Char('.'))
                                             || (i > 0 && subject.at(i - 1) == QLatin1Char('.')))) {
            stem += QChar(0xFF0E);
        } else {
            stem += fullWidth(c);
        }
    }
    stem = cutToBytes(stem);
    if (stem.isEmpty())
        stem = QStringLiteral("無題");
    return stem + QStringLiteral(".txt");
}

QString QuickSaveFolder()
{
    return hm::dataPath(QStringLiteral("\\■TextQuickSave\\"));
}

QString QuickSavePath(const QString& subject)
{
    const QString folder = QDir::cleanPath(QFileInfo(QuickSaveFolder()).absoluteFilePath());
    const QString path = folder + QLatin1Char('/') + QuickSaveFileName(subject);
    // The name holds no separator, but the file must land in the folder whatever happens.
    if (QDir::cleanPath(QFileInfo(path).absolutePath()) != folder)
        return {};
    return path;
}

QString QuickSaveText(const QString& subject, const QString& from, const QString& date, const QString& body)
{
    return QStringLiteral("Subject:  ") + subject + QStringLiteral("\r\nFrom:  ") + from
        + QStringLiteral("\r\nDate:  ") + date + QStringLiteral("\r\nBody:  ") + body;
}

} // namespace hm::history
