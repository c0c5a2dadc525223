#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// The messages stored in the received store whose deletion on the server has not yet been
// seen to take effect, and those kept on the server on purpose, by their UIDL (RFC 1939).
// Deletions happen only at QUIT; after a run that never got there (killed, the connection
// broke, QUIT refused), the next run finds each such message here, checks that its record is
// really in the store, and deletes it on the server instead of storing it a second time. Once
// the server has acknowledged QUIT, the lines of the messages deleted go: a server may hand
// their UIDLs to new mail. A server without UIDL leaves the ledger unused.
//
// One line per message: UIDL, record number, checksum of the record, size the server gave.
// The line is written just before its record, so a kill between the two never leaves a record
// the ledger does not know; a line whose record is missing or different (the kill came first,
// or the record did not reach the disk before a power loss) fails the checksum and is not
// trusted. A record that moved down because the history deleted one before it is found by its
// checksum. A message is taken as stored only when UIDL, size and record all match.
//
// A message kept on the server has a second line after its first: UIDL and the time it was
// first stored (UTC, "2026-12-07T09:00:00Z"). It is written only once the store is flushed, so
// it vouches for the record: such a message counts as stored even when the user has since
// deleted its record. A reader that knows only four-field lines drops the dated ones and takes
// the kept messages for stored ones still to be deleted.
class UidlLedger {
public:
    UidlLedger() = default;
    ~UidlLedger();
    UidlLedger(const UidlLedger&) = delete;
    UidlLedger& operator=(const UidlLedger&) = delete;

    // Reads the ledger against this session's listing: message n's UIDL and size at index
    // n - 1 (an empty UIDL where the server gave none, a negative size where it is unknown).
    // Lines of messages no longer on the server are dropped. A ledger that cannot be read (too
    // large, unreadable, not a plain file) is started afresh; notice then gets a text for the
    // user.
    void open(const QStringList& serverUidls, const QList<qint64>& serverSizes, QString* notice);
    // Message n was stored by an earlier run: its record is whole in the store, or it was kept
    // on the server.
    bool alreadyStored(int n) const;
    // When message n was first stored, if it was kept on the server; invalid otherwise.
    QDateTime storedOn(int n) const;
    // Notes message n as about to be stored in record number with that checksum; false when it
    // could not be noted.
    bool noteStoring(int n, qint16 number, const QByteArray& checksum);
    // Message n is marked for deletion in this session.
    void noteDeleted(int n);
    // Message n is in the store and stays on the server; it is dated at writeDates.
    void noteKeeping(int n);
    // Puts the notes on disk; called after the store's flush, before QUIT.
    bool flush();
    // After the store's flush: dates every message noted as kept that has no date yet, and puts
    // the ledger on disk.
    bool writeDates(const QDateTime& now);
    // The server acknowledged QUIT: the messages marked for deletion are gone, and so are their
    // lines.
    void forgetDeleted();

private:
    struct Entry {
        qint16 number = 0;
        QByteArray checksum;
        qint64 size = -1;
        QDateTime storedOn; // kept on the server since then
    };
    bool findRecords();
    // Every kept entry as the ledger writes it.
    QByteArray lines() const;
    bool replaceFile(const QByteArray& bytes);
    bool openForAppending();

    QString path_;
    QStringList uidls_;
    QHash<QString, qint64> sizes_; // by UIDL
    QHash<QString, Entry> entries_;
    QSet<QString> stored_;  // UIDLs whose record is in the store
    QSet<QString> deleted_; // UIDLs marked for deletion in this session
    QStringList keeping_;   // UIDLs to be dated at writeDates
    int fd_ = -1;
};
