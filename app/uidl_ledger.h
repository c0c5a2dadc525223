#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The messages stored in the received store whose deletion on the server has not yet been
// seen to take effect, by their UIDL (RFC 1939). Deletions happen only at QUIT; after a run
// that never got there (killed, or the connection broke), the next run finds each such message
// here, checks that its record is really in the store, and deletes it on the server instead
// of storing it a second time. A server without UIDL leaves the ledger unused.
//
// One line per message: UIDL, record number, checksum of the record. The line is written just
// before its record, so a kill between the two never leaves a record the ledger does not know;
// a line whose record is missing or different (the kill came first, or the record did not reach
// the disk before a power loss) fails the checksum and is not trusted.
class UidlLedger {
public:
    UidlLedger() = default;
    ~UidlLedger();
    UidlLedger(const UidlLedger&) = delete;
    UidlLedger& operator=(const UidlLedger&) = delete;

    // Reads the ledger against this session's UIDLs (message n at index n - 1, empty where the
    // server gave none); lines of messages no longer on the server are dropped. problem gets a
    // text for the user when the ledger file cannot be used (the run then goes on without it).
    void open(const QStringList& serverUidls, QString* problem);
    // Message n was stored by an earlier run and its record is whole in the store.
    bool alreadyStored(int n) const;
    // Notes message n as about to be stored in record number with that checksum; false when it
    // could not be noted.
    bool noteStoring(int n, qint16 number, const QByteArray& checksum);
    // Puts the notes on disk; called after the store's flush, before QUIT.
    bool flush();

private:
    struct Entry {
        qint16 number = 0;
        QByteArray checksum;
    };
    QStringList uidls_;
    QHash<QString, Entry> entries_;
    int fd_ = -1;
};
