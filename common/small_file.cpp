#include "common/small_file.h"

#include <QDir>
#include <QFile>

namespace hm {

SmallFile readSmallFile(const QString& path, QByteArray* bytes, qint64 limit)
{
    bytes->clear();
    QFile file(path);
    if (!file.exists())
        return SmallFile::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return SmallFile::Unreadable;
    // Read one byte past the limit rather than trusting size(): a file may grow meanwhile.
    *bytes = file.read(limit + 1);
    if (bytes->size() > limit) {
        bytes->clear();
        return SmallFile::TooLarge;
    }
    if (file.error() != QFileDevice::NoError) {
        bytes->clear();
        return SmallFile::Unreadable;
    }
    return SmallFile::Read;
}

QString smallFileProblem(const QString& path, SmallFile result, qint64 limit)
{
    const QString name = QDir::toNativeSeparators(path);
    switch (result) {
    case SmallFile::TooLarge:
        return QStringLiteral("「%1」は大きすぎるため読み込めません（%2 KB まで）。\nファイルはそのまま残してあります。")
            .arg(name)
            .arg(limit / 1024);
    case SmallFile::Unreadable:
        return QStringLiteral("「%1」を読み込めません。\nファイルはそのまま残してあります。").arg(name);
    case SmallFile::Read:
    case SmallFile::Missing:
        break;
    }
    return {};
}

} // namespace hm
