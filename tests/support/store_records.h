#pragma once
// What a test reads back from the received and sent stores, through the store's own reader.
#include "store/mail_store.h"

#include <QList>
#include <QStringList>
#include <QTest>

namespace hm::test {

struct StoredRecord {
    qint16 number;
    QString subject, date, from, body;
    qint16 live;
};

// Every whole record of the store, in order; a store that cannot be read fails the running
// test with the store's message.
inline QList<StoredRecord> storedRecords(hm::store::Store s, hm::store::Fields fields = hm::store::Fields::All)
{
    QList<StoredRecord> rows;
    const bool ok = hm::store::ReadAllRecords(
        s, [&](qint16 n, const hm::store::MailRecordFields& f) { rows.append({n, f.Subject, f.Date, f.From, f.Body, f.Live}); },
        fields);
    if (!ok)
        QTest::qFail(qPrintable(QStringLiteral("the store cannot be read: ") + hm::store::lastError()), __FILE__,
                     __LINE__);
    return rows;
}

inline int storedCount(hm::store::Store s)
{
    return int(storedRecords(s, hm::store::Fields::Headers).size());
}

inline QStringList storedSubjects(hm::store::Store s)
{
    QStringList out;
    for (const StoredRecord& r : storedRecords(s, hm::store::Fields::Headers))
        out << r.subject;
    return out;
}

} // namespace hm::test
