#include "app/single_instance.h"

#include "common/program_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hm {
namespace {

int heldLock = -1;

// The lock's path for the signal handler, which may not allocate.
char lockPath[4096];

void removeLockAndDie(int signal)
{
    if (lockPath[0])
        ::unlink(lockPath);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

QString lockFileName()
{
    // Keyed on the program folder: its data belong to one instance at a time.
    const QByteArray key = QCryptographicHash::hash(QDir(programFolder()).canonicalPath().toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex()
                               .left(16);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/hayatemail-%1.lock").arg(QString::fromLatin1(key));
    return QDir::tempPath() + QStringLiteral("/hayatemail-%1-%2.lock").arg(::getuid()).arg(QString::fromLatin1(key));
}

} // namespace

bool claimSingleInstance()
{
    if (heldLock >= 0)
        return true;
    const QByteArray path = QFile::encodeName(lockFileName());
    // The kernel holds the claim and drops it when the process ends, however it ends, so a
    // crashed instance leaves nothing to take over and nothing needs writing to disk.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true; // no place for the claim: better two instances than none
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    heldLock = fd;
    if (size_t(path.size()) < sizeof lockPath) {
        std::memcpy(lockPath, path.constData(), size_t(path.size()) + 1);
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            std::signal(signal, removeLockAndDie);
    }
    return true;
}

void releaseSingleInstance()
{
    if (heldLock < 0)
        return;
    if (lockPath[0])
        ::unlink(lockPath);
    lockPath[0] = '\0';
    ::close(heldLock);
    heldLock = -1;
}

} // namespace hm
