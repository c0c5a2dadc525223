#include "store/record_file.h"

#include "common/atomic_file.h"
#include "common/fd_io.h"
#include "common/program_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hm::records {
namespace {

// Big enough that a store of thousands of records is read in a few hundred system calls.
constexpr qint64 kChunkBytes = 2 * 1024 * 1024;

QString nameOf(const QString& absolute)
{
    return QFileInfo(absolute).fileName();
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString describe(int err, const QString& absolute)
{
    const QString name = nameOf(absolute);
    switch (err) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("ディスクの空き容量が足りないため「%1」に書き込めませんでした。"
                              "空き容量を確保してからもう一度実行してください。")
            .arg(name);
    case EACCES:
    case EPERM:
        return QStringLiteral("「%1」を読み書きする権限がありません。").arg(name);
    case EROFS:
        return QStringLiteral("「%1」のあるドライブは書き込みが禁止されています。").arg(name);
    case EISDIR:
        return QStringLiteral("「%1」はファイルではなくフォルダです。").arg(name);
    default:
        return QStringLiteral("「%1」の読み書きに失敗しました。（エラー番号 %2）").arg(name).arg(err);
    }
}

bool folderMissing(const QString& absolute, QString* error)
{
    const QFileInfo folder(QFileInfo(absolute).absolutePath());
    if (folder.isDir())
        return false;
    setError(error, QStringLiteral("データフォルダ「%1」が見つかりません。プログラムのフォルダに"
                                   "「%1」があるか確かめてください。")
                        .arg(folder.fileName()));
    return true;
}

// The Windows read-only attribute has no owner exception; root ignores file modes, so the
// mode bits are looked at rather than asking the kernel.
bool isReadOnly(const struct stat& st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

QString readOnlyText(const QString& absolute)
{
    return QStringLiteral("「%1」は読み取り専用のため書き込めません。読み取り専用の設定を外してから"
                          "もう一度実行してください。")
        .arg(nameOf(absolute));
}

QString fullText(const QString& absolute)
{
    return QStringLiteral("「%1」に保存できるのは%2件までです。不要なデータを削除してから"
                          "もう一度実行してください。")
        .arg(nameOf(absolute))
        .arg(kLastRecordNumber);
}

QString missingRecordText(const QString& absolute, qint16 number)
{
    return QStringLiteral("「%1」に%2番のデータがありません。").arg(nameOf(absolute)).arg(number);
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void reset(int fd)
    {
        close();
        fd_ = fd;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Close errors are write errors on some file systems; they must be seen.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

QByteArray encodedPath(const QString& absolute)
{
    return QFile::encodeName(absolute);
}

// Mail is for its owner's eyes, wherever the store lives.
constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;

mode_t ownerOnly(mode_t mode)
{
    return (mode & S_IRWXU) | kOwnerOnly;
}

// Where a store's bytes are: the file at its name or, where the user made that name a link to
// keep the store elsewhere, the file the link leads to (which must exist: a store is never
// created through a link). Every open then follows no further link.
QString storedAt(const QString& absolute, bool* linked = nullptr)
{
    const QFileInfo info(absolute);
    if (linked)
        *linked = info.isSymLink();
    if (!info.isSymLink())
        return absolute;
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? info.symLinkTarget() : target;
}

// Opens the store for reading. A missing store is created empty (every open of these files
// does that); where it cannot be created it is read as empty. Returns false with the error
// only when the data folder is missing or the file cannot be read.
bool openForReading(const QString& absolute, Fd& fd, QString* error)
{
    const QByteArray path = encodedPath(absolute);
    int raw = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (raw < 0 && errno == ENOENT) {
        if (folderMissing(absolute, error))
            return false;
        // O_EXCL: a link at the name (even one leading nowhere) is never created through.
        const int created = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
        if (created >= 0)
            ::close(created);
        raw = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (raw < 0 && errno == ENOENT)
            return true; // could not be created: an empty store
    }
    if (raw < 0) {
        setError(error, describe(errno, absolute));
        return false;
    }
    fd.reset(raw);
    return true;
}

qint16 liveOf(const char* record, int liveOffset)
{
    const auto lo = static_cast<unsigned char>(record[liveOffset]);
    const auto hi = static_cast<unsigned char>(record[liveOffset + 1]);
    return static_cast<qint16>(static_cast<quint16>(lo | (hi << 8)));
}

} // namespace

qint16 nextNumberForLength(qint64 length, int recordSize)
{
    const qint64 whole = length / recordSize;
    if (whole >= kLastRecordNumber)
        return 0;
    // nearbyint rounds a half to the even neighbour, as the other writers of these files do.
    const double next = std::nearbyint(static_cast<double>(length) / recordSize + 1.0);
    if (next > kLastRecordNumber)
        return static_cast<qint16>(whole + 1);
    return static_cast<qint16>(next);
}

qint16 nextNumber(const Format& f)
{
    struct stat st;
    if (::stat(encodedPath(hm::dataPath(f.path)).constData(), &st) != 0)
        return 1;
    return nextNumberForLength(st.st_size, f.recordSize);
}

qint64 recordCount(const Format& f)
{
    struct stat st;
    if (::stat(encodedPath(hm::dataPath(f.path)).constData(), &st) != 0)
        return 0;
    return st.st_size / f.recordSize;
}

namespace {
// The store a run of appends keeps open (see keepOpenForAppends).
struct KeptOpen {
    QString path;     // the format's relative path
    QString absolute; // where the file was found
    int fd = -1;
    bool active = false;
} g_kept;

void closeKept()
{
    if (g_kept.fd >= 0)
        ::close(g_kept.fd);
    g_kept.fd = -1;
}
} // namespace

void keepOpenForAppends(const Format& f)
{
    closeKept();
    g_kept = {f.path, QString(), -1, true};
}

void endKeepingOpen()
{
    closeKept();
    g_kept.active = false;
}

bool writeRecord(const Format& f, qint16 number, const QByteArray& record, bool overwrite,
                 bool durable, qint16* writtenAs, QString* error,
                 const std::function<void(qint16 number)>& beforeWrite)
{
    Q_ASSERT(record.size() == f.recordSize);
    const bool keep = g_kept.active && g_kept.path == f.path;
    Fd fd;
    struct stat st;
    bool existed = true;
    QString absolute;
    // The file kept open is still the store while its name leads to it: nothing but this
    // program renames over it, and then the old file has no name left.
    if (keep && g_kept.fd >= 0) {
        if (::fstat(g_kept.fd, &st) == 0 && st.st_nlink > 0) {
            fd.reset(g_kept.fd);
            absolute = g_kept.absolute;
        } else {
            closeKept();
        }
        g_kept.fd = -1;
    }
    if (!fd.valid()) {
        const QString named = hm::dataPath(f.path);
        if (folderMissing(named, error))
            return false;
        bool linked = false;
        absolute = storedAt(named, &linked);
        const QByteArray path = encodedPath(absolute);

        existed = ::stat(path.constData(), &st) == 0;
        if (existed && S_ISREG(st.st_mode) && isReadOnly(st)) {
            setError(error, readOnlyText(absolute));
            return false;
        }
        fd.reset(::open(path.constData(), O_WRONLY | (linked ? 0 : O_CREAT) | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
        if (!fd.valid()) {
            setError(error, describe(errno, absolute));
            return false;
        }
        if (::fstat(fd.get(), &st) != 0
            || (S_ISREG(st.st_mode) && (st.st_mode & (S_IRWXG | S_IRWXO)) && ::fchmod(fd.get(), ownerOnly(st.st_mode)) != 0)) {
            setError(error, describe(errno, absolute));
            return false;
        }
    }
    const qint64 whole = st.st_size / f.recordSize;
    const qint64 wholeBytes = whole * f.recordSize;
    const bool append = number < 1 || number > whole;
    if (append && whole >= kLastRecordNumber) {
        setError(error, fullText(absolute));
        return false;
    }
    if (number < 1) {
        setError(error, missingRecordText(absolute, number));
        return false;
    }
    if (!append && !overwrite) {
        setError(error, QStringLiteral("「%1」の%2番にはすでにデータがあるため、上書きせずに中止しました。")
                            .arg(nameOf(absolute))
                            .arg(number));
        return false;
    }
    const qint64 target = append ? whole + 1 : number;
    if (append && st.st_size != wholeBytes && ::ftruncate(fd.get(), wholeBytes) != 0) {
        setError(error, describe(errno, absolute));
        return false;
    }
    if (beforeWrite)
        beforeWrite(static_cast<qint16>(target));
    const off_t offset = static_cast<off_t>((target - 1) * f.recordSize);
    if (!hm::writeFully(fd.get(), record.constData(), record.size(), offset)) {
        const int err = errno;
        if (append && ::ftruncate(fd.get(), wholeBytes) == 0 && durable)
            ::fsync(fd.get());
        setError(error, describe(err, absolute));
        return false;
    }
    if (durable && ::fsync(fd.get()) != 0) {
        const int err = errno;
        if (append)
            ::ftruncate(fd.get(), wholeBytes);
        setError(error, describe(err, absolute));
        return false;
    }
    if (keep) {
        g_kept.fd = fd.release();
        g_kept.absolute = absolute;
    } else if (!fd.close()) {
        setError(error, describe(errno, absolute));
        return false;
    }
    if (durable && !existed)
        hm::syncDirectoryOf(absolute);
    if (writtenAs)
        *writtenAs = static_cast<qint16>(target);
    return true;
}

bool flush(const Format& f, QString* error)
{
    const QString absolute = hm::dataPath(f.path);
    Fd fd(::open(encodedPath(absolute).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        const int err = errno;
        if (err != ENOENT) {
            setError(error, describe(err, absolute));
            return false;
        }
        return !folderMissing(absolute, error); // nothing was ever written
    }
    if (::fsync(fd.get()) != 0) {
        setError(error, describe(errno, absolute));
        return false;
    }
    fd.close();
    // A store created by the appends needs its folder entry on disk too.
    hm::syncDirectoryOf(absolute);
    return true;
}

bool readRecord(const Format& f, qint16 number, QByteArray* record, QString* error)
{
    const QString absolute = hm::dataPath(f.path);
    Fd fd;
    if (!openForReading(absolute, fd, error))
        return false;
    if (number < 1 || !fd.valid()) {
        setError(error, missingRecordText(absolute, number));
        return false;
    }
    QByteArray buffer(f.recordSize, Qt::Uninitialized);
    const off_t offset = static_cast<off_t>(static_cast<qint64>(number - 1) * f.recordSize);
    const qint64 got = hm::readFully(fd.get(), buffer.data(), f.recordSize, offset);
    if (got < 0) {
        setError(error, describe(errno, absolute));
        return false;
    }
    if (got < f.recordSize) {
        setError(error, missingRecordText(absolute, number));
        return false;
    }
    *record = buffer;
    return true;
}

qsizetype trimmedLength(const char* field, qsizetype width)
{
    // Bodies are mostly padding: skip it eight bytes at a time.
    constexpr quint64 spaces = 0x2020202020202020ULL;
    qsizetype n = width;
    while (n >= 8) {
        quint64 word;
        std::memcpy(&word, field + n - 8, 8);
        if (word != spaces && word != 0)
            break;
        n -= 8;
    }
    while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0'))
        --n;
    return n;
}

bool forEachRecord(const Format& f, const std::function<void(qint16, const char*, bool)>& visit,
                   QString* error, int headBytes)
{
    const QString absolute = hm::dataPath(f.path);
    Fd fd;
    if (!openForReading(absolute, fd, error))
        return false;
    if (!fd.valid())
        return true;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        setError(error, describe(errno, absolute));
        return false;
    }
    // Record numbers end at kLastRecordNumber; anything behind cannot be named.
    const qint64 total = std::min<qint64>(st.st_size / f.recordSize, kLastRecordNumber);
    if (headBytes > 0 && headBytes < f.liveOffset) {
        // A list needs a few hundred bytes of each record: reading just those keeps a store of
        // a gigabyte from being copied whole.
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_RANDOM);
        QByteArray record(f.recordSize, '\0');
        char* p = record.data();
        for (qint64 number = 1; number <= total; ++number) {
            const off_t at = off_t(number - 1) * f.recordSize;
            const bool last = number == total;
            const qint64 want = last ? f.recordSize : headBytes;
            if (hm::readFully(fd.get(), p, want, at) != want
                || (!last && hm::readFully(fd.get(), p + f.liveOffset, 2, at + f.liveOffset) != 2)) {
                setError(error, describe(errno, absolute));
                return false;
            }
            visit(static_cast<qint16>(number), p, last);
        }
        return true;
    }
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    const qint64 perChunk = std::max<qint64>(1, kChunkBytes / f.recordSize);
    QByteArray buffer(perChunk * f.recordSize, Qt::Uninitialized);
    qint64 number = 0;
    for (;;) {
        const qint64 got = hm::readFully(fd.get(), buffer.data(), buffer.size());
        if (got < 0) {
            setError(error, describe(errno, absolute));
            return false;
        }
        const qint64 records = got / f.recordSize;
        for (qint64 i = 0; i < records && number < total; ++i) {
            ++number;
            visit(static_cast<qint16>(number), buffer.constData() + i * f.recordSize, number == total);
        }
        if (got < buffer.size() || number >= total)
            return true;
    }
}

// Copies every live record but skip from source to target; runs of surviving records go out in
// one write each. False with errno set, readFailed telling which side failed.
bool copyLiveRecords(const Format& f, int source, int target, qint16 skip, int& dropped, bool& readFailed)
{
    ::posix_fadvise(source, 0, 0, POSIX_FADV_SEQUENTIAL);
    const qint64 perChunk = std::max<qint64>(1, kChunkBytes / f.recordSize);
    QByteArray buffer(perChunk * f.recordSize, Qt::Uninitialized);
    qint64 number = 0;
    for (;;) {
        const qint64 got = hm::readFully(source, buffer.data(), buffer.size());
        if (got < 0) {
            readFailed = true;
            return false;
        }
        const qint64 records = got / f.recordSize;
        qint64 runStart = 0;
        for (qint64 i = 0; i < records; ++i) {
            ++number;
            const char* rec = buffer.constData() + i * f.recordSize;
            if (number == skip || liveOf(rec, f.liveOffset) == 0) {
                if (!hm::writeFully(target, buffer.constData() + runStart * f.recordSize, (i - runStart) * f.recordSize))
                    return false;
                runStart = i + 1;
                ++dropped;
            }
        }
        if (!hm::writeFully(target, buffer.constData() + runStart * f.recordSize, (records - runStart) * f.recordSize))
            return false;
        if (got < buffer.size())
            return true;
    }
}

bool compact(const Format& f, qint16 skip, bool dropAll, int* removed, QString* error)
{
    // A store that is a link stays one: the file it points to is rewritten, in its own folder,
    // since a rename over the link would replace the link by a plain file.
    bool linked = false;
    const QString absolute = storedAt(hm::dataPath(f.path), &linked);
    QString temporary = hm::dataPath(f.tempPath);
    if (linked)
        temporary = QFileInfo(absolute).absolutePath() + QLatin1Char('/') + QFileInfo(temporary).fileName();
    if (folderMissing(absolute, error))
        return false;
    const QByteArray path = encodedPath(absolute);
    const QByteArray tempPath = encodedPath(temporary);

    Fd source(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source.valid() && (errno != ENOENT || linked)) {
        setError(error, describe(errno, absolute));
        return false;
    }
    mode_t mode = kOwnerOnly;
    qint64 whole = 0;
    if (source.valid()) {
        struct stat st;
        if (::fstat(source.get(), &st) != 0) {
            setError(error, describe(errno, absolute));
            return false;
        }
        if (isReadOnly(st)) {
            setError(error, readOnlyText(absolute));
            return false;
        }
        mode = ownerOnly(st.st_mode);
        whole = st.st_size / f.recordSize;
    }
    if (skip != 0 && (skip < 1 || skip > whole)) {
        setError(error, missingRecordText(absolute, skip));
        return false;
    }

    // Whatever lies at the temporary name (a stale copy from an interrupted run, or a link
    // planted there) goes first; the new file is then made afresh and never through a link.
    ::unlink(tempPath.constData());
    Fd target(::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!target.valid()) {
        setError(error, describe(errno, temporary));
        return false;
    }
    auto fail = [&](int err, const QString& which) {
        target.close();
        ::unlink(tempPath.constData());
        setError(error, describe(err, which));
        return false;
    };
    ::fchmod(target.get(), mode);

    int dropped = 0;
    if (dropAll) {
        dropped = static_cast<int>(whole);
    } else if (source.valid()) {
        bool readFailed = false;
        if (!copyLiveRecords(f, source.get(), target.get(), skip, dropped, readFailed))
            return fail(errno, readFailed ? absolute : temporary);
    }
    if (::fsync(target.get()) != 0)
        return fail(errno, temporary);
    if (!target.close()) {
        const int err = errno;
        ::unlink(tempPath.constData());
        setError(error, describe(err, temporary));
        return false;
    }
    source.close();
    if (::rename(tempPath.constData(), path.constData()) != 0) {
        const int err = errno;
        ::unlink(tempPath.constData());
        setError(error, describe(err, absolute));
        return false;
    }
    hm::syncDirectoryOf(absolute);
    if (removed)
        *removed = dropped;
    return true;
}

} // namespace hm::records
