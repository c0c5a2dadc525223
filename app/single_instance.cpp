#include "app/single_instance.h"

#include "common/program_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>

#include <csignal>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace hm {
namespace {

std::unique_ptr<QLockFile>& held()
{
    static std::unique_ptr<QLockFile> lock;
    return lock;
}

// The lock's path for the signal handler, which may not allocate.
char lockPathForSignal[4096];

void removeLockAndDie(int signal)
{
    if (lockPathForSignal[0])
        ::unlink(lockPathForSignal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

QString lockPath()
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
    if (held())
        return true;
    const QString path = lockPath();
    auto candidate = std::make_unique<QLockFile>(path);
    candidate->setStaleLockTime(0); // only a dead owner makes a lock stale
    if (!candidate->tryLock(0))
        return false;
    held() = std::move(candidate);
    const QByteArray native = QFile::encodeName(path);
    if (size_t(native.size()) < sizeof lockPathForSignal) {
        std::memcpy(lockPathForSignal, native.constData(), size_t(native.size()) + 1);
        for (int signal : {SIGTERM, SIGINT, SIGHUP})
            std::signal(signal, removeLockAndDie);
    }
    return true;
}

void releaseSingleInstance()
{
    lockPathForSignal[0] = '\0';
    held().reset(); // unlocks and removes the file
}

} // namespace hm
