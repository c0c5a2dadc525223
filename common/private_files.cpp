#include "common/private_files.h"

#include "common/program_folder.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace hm {
namespace {

void makeOwnerOnly(const QString& path, bool folder)
{
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    const QFile::Permissions now = QFile::permissions(path);
    if (now & others)
        QFile::setPermissions(path, folder ? (now & ~others) | QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                           : (now & ~others));
}

} // namespace

void keepMailPrivate()
{
    ::umask(077);
    for (const QString& relative : {QStringLiteral("\\★MAilData\\"), QStringLiteral("\\添付フォルダ\\"),
                                    QStringLiteral("\\■TextQuickSave\\")}) {
        const QString folder = dataPath(relative);
        if (!QFileInfo(folder).isDir())
            continue;
        makeOwnerOnly(folder, true);
        QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!it.fileInfo().isSymLink())
                makeOwnerOnly(path, it.fileInfo().isDir());
        }
    }
}

} // namespace hm
