#include "common/program_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace hm {
namespace {
QString& overrideFolder()
{
    static QString folder;
    return folder;
}

// Finds the entry of dir whose name equals component without regard to case. The spelling
// found last is tried before the folder is listed again: a mail check resolves the same paths
// for every message.
QString matchComponent(const QString& dir, const QString& component)
{
    if (QFileInfo::exists(dir + QLatin1Char('/') + component))
        return component;
    static QHash<QString, QString> found;
    const QString key = dir + QLatin1Char('/') + component;
    if (const auto it = found.constFind(key); it != found.cend() && QFileInfo::exists(dir + QLatin1Char('/') + *it))
        return *it;
    const QStringList entries =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(component, Qt::CaseInsensitive) == 0) {
            if (found.size() > 256)
                found.clear();
            found.insert(key, entry);
            return entry;
        }
    }
    return component;
}
} // namespace

QString programFolder()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    return QCoreApplication::applicationDirPath();
}

void setProgramFolder(const QString& folder)
{
    QString f = folder;
    while (f.size() > 1 && f.endsWith(QLatin1Char('/')))
        f.chop(1);
    overrideFolder() = f;
}

QString dataPath(const QString& relative)
{
    QString path = programFolder();
    const QStringList parts = QString(relative).replace(QLatin1Char('/'), QLatin1Char('\\'))
                                  .split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        // Never let a relative path climb out of the program folder.
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            continue;
        path += QLatin1Char('/') + matchComponent(path, part);
    }
    return path;
}

} // namespace hm
