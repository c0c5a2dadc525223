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
    const QString folder = programFolder();
    QStringList parts = QString(relative).replace(QLatin1Char('/'), QLatin1Char('\\'))
                            .split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    // Never let a relative path climb out of the program folder.
    parts.removeIf([](const QString& part) { return part == QLatin1String(".") || part == QLatin1String(".."); });
    if (parts.isEmpty())
        return folder;
    // Spelt as it stands on disk, the whole path answers one look; only a path that is not
    // goes component by component.
    const QString exact = folder + QLatin1Char('/') + parts.join(QLatin1Char('/'));
    if (QFileInfo::exists(exact))
        return exact;
    QString path = folder;
    for (const QString& part : parts)
        path += QLatin1Char('/') + matchComponent(path, part);
    return path;
}

} // namespace hm
