#include "app/single_instance.h"

#include "common/program_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hm {

bool claimSingleInstance()
{
    static int held = -1;
    if (held >= 0)
        return true;
    // Keyed on the program folder: its data belong to one instance at a time.
    const QByteArray key = QCryptographicHash::hash(QDir(programFolder()).canonicalPath().toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(16);
    const QString path = QDir::tempPath() + QStringLiteral("/hayatemail-%1-%2.lock")
                                                .arg(::getuid())
                                                .arg(QString::fromLatin1(key));
    // The kernel holds the claim and drops it when the process ends, however it ends, so a
    // crashed instance leaves nothing to take over and nothing needs writing to disk.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // no place for the claim: better two instances than none
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    held = fd;
    return true;
}

} // namespace hm
