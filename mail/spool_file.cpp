#include "mail/spool_file.h"

#include "common/atomic_file.h"
#include "common/fd_io.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hm::mail {
namespace {

// Bytes held back before a write: a message arrives a line at a time.
constexpr qsizetype kHeldBytes = 1024 * 1024;

bool sameFile(int fd, const QByteArray& name)
{
    struct stat mine, there;
    return ::fstat(fd, &mine) == 0 && ::lstat(name.constData(), &there) == 0 && mine.st_dev == there.st_dev
           && mine.st_ino == there.st_ino;
}

bool copyInto(int from, int to, qint64 size)
{
    loff_t in = 0;
    while (in < size) {
        const ssize_t n = ::copy_file_range(from, &in, to, nullptr, size_t(size - in), 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL))
            return false;
        // A kernel or file system that cannot: through a buffer.
        QByteArray buffer(kHeldBytes, Qt::Uninitialized);
        while (in < size) {
            const qint64 got = readFully(from, buffer.data(), std::min<qint64>(buffer.size(), size - in), in);
            if (got <= 0 || !writeFully(to, buffer.constData(), got))
                return false;
            in += got;
        }
    }
    return true;
}

} // namespace

std::shared_ptr<SpoolFile> SpoolFile::create(const QString& folder)
{
    const QByteArray dir = QFile::encodeName(folder);
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return std::shared_ptr<SpoolFile>(new SpoolFile(fd, true));
    // A file system without unnamed files: a hidden name, given up at once.
    QString path;
    fd = createUniqueFile(folder, QStringLiteral(".1-"), QStringLiteral(".tmp"), &path);
    if (fd < 0)
        return nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (!sameFile(fd, name) || ::unlink(name.constData()) != 0) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return nullptr;
    }
    return std::shared_ptr<SpoolFile>(new SpoolFile(fd, false));
}

SpoolFile::~SpoolFile()
{
    ::close(fd_);
}

bool SpoolFile::flushHeld()
{
    if (held_.isEmpty())
        return error_ == 0;
    const bool ok = error_ == 0 && writeFully(fd_, held_.constData(), held_.size(), off_t(size_ - held_.size()));
    if (!ok && error_ == 0)
        error_ = errno ? errno : EIO;
    held_.clear();
    return ok;
}

bool SpoolFile::append(QByteArrayView bytes)
{
    if (error_ != 0)
        return false;
    if (held_.capacity() < kHeldBytes)
        held_.reserve(kHeldBytes);
    held_.append(bytes);
    size_ += bytes.size();
    return held_.size() < kHeldBytes || flushHeld();
}

bool SpoolFile::finish()
{
    const bool ok = flushHeld();
    held_.squeeze();
    return ok;
}

QByteArray SpoolFile::read(qint64 offset, qint64 n) const
{
    QByteArray bytes(qsizetype(std::max<qint64>(0, std::min(n, size_ - offset))), Qt::Uninitialized);
    const qint64 got = readFully(fd_, bytes.data(), bytes.size(), off_t(offset));
    bytes.resize(qsizetype(std::max<qint64>(got, 0)));
    return bytes;
}

bool SpoolFile::saveAs(const QString& path) const
{
    if (error_ != 0 || !held_.isEmpty())
        return false;
    const QByteArray target = QFile::encodeName(path);
    if (linkable_) {
        // The file itself gets the name: no second copy on the disk. A name that is taken is
        // never replaced (EEXIST).
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_);
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0) {
            if (::fsync(fd_) == 0 && syncDirectoryOf(path))
                return true;
            if (sameFile(fd_, target))
                ::unlink(target.constData());
            return false;
        }
        if (errno == EEXIST)
            return false;
    }
    const int out = openOwnFile(path, O_WRONLY | O_CREAT | O_EXCL);
    if (out < 0)
        return false;
    bool ok = copyInto(fd_, out, size_) && ::fsync(out) == 0;
    ok = ::close(out) == 0 && ok;
    if (ok && syncDirectoryOf(path))
        return true;
    ::unlink(target.constData());
    return false;
}

} // namespace hm::mail
