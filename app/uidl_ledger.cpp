#include "app/uidl_ledger.h"

#include "common/atomic_file.h"
#include "common/fd_io.h"
#include "common/program_folder.h"
#include "common/small_file.h"
#include "store/mail_store.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kLedger = QStringLiteral("\\★MAilData\\hymuidl.txt");
// A line is at most about a hundred bytes and the store holds at most 32,767 records.
constexpr qint64 kLedgerLimit = 4 * 1024 * 1024;

QByteArray lineOf(const QString& uidl, qint16 number, const QByteArray& checksum)
{
    return uidl.toLatin1() + ' ' + QByteArray::number(number) + ' ' + checksum + '\n';
}

} // namespace

UidlLedger::~UidlLedger()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void UidlLedger::open(const QStringList& serverUidls, QString* problem)
{
    // A UIDL the server gives twice names no single message: neither copy is looked up.
    QHash<QString, int> seen;
    for (const QString& uidl : serverUidls)
        if (!uidl.isEmpty())
            ++seen[uidl];
    if (seen.isEmpty())
        return;
    uidls_ = serverUidls;
    for (QString& uidl : uidls_)
        if (seen.value(uidl) > 1)
            uidl.clear();

    const QString path = hm::dataPath(kLedger);
    QByteArray bytes;
    const hm::SmallFile read = hm::readSmallFile(path, &bytes, kLedgerLimit);
    if (read == hm::SmallFile::TooLarge || read == hm::SmallFile::Unreadable) {
        *problem = hm::smallFileProblem(path, read, kLedgerLimit);
        uidls_.clear();
        return;
    }
    // A line cut off by a kill is dropped, and so is every line of a message the server no
    // longer holds; a later line of the same UIDL replaces an earlier one.
    bool rewrite = !bytes.isEmpty() && !bytes.endsWith('\n');
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(' ');
        bool ok = f.size() == 3;
        const int number = ok ? f[1].toInt(&ok) : 0;
        const QString uidl = QString::fromLatin1(f[0]);
        if (!ok || number < 1 || number > 32767 || f[2].isEmpty() || !seen.contains(uidl)) {
            rewrite = true;
            continue;
        }
        rewrite = rewrite || entries_.contains(uidl);
        entries_[uidl] = {qint16(number), f[2]};
    }
    if (rewrite) {
        QByteArray kept;
        for (auto it = entries_.cbegin(); it != entries_.cend(); ++it)
            kept += lineOf(it.key(), it->number, it->checksum);
        // Lines that were dropped need not come back after a power loss: only a kept line
        // must stay whole, which the atomic write sees to.
        const bool written = kept.isEmpty() ? QFile::resize(path, 0) : hm::writeFileAtomically(path, kept);
        if (!written) {
            entries_.clear();
            uidls_.clear();
            return;
        }
    }
    fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0)
        uidls_.clear();
}

bool UidlLedger::alreadyStored(int n) const
{
    if (n < 1 || n > uidls_.size() || uidls_[n - 1].isEmpty())
        return false;
    const auto it = entries_.constFind(uidls_[n - 1]);
    return it != entries_.cend()
           && hm::store::RecordChecksum(hm::store::Store::Received, it->number) == it->checksum;
}

bool UidlLedger::noteStoring(int n, qint16 number, const QByteArray& checksum)
{
    if (fd_ < 0 || n < 1 || n > uidls_.size() || uidls_[n - 1].isEmpty())
        return false;
    const QByteArray line = lineOf(uidls_[n - 1], number, checksum);
    if (!hm::writeFully(fd_, line.constData(), line.size())) {
        // A part-written line is dropped at the next run; nothing more goes behind it.
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    entries_[uidls_[n - 1]] = {number, checksum};
    return true;
}

bool UidlLedger::flush()
{
    // The store's flush has put the folder entry of a new ledger on disk.
    return fd_ >= 0 && ::fdatasync(fd_) == 0;
}
