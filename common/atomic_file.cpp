#include "common/atomic_file.h"

#include "common/fd_io.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hm {

int openOwnFile(const QString& path, int flags, mode_t mode)
{
    return ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

int createUniqueFile(const QString& folder, const QString& prefix, const QString& suffix, QString* path,
                     mode_t mode)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString random;
        for (int i = 0; i < 6; ++i)
            random += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
        const QString candidate = folder + QLatin1Char('/') + prefix + random + suffix;
        // O_EXCL: neither an existing file nor a link (even one pointing nowhere) is taken.
        const int fd = openOwnFile(candidate, O_RDWR | O_CREAT | O_EXCL, mode);
        if (fd >= 0) {
            if (path)
                *path = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

bool writeFileAtomically(const QString& path, const QByteArray& data, bool ownerOnly)
{
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    struct stat old;
    const bool replaces = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    // A file made read-only stays as it is, for root too.
    if (replaces && (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        errno = EACCES;
        return false;
    }
    QString temporary;
    const int fd = createUniqueFile(info.absolutePath(), QLatin1Char('.') + info.fileName() + QLatin1Char('-'),
                                    QString(), &temporary, ownerOnly ? 0600 : 0666);
    if (fd < 0)
        return false;
    const QByteArray temp = QFile::encodeName(temporary);
    bool ok = true;
    if (ownerOnly)
        ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    else if (replaces)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && writeFully(fd, data.constData(), data.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    syncDirectoryOf(path);
    return true;
}

bool syncDirectoryOf(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace hm
