#include "app/uidl_ledger.h"

#include "common/atomic_file.h"
#include "common/fd_io.h"
#include "common/program_folder.h"
#include "common/small_file.h"
#include "store/mail_store.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLedger = QStringLiteral("\\★MAilData\\hymuidl.txt");
// A message takes at most about two hundred bytes (its line and, kept on the server, its date
// line), and a mailbox kept on the server may hold far more messages than the store's 32,767:
// a ledger cut short would have all of them stored again.
constexpr qint64 kLedgerLimit = 64 * 1024 * 1024;

QByteArray lineOf(const QString& uidl, qint16 number, const QByteArray& checksum, qint64 size)
{
    return uidl.toLatin1() + ' ' + QByteArray::number(number) + ' ' + checksum + ' ' + QByteArray::number(size) + '\n';
}

QByteArray dateLineOf(const QString& uidl, const QDateTime& storedOn)
{
    return uidl.toLatin1() + ' ' + storedOn.toUTC().toString(Qt::ISODate).toLatin1() + '\n';
}

// Reads the ledger, never through a link. Empty when it was read or is missing; otherwise why
// it cannot be used.
QString readLedger(const QString& path, QByteArray* bytes)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? QString() : QStringLiteral("を読み込めません");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("は通常のファイルではありません");
    switch (hm::readSmallFile(path, bytes, kLedgerLimit)) {
    case hm::SmallFile::TooLarge:
        return QStringLiteral("は大きすぎます（%1 KB まで）").arg(kLedgerLimit / 1024);
    case hm::SmallFile::Unreadable:
        return QStringLiteral("を読み込めません");
    case hm::SmallFile::Read:
    case hm::SmallFile::Missing:
        break;
    }
    return {};
}

} // namespace

UidlLedger::~UidlLedger()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void UidlLedger::open(const QStringList& serverUidls, const QList<qint64>& serverSizes, QString* notice)
{
    // A UIDL the server gives twice names no single message: neither copy is looked up.
    QHash<QString, int> seen;
    for (const QString& uidl : serverUidls)
        if (!uidl.isEmpty())
            ++seen[uidl];
    if (seen.isEmpty())
        return;
    uidls_ = serverUidls;
    for (qsizetype i = 0; i < uidls_.size(); ++i) {
        if (seen.value(uidls_[i]) > 1)
            uidls_[i].clear();
        else if (!uidls_[i].isEmpty())
            sizes_[uidls_[i]] = i < serverSizes.size() ? serverSizes[i] : -1;
    }

    path_ = hm::dataPath(kLedger);
    QByteArray bytes;
    const QString unusable = readLedger(path_, &bytes);
    // A line cut off by a kill is dropped, and so is every line of a message the server no
    // longer holds under that UIDL and size; a later line of the same UIDL replaces an earlier
    // one. A line without a size (an older ledger's) cannot be matched and goes too. A date
    // line counts only after the line of its message.
    bool rewrite = !unusable.isEmpty() || (!bytes.isEmpty() && !bytes.endsWith('\n'));
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 2) {
            const auto entry = entries_.find(QString::fromLatin1(f[0]));
            // Whole, as written: a line a kill cut short may still look like a date.
            const QDateTime storedOn = f[1].size() == 20 && f[1].endsWith('Z')
                                           ? QDateTime::fromString(QString::fromLatin1(f[1]), Qt::ISODate)
                                           : QDateTime();
            if (entry == entries_.end() || !storedOn.isValid() || entry->storedOn.isValid()) {
                rewrite = true;
                continue;
            }
            entry->storedOn = storedOn.toUTC();
            continue;
        }
        bool ok = f.size() == 4;
        const int number = ok ? f[1].toInt(&ok) : 0;
        const qint64 size = ok ? f[3].toLongLong(&ok) : -1;
        const QString uidl = QString::fromLatin1(f[0]);
        if (!ok || number < 1 || number > 32767 || f[2].isEmpty() || size < 0 || !sizes_.contains(uidl)
            || sizes_.value(uidl) != size) {
            rewrite = true;
            continue;
        }
        rewrite = rewrite || entries_.contains(uidl);
        entries_[uidl] = {qint16(number), f[2], size, {}};
    }
    rewrite = findRecords() || rewrite;
    if (rewrite) {
        if (!replaceFile(lines())) {
            entries_.clear();
            stored_.clear();
            uidls_.clear();
        }
    }
    if (!uidls_.isEmpty() && !openForAppending())
        uidls_.clear();
    if (unusable.isEmpty())
        return;
    const QString name = QDir::toNativeSeparators(path_);
    const QString lost = QStringLiteral("途中で終わった受信で保存したメールや、サーバーに残したメールが、もう一度届くことがあります。");
    *notice = uidls_.isEmpty()
                  ? QStringLiteral("受信の記録「%1」%2。作り直せなかったため、記録なしで受信します。\n%3").arg(name, unusable, lost)
                  : QStringLiteral("受信の記録「%1」%2。新しく作り直しました。\n%3").arg(name, unusable, lost);
}

