#include "app/single_instance.h"

#include "common/program_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>

#include <memory>
#include <unistd.h>

namespace hm {

bool claimSingleInstance()
{
    static std::unique_ptr<QLockFile> lock;
    if (lock)
        return true;
    // Keyed on the program folder: its data belong to one instance at a time.
    const QByteArray key = QCryptographicHash::hash(QDir(programFolder()).canonicalPath().toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(16);
    const QString path = QDir::tempPath() + QStringLiteral("/hayatemail-%1-%2.lock")
                                                .arg(::getuid())
                                                .arg(QString::fromLatin1(key));
    auto candidate = std::make_unique<QLockFile>(path);
    candidate->setStaleLockTime(0); // only a dead owner makes a lock stale
    if (!candidate->tryLock(0))
        return false;
    lock = std::move(candidate);
    return true;
}

} // namespace hm