// Which lines have their record in the store: at its own number or, when the history deleted
// records before it, lower down under the same checksum. Each record answers for one line.
// True when a line's number changed. A dated message was stored for sure: its record is not
// looked for (the user may have deleted it).
bool UidlLedger::findRecords()
{
    using hm::store::Store;
    QSet<qint16> taken;
    QStringList moved;
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
        if (it->storedOn.isValid()) {
            stored_.insert(it.key());
        } else if (hm::store::RecordChecksum(Store::Received, it->number) == it->checksum) {
            stored_.insert(it.key());
            taken.insert(it->number);
        } else {
            moved << it.key();
        }
    }
    QList<QByteArray> checksums;
    if (moved.isEmpty() || !hm::store::RecordChecksums(Store::Received, &checksums))
        return false;
    QHash<QByteArray, QList<qint16>> numbers;
    for (qsizetype i = 0; i < checksums.size(); ++i)
        numbers[checksums[i]].append(qint16(i + 1));
    bool changed = false;
    for (const QString& uidl : moved) {
        Entry& e = entries_[uidl];
        const QList<qint16> candidates = numbers.value(e.checksum);
        for (auto k = candidates.crbegin(); k != candidates.crend(); ++k) {
            if (*k > e.number || taken.contains(*k))
                continue;
            e.number = *k;
            taken.insert(*k);
            stored_.insert(uidl);
            changed = true;
            break;
        }
    }
    return changed;
}

QByteArray UidlLedger::lines() const
{
    QByteArray all;
    for (auto it = entries_.cbegin(); it != entries_.cend(); ++it) {
        all += lineOf(it.key(), it->number, it->checksum, it->size);
        if (it->storedOn.isValid())
            all += dateLineOf(it.key(), it->storedOn);
    }
    return all;
}

// Puts bytes in place of the ledger: a link or anything else there that is not a plain file is
// removed, never written through.
bool UidlLedger::replaceFile(const QByteArray& bytes)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    const QByteArray name = QFile::encodeName(path_);
    struct stat st;
    if (::lstat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode) && ::unlink(name.constData()) != 0)
        return false;
    if (!bytes.isEmpty())
        return hm::writeFileAtomically(path_, bytes, true);
    // Lines once gone must not come back after a power loss.
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return false;
    hm::syncDirectoryOf(path_);
    return true;
}

bool UidlLedger::openForAppending()
{
    fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                 S_IRUSR | S_IWUSR);
    // A ledger an older run left open to others is the owner's alone from now on.
    return fd_ >= 0 && ::fchmod(fd_, S_IRUSR | S_IWUSR) == 0;
}

bool UidlLedger::alreadyStored(int n) const
{
    return n >= 1 && n <= uidls_.size() && !uidls_[n - 1].isEmpty() && stored_.contains(uidls_[n - 1]);
}

bool UidlLedger::noteStoring(int n, qint16 number, const QByteArray& checksum)
{
    if (fd_ < 0 || n < 1 || n > uidls_.size() || uidls_[n - 1].isEmpty())
        return false;
    const qint64 size = sizes_.value(uidls_[n - 1], -1);
    if (size < 0)
        return false;
    const QByteArray line = lineOf(uidls_[n - 1], number, checksum, size);
    if (!hm::writeFully(fd_, line.constData(), line.size())) {
        // A part-written line is dropped at the next run; nothing more goes behind it.
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    entries_[uidls_[n - 1]] = {number, checksum, size, {}};
    return true;
}

QDateTime UidlLedger::storedOn(int n) const
{
    if (n < 1 || n > uidls_.size() || uidls_[n - 1].isEmpty())
        return {};
    const auto entry = entries_.constFind(uidls_[n - 1]);
    return entry == entries_.cend() ? QDateTime() : entry->storedOn;
}

void UidlLedger::noteKeeping(int n)
{
    if (n >= 1 && n <= uidls_.size() && entries_.contains(uidls_[n - 1]) && !storedOn(n).isValid())
        keeping_ << uidls_[n - 1];
}

void UidlLedger::noteDeleted(int n)
{
    if (n >= 1 && n <= uidls_.size() && !uidls_[n - 1].isEmpty())
        deleted_.insert(uidls_[n - 1]);
}

bool UidlLedger::flush()
{
    // The store's flush has put the folder entry of a new ledger on disk.
    return fd_ >= 0 && ::fdatasync(fd_) == 0;
}

bool UidlLedger::writeDates(const QDateTime& now)
{
    if (fd_ < 0)
        return false;
    QByteArray lines;
    for (const QString& uidl : std::as_const(keeping_))
        lines += dateLineOf(uidl, now);
    if (!hm::writeFully(fd_, lines.constData(), lines.size())) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    for (const QString& uidl : std::as_const(keeping_))
        entries_[uidl].storedOn = now.toUTC();
    keeping_.clear();
    return ::fdatasync(fd_) == 0;
}

void UidlLedger::forgetDeleted()
{
    if (deleted_.isEmpty())
        return;
    for (const QString& uidl : std::as_const(deleted_))
        entries_.remove(uidl);
    // A line left behind could delete new mail that gets the same UIDL: better no ledger.
    if (!replaceFile(lines()))
        ::unlink(QFile::encodeName(path_).constData());
    deleted_.clear();
}
