#include "common/private_files.h"
#include "common/program_folder.h"
#include "store/mail_store.h"
#include "store/record_file.h"
#include "tests/store/store_test_util.h"
#include "tests/support/store_records.h"
#include "tests/support/test_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <zlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace hm;
using namespace hm::store;
using hm::test::cp932;
using hm::test::mailRecord;

namespace {
const QString kReceived = hm::store::storePath(hm::store::Store::Received);
const QString kSent = hm::store::storePath(hm::store::Store::Sent);
const QString kReceivedTemp = hm::store::tempPath(hm::store::Store::Received);

bool appendSimple(Store s, const QString& subject)
{
    return AppendRecord(s, NextRecordNumber(s), subject, QStringLiteral("from@example.jp"),
                        QStringLiteral("2026/12/07  10:00:00"), QStringLiteral("body of ") + subject);
}
} // namespace

class TestMailStore : public QObject {
    Q_OBJECT
private slots:
    void emptyStoreAndAppendedRecordsHaveTheExactLayout();
    void recordsWrittenElsewhereAreReadBack();
    void writersTrimAndCutTheirFields();
    void doubleByteTextIsCutOnACharacterBoundary();
    void readRecordFillsTheBufferAndRefusesMissingNumbers();
    void listingWithHeadersOnlyStillLeavesTheLastRecordWhole();
    void deletionsRenumberAndLeaveNoTemporaryFile();
    void appendsOfARunFollowTheStoreWhenItIsReplaced();
    void checksumNotedAtAppendIsTheStoredRecords();
    void nextNumberRoundsLikeTheOtherWriters();
    void partialTailNeverBecomesARecord();
    void hostileStoresAreListedWithoutHarm();
    void aStaleTemporaryFileIsNeverTakenForTheStore();
    void compactionFollowsNoLinkAtTheTemporaryNameAndKeepsALinkedStore();
    void theLastRecordNumberIsNeverExceeded();
    void readOnlyStoreIsRefusedAndLeftAlone();
    void missingDataFolderIsReportedAndNotCreated();
    void fullDiskLeavesNoHalfWrittenRecord();
    void mailIsReadableByItsOwnerOnly();
};

void TestMailStore::emptyStoreAndAppendedRecordsHaveTheExactLayout()
{
    test::TestFolder folder;
    QCOMPARE(NextRecordNumber(Store::Received), qint16(1));
    QVERIFY(test::storedRecords(Store::Received).isEmpty());
    // The first listing creates the store, empty.
    QVERIFY(QFileInfo::exists(folder.file(kReceived)));
    QCOMPARE(QFileInfo(folder.file(kReceived)).size(), 0);

    QVERIFY(AppendRecord(Store::Received, 1, QStringLiteral("件名"), QStringLiteral("a@example.jp"),
                         QStringLiteral("Mon, 7 Dec 2026"), QStringLiteral("本文")));
    QVERIFY(appendSimple(Store::Received, QStringLiteral("second")));
    QCOMPARE(CurrentRecordNumber(), qint16(2));
    QCOMPARE(NextRecordNumber(Store::Received), qint16(3));

    const QByteArray file = folder.read(kReceived);
    QCOMPARE(file.size(), 2 * 32284);
    const QByteArray expected = mailRecord(cp932(QStringLiteral("件名")), "Mon, 7 Dec 2026", "a@example.jp",
                                           cp932(QStringLiteral("本文")));
    QCOMPARE(file.left(32284), expected);
    // The second record starts right behind the first, Date before From.
    QCOMPARE(file.mid(32284, 7), QByteArray("second "));
    QCOMPARE(file.mid(32284 + 100, 20), QByteArray("2026/12/07  10:00:00"));
    QCOMPARE(file.mid(32284 + 190, 15), QByteArray("from@example.jp"));
    QCOMPARE(file.right(4), QByteArray("\r\n\x01\x00", 4));
    // Nothing was written to the other store.
    QVERIFY(!QFileInfo::exists(folder.file(kSent)) || QFileInfo(folder.file(kSent)).size() == 0);
}

void TestMailStore::recordsWrittenElsewhereAreReadBack()
{
    test::TestFolder folder;
    QByteArray file = mailRecord(cp932(QStringLiteral("①㈱ハンカク ｶﾀｶﾅ")), "Tue, 1 Dec 2026 09:00:00 +0900",
                                 "x@example.jp", cp932(QStringLiteral("  一行目\r\n二行目  ")));
    file += mailRecord("plain", "d", "f", QByteArray("b"));
    folder.write(kReceived, file);

    const QList<test::StoredRecord> rows = test::storedRecords(Store::Received);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].number, qint16(1));
    QCOMPARE(rows[0].subject, QStringLiteral("①㈱ハンカク ｶﾀｶﾅ"));
    QCOMPARE(rows[0].date, QStringLiteral("Tue, 1 Dec 2026 09:00:00 +0900"));
    QCOMPARE(rows[0].from, QStringLiteral("x@example.jp"));
    // Trailing padding goes, leading spaces of a stored body stay as stored.
    QCOMPARE(rows[0].body, QStringLiteral("  一行目\r\n二行目"));
    QCOMPARE(rows[1].subject, QStringLiteral("plain"));
    QCOMPARE(RecordBuffer(Store::Received).Subject, QStringLiteral("plain"));
}

void TestMailStore::writersTrimAndCutTheirFields()
{
    test::TestFolder folder;
    const QString longSubject = QString(150, QLatin1Char('s'));
    const QString longBody = QStringLiteral("  ") + QString(33000, QLatin1Char('b')) + QStringLiteral("  ");
    QVERIFY(AppendRecord(Store::Received, 1, longSubject, QStringLiteral("  a@b  "),
                         QStringLiteral("  Mon  "), longBody));
    QVERIFY(AppendRecord(Store::Received, 2, QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("d"),
                         QStringLiteral("   in  side   ")));
    // The sent store keeps the clock text as it is, leading spaces included.
    QVERIFY(AppendRecord(Store::Sent, 1, QStringLiteral(" 件名 "), QStringLiteral(" to@example.jp "),
                         QStringLiteral(" 2026/12/07  10:00 "), QStringLiteral("x")));

    const QList<test::StoredRecord> received = test::storedRecords(Store::Received);
    QCOMPARE(received[0].subject, QString(100, QLatin1Char('s')));
    QCOMPARE(received[0].from, QStringLiteral("a@b"));
    QCOMPARE(received[0].date, QStringLiteral("Mon"));
    QCOMPARE(received[0].body, QString(32000, QLatin1Char('b')));
    QCOMPARE(received[1].body, QStringLiteral("in  side"));
    const QByteArray sent = folder.read(kSent);
    QCOMPARE(sent.left(100), cp932(QStringLiteral("件名")) + QByteArray(96, ' '));
    QCOMPARE(sent.mid(100, 19), QByteArray(" 2026/12/07  10:00 "));
    QCOMPARE(sent.mid(190, 14), QByteArray("to@example.jp "));
    // Full-width spaces are not ASCII spaces and stay.
    QVERIFY(AppendRecord(Store::Sent, 2, QStringLiteral("　全角　"), QString(), QString(), QString()));
    QCOMPARE(test::storedRecords(Store::Sent)[1].subject, QStringLiteral("　全角　"));
}

void TestMailStore::doubleByteTextIsCutOnACharacterBoundary()
{
    test::TestFolder folder;
    const QString sixty = QString(60, QChar(0x6F22)); // 漢
    QVERIFY(AppendRecord(Store::Received, 1, sixty, QString(), QString(), QString()));
    QVERIFY(AppendRecord(Store::Received, 2, QStringLiteral("a") + sixty, QString(), QString(), QString()));
    const QByteArray file = folder.read(kReceived);
    QCOMPARE(file.left(100), cp932(QString(50, QChar(0x6F22))));
    // An odd start leaves one byte that cannot hold a whole character: it is padding.
    QCOMPARE(file.mid(32284, 100), QByteArray("a") + cp932(QString(49, QChar(0x6F22))) + " ");
    QCOMPARE(file.mid(32284 + 100, 10), QByteArray(10, ' '));
    const QList<test::StoredRecord> rows = test::storedRecords(Store::Received);
    QCOMPARE(rows[0].subject, QString(50, QChar(0x6F22)));
    QCOMPARE(rows[1].subject, QStringLiteral("a") + QString(49, QChar(0x6F22)));
}

void TestMailStore::readRecordFillsTheBufferAndRefusesMissingNumbers()
{
    test::TestFolder folder;
    for (const char* s : {"one", "two", "three"})
        QVERIFY(appendSimple(Store::Sent, QString::fromLatin1(s)));
    QVERIFY(ReadRecord(Store::Sent, 2));
    QCOMPARE(RecordBuffer(Store::Sent).Subject, QStringLiteral("two"));
    QCOMPARE(RecordBuffer(Store::Sent).Body, QStringLiteral("body of two"));
    QCOMPARE(RecordBuffer(Store::Sent).Live, qint16(1));
    QVERIFY(!ReadRecord(Store::Sent, 4));
    QVERIFY(!ReadRecord(Store::Sent, 0));
    QVERIFY(lastError().contains(QStringLiteral("hymdata5.data")));
    QCOMPARE(RecordBuffer(Store::Sent).Subject, QStringLiteral("two"));
    // Each store has its own buffer.
    QVERIFY(appendSimple(Store::Received, QStringLiteral("r")));
    QCOMPARE(RecordBuffer(Store::Sent).Subject, QStringLiteral("two"));
    QCOMPARE(RecordBuffer(Store::Received).Subject, QStringLiteral("r"));
}

void TestMailStore::listingWithHeadersOnlyStillLeavesTheLastRecordWhole()
{
    test::TestFolder folder;
    // More records than one read chunk holds, so the last one lies in a later chunk.
    QByteArray file;
    const int count = 100;
    for (int i = 1; i <= count; ++i)
        file += mailRecord("s" + QByteArray::number(i), "d", "f", "body " + QByteArray::number(i));
    folder.write(kReceived, file);
    int visited = 0;
    QVERIFY(ReadAllRecords(
        Store::Received,
        [&](qint16 n, const MailRecordFields& f) {
            ++visited;
            QCOMPARE(f.Subject, QStringLiteral("s%1").arg(n));
            if (n < count)
                QVERIFY(f.Body.isEmpty());
        },
        Fields::Headers));
    QCOMPARE(visited, count);
    QCOMPARE(RecordBuffer(Store::Received).Body, QStringLiteral("body %1").arg(count));
}

// A run keeps the store open; a store rewritten or removed meanwhile is found again by name.
void TestMailStore::appendsOfARunFollowTheStoreWhenItIsReplaced()
{
    test::TestFolder folder;
    AppendRun run(Store::Received);
    for (const char* s : {"one", "two"})
        QVERIFY(appendSimple(Store::Received, QString::fromLatin1(s)));
    QVERIFY(DeleteRecord(Store::Received, 1));
    QVERIFY(appendSimple(Store::Received, QStringLiteral("three")));
    QCOMPARE(test::storedSubjects(Store::Received), (QStringList{QStringLiteral("two"), QStringLiteral("three")}));
    QVERIFY(QFile::remove(folder.file(kReceived)));
    QVERIFY(appendSimple(Store::Received, QStringLiteral("four")));
    QCOMPARE(test::storedSubjects(Store::Received), QStringList{QStringLiteral("four")});
    QCOMPARE(QFileInfo(folder.file(kReceived)).size(), 32284);
}

// The checksum an append hands the ledger is the one the record on disk gives, whatever the
// length of its body, and zlib's CRC-32 of it, which ledgers written before hold.
void TestMailStore::checksumNotedAtAppendIsTheStoredRecords()
{
    test::TestFolder folder;
    QList<QByteArray> noted;
    const auto note = [&](qint16, const QByteArray& checksum) { noted << checksum; };
    for (const int length : {0, 1, 4999, kBodyWidth - 1, kBodyWidth}) {
        const QString body(length, QLatin1Char('b'));
        QVERIFY(AppendRecord(Store::Received, NextRecordNumber(Store::Received), QStringLiteral("s"), QString(),
                             QString(), body, ansi::encode(body), note));
    }
    QVERIFY(AppendRecord(Store::Received, NextRecordNumber(Store::Received), QStringLiteral("without bytes"),
                         QString(), QString(), QStringLiteral("本文"), note));
    QList<QByteArray> stored;
    QVERIFY(RecordChecksums(Store::Received, &stored));
    QCOMPARE(noted, stored);
    const QByteArray file = folder.read(kReceived);
    QList<QByteArray> zlib;
    for (qsizetype at = 0; at < file.size(); at += 32284)
        zlib << QByteArray::number(quint32(crc32(0, reinterpret_cast<const Bytef*>(file.constData() + at), 32284)), 16)
                    .rightJustified(8, '0');
    QCOMPARE(stored, zlib);
}

void TestMailStore::deletionsRenumberAndLeaveNoTemporaryFile()
{
    test::TestFolder folder;
    for (const char* s : {"one", "two", "three"})
        QVERIFY(appendSimple(Store::Received, QString::fromLatin1(s)));
    const QByteArray before = folder.read(kReceived);
    QVERIFY(DeleteRecord(Store::Received, 2));
    QCOMPARE(CurrentRecordNumber(), qint16(2));
    QCOMPARE(test::storedSubjects(Store::Received), (QStringList{QStringLiteral("one"), QStringLiteral("three")}));
    // The survivors are moved byte for byte.
    QCOMPARE(folder.read(kReceived), before.left(32284) + before.mid(2 * 32284));
    QVERIFY(!QFileInfo::exists(folder.file(kReceivedTemp)));

    QVERIFY(!DeleteRecord(Store::Received, 3)); // no such record: nothing changes
    QCOMPARE(folder.read(kReceived).size(), 2 * 32284);

    QVERIFY(DeleteRecord(Store::Received, 1));
    QVERIFY(DeleteRecord(Store::Received, 1));
    QVERIFY(QFileInfo::exists(folder.file(kReceived)));
    QCOMPARE(QFileInfo(folder.file(kReceived)).size(), 0);

    for (const char* s : {"a", "b", "c"})
        QVERIFY(appendSimple(Store::Received, QString::fromLatin1(s)));
    CurrentRecordNumber() = 0;
    QVERIFY(DeleteAllRecords(Store::Received));
    QCOMPARE(CurrentRecordNumber(), qint16(3));
    QCOMPARE(QFileInfo(folder.file(kReceived)).size(), 0);
    QVERIFY(!QFileInfo::exists(folder.file(kReceivedTemp)));
    // Deleting all of an empty (even a missing) store leaves an empty file and no temporary.
    QVERIFY(DeleteAllRecords(Store::Received));
    QVERIFY(QFile::remove(folder.file(kSent)) || !QFileInfo::exists(folder.file(kSent)));
    QVERIFY(DeleteAllRecords(Store::Sent));
    QVERIFY(QFileInfo::exists(folder.file(kSent)));
    QCOMPARE(QFileInfo(folder.file(kSent)).size(), 0);
    QVERIFY(!QFileInfo::exists(folder.file(QStringLiteral("\\★MAilData\\HYMDATA5.TMP"))));
}

void TestMailStore::nextNumberRoundsLikeTheOtherWriters()
{
    using records::nextNumberForLength;
    const int r = 32284;
    QCOMPARE(nextNumberForLength(0, r), qint16(1));
    QCOMPARE(nextNumberForLength(3 * r, r), qint16(4));
    QCOMPARE(nextNumberForLength(3 * r + r / 2 - 1, r), qint16(4));
    // Exact halves go to the even neighbour: 2.5 -> 2, 3.5 -> 4.
    QCOMPARE(nextNumberForLength(r + r / 2, r), qint16(2));
    QCOMPARE(nextNumberForLength(2 * r + r / 2, r), qint16(4));
    QCOMPARE(nextNumberForLength(3 * r + r / 2 + 1, r), qint16(5));
    QCOMPARE(nextNumberForLength(32766LL * r, r), qint16(32767));
    QCOMPARE(nextNumberForLength(32767LL * r, r), qint16(0));
    // Rounding would overflow though one slot is left.
    QCOMPARE(nextNumberForLength(32766LL * r + r - 1, r), qint16(32767));

    test::TestFolder folder;
    folder.write(kSent, QByteArray(2 * r + r / 2, 'x'));
    QCOMPARE(NextRecordNumber(Store::Sent), qint16(4));
}

void TestMailStore::partialTailNeverBecomesARecord()
{
    test::TestFolder folder;
    const QByteArray two = mailRecord("one", "d", "f", "b") + mailRecord("two", "d", "f", "b");
    folder.write(kReceived, two + QByteArray(20000, 'z'));
    QCOMPARE(test::storedSubjects(Store::Received), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    const qint16 next = NextRecordNumber(Store::Received);
    QCOMPARE(next, qint16(4)); // 2.62 + 1 rounds up past the free slot
    QVERIFY(AppendRecord(Store::Received, next, QStringLiteral("three"), QString(), QString(), QString()));
    QCOMPARE(CurrentRecordNumber(), qint16(3));
    QCOMPARE(folder.read(kReceived).size(), 3 * 32284);
    QCOMPARE(test::storedSubjects(Store::Received),
             (QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));

    // A compaction drops a tail as well.
    folder.write(kReceived, two + QByteArray(100, 'z'));
    QVERIFY(DeleteRecord(Store::Received, 1));
    QCOMPARE(folder.read(kReceived), mailRecord("two", "d", "f", "b"));

    // An append never overwrites a message already stored.
    QVERIFY(!AppendRecord(Store::Received, 1, QStringLiteral("over"), QString(), QString(), QString()));
    QCOMPARE(test::storedSubjects(Store::Received), QStringList{QStringLiteral("two")});
}

void TestMailStore::hostileStoresAreListedWithoutHarm()
{
    test::TestFolder folder;
    QByteArray file = QByteArray(32284, '\0');                              // all zeros
    file += QByteArray(32284, '\xFF');                                      // not CP932 at all
    file += mailRecord("odd", "d", "f", "b", 7);                            // Live neither 0 nor 1
    file += mailRecord(QByteArray("abc\0def", 7), "d", "f", "b", -1);       // NUL inside
    file += mailRecord(QByteArray("\x82", 1), "d", "f", "b");               // lead byte alone
    folder.write(kReceived, file);

    const QList<test::StoredRecord> rows = test::storedRecords(Store::Received);
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[0].subject, QString());
    QCOMPARE(rows[0].body, QString());
    QVERIFY(rows[1].subject.contains(QChar(0xFFFD)));
    QCOMPARE(rows[2].live, qint16(7));
    QCOMPARE(rows[3].live, qint16(-1));
    QCOMPARE(CutAtNul(rows[3].subject), QStringLiteral("abc"));
    QCOMPARE(rows[3].subject.size(), 7);
    QVERIFY(rows[4].subject.contains(QChar(0xFFFD)));

    // The compaction drops only what is marked dead (Live 0): the zero record.
    QVERIFY(DeleteRecord(Store::Received, 3));
    const QList<test::StoredRecord> after = test::storedRecords(Store::Received);
    QCOMPARE(after.size(), 3);
    QCOMPARE(after[0].live, qint16(-1));
    QCOMPARE(folder.read(kReceived), file.mid(32284, 32284) + file.mid(3 * 32284));
}

void TestMailStore::aStaleTemporaryFileIsNeverTakenForTheStore()
{
    test::TestFolder folder;
    const QByteArray stale = mailRecord("stale", "d", "f", "b") + QByteArray(5000, 'q');
    folder.write(kReceivedTemp, stale);
    QVERIFY(test::storedRecords(Store::Received).isEmpty());
    QVERIFY(appendSimple(Store::Received, QStringLiteral("one")));
    QVERIFY(appendSimple(Store::Received, QStringLiteral("two")));
    QCOMPARE(folder.read(kReceivedTemp), stale);
    QVERIFY(DeleteRecord(Store::Received, 1));
    QCOMPARE(test::storedSubjects(Store::Received), QStringList{QStringLiteral("two")});
    QVERIFY(!QFileInfo::exists(folder.file(kReceivedTemp)));
}

void TestMailStore::compactionFollowsNoLinkAtTheTemporaryNameAndKeepsALinkedStore()
{
    test::TestFolder folder;
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    hm::test::writeFile(victim, "precious");
    for (const char* s : {"one", "two", "three"}) {
        QVERIFY(appendSimple(Store::Received, QString::fromLatin1(s)));
        QVERIFY(appendSimple(Store::Sent, QString::fromLatin1(s)));
    }

    // A link planted at the temporary name is replaced, never written through.
    QVERIFY(QFile::link(victim, folder.file(kReceivedTemp)));
    QVERIFY(DeleteRecord(Store::Received, 2));
    QCOMPARE(test::storedSubjects(Store::Received), (QStringList{QStringLiteral("one"), QStringLiteral("three")}));
    QVERIFY(!QFileInfo(folder.file(kReceived)).isSymLink());
    QCOMPARE(QFileInfo(victim).size(), qint64(8));
    QVERIFY(!QFileInfo(folder.file(kReceivedTemp)).exists() && !QFileInfo(folder.file(kReceivedTemp)).isSymLink());

    // A store that is a link stays one; the file it points to shrinks, beside itself, and is
    // its owner's alone however it was made.
    const QString real = elsewhere.filePath(QStringLiteral("sent.data"));
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    const auto readable = ownerOnly | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::rename(folder.file(kSent), real));
    QVERIFY(QFile::link(real, folder.file(kSent)));
    QVERIFY(QFile::setPermissions(real, readable));
    QVERIFY(DeleteRecord(Store::Sent, 1));
    QVERIFY(QFileInfo(folder.file(kSent)).isSymLink());
    QCOMPARE(QFileInfo(real).size(), qint64(2 * 32284));
    QCOMPARE(QFile::permissions(real), ownerOnly);
    QVERIFY(QFile::setPermissions(real, readable));
    QVERIFY(appendSimple(Store::Sent, QStringLiteral("four")));
    QCOMPARE(QFile::permissions(real), ownerOnly);
    QVERIFY(DeleteRecord(Store::Sent, 3));
    QCOMPARE(test::storedSubjects(Store::Sent), (QStringList{QStringLiteral("two"), QStringLiteral("three")}));
    QVERIFY(DeleteAllRecords(Store::Sent));
    QVERIFY(QFileInfo(folder.file(kSent)).isSymLink());
    QCOMPARE(QFileInfo(real).size(), qint64(0));
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::System),
             (QStringList{QStringLiteral("sent.data"), QStringLiteral("victim")}));
    QVERIFY(!QFileInfo::exists(folder.file(QStringLiteral("\\★MAilData\\HYMDATA5.TMP"))));
}

void TestMailStore::theLastRecordNumberIsNeverExceeded()
{
    test::TestFolder folder;
    const QString path = folder.file(kSent);
    // A sparse file: 32,766 records of zeros cost no disk space.
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(32766LL * 32284));
    f.close();
    QCOMPARE(NextRecordNumber(Store::Sent), qint16(32767));
    QVERIFY(appendSimple(Store::Sent, QStringLiteral("last")));
    QCOMPARE(CurrentRecordNumber(), qint16(32767));
    QVERIFY(ReadRecord(Store::Sent, 32767));
    QCOMPARE(RecordBuffer(Store::Sent).Subject, QStringLiteral("last"));

    QCOMPARE(NextRecordNumber(Store::Sent), qint16(0));
    QVERIFY(!appendSimple(Store::Sent, QStringLiteral("one too many")));
    QVERIFY(lastError().contains(QStringLiteral("32767")));
    QCOMPARE(QFileInfo(path).size(), 32767LL * 32284);
    QCOMPARE(CurrentRecordNumber(), qint16(32767));
    QVERIFY(!AppendRecord(Store::Sent, 32767, QStringLiteral("x"), QString(), QString(), QString()));
    QCOMPARE(QFileInfo(path).size(), 32767LL * 32284);
}

void TestMailStore::readOnlyStoreIsRefusedAndLeftAlone()
{
    test::TestFolder folder;
    QVERIFY(appendSimple(Store::Received, QStringLiteral("one")));
    QVERIFY(appendSimple(Store::Received, QStringLiteral("two")));
    const QString path = folder.file(kReceived);
    const QByteArray before = folder.read(kReceived);
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0444) == 0);

    QVERIFY(!appendSimple(Store::Received, QStringLiteral("three")));
    QVERIFY(lastError().contains(QStringLiteral("読み取り専用")));
    QVERIFY(!DeleteRecord(Store::Received, 1));
    QVERIFY(!DeleteAllRecords(Store::Received));
    QVERIFY(lastError().contains(QStringLiteral("読み取り専用")));
    QCOMPARE(folder.read(kReceived), before);
    QVERIFY(!QFileInfo::exists(folder.file(kReceivedTemp)));
    // Reading still works.
    QCOMPARE(test::storedSubjects(Store::Received), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    ::chmod(QFile::encodeName(path).constData(), 0644);
}

void TestMailStore::missingDataFolderIsReportedAndNotCreated()
{
    test::TestFolder folder;
    const QString dataFolder = QFileInfo(folder.file(kReceived)).absolutePath();
    QVERIFY(QDir(dataFolder).removeRecursively());
    QVERIFY(!appendSimple(Store::Received, QStringLiteral("one")));
    QVERIFY(lastError().contains(QStringLiteral("★MAilData")));
    QVERIFY(!FlushStore(Store::Received));
    QVERIFY(!ReadAllRecords(Store::Received, nullptr));
    QVERIFY(!DeleteRecord(Store::Received, 1));
    QVERIFY(!DeleteAllRecords(Store::Received));
    QVERIFY(!ReadRecord(Store::Received, 1));
    QVERIFY(!QFileInfo::exists(dataFolder));
}

void TestMailStore::fullDiskLeavesNoHalfWrittenRecord()
{
    test::TestFolder folder;
    const QString mountPoint = folder.path() + QStringLiteral("/small");
    QVERIFY(QDir().mkpath(mountPoint));
    // Two records and a half fit.
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=80k") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH); });
    QVERIFY(QDir().mkpath(mountPoint + QStringLiteral("/★MAilData")));
    hm::setProgramFolder(mountPoint);

    QVERIFY(appendSimple(Store::Received, QStringLiteral("one")));
    QVERIFY(appendSimple(Store::Received, QStringLiteral("two")));
    QVERIFY(FlushStore(Store::Received));
    QVERIFY(!appendSimple(Store::Received, QStringLiteral("three")));
    QVERIFY2(lastError().contains(QStringLiteral("空き容量")), qPrintable(lastError()));
    const QString store = hm::dataPath(kReceived);
    QCOMPARE(QFileInfo(store).size(), 2 * 32284);
    // A compaction needs room for the copy; without it the store stays as it was.
    QVERIFY(!DeleteRecord(Store::Received, 1));
    QCOMPARE(QFileInfo(store).size(), 2 * 32284);
    QVERIFY(!QFileInfo::exists(hm::dataPath(kReceivedTemp)));
    QCOMPARE(test::storedSubjects(Store::Received), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    // Deleting all needs no room.
    QVERIFY(DeleteAllRecords(Store::Received));
    QCOMPARE(QFileInfo(store).size(), 0);
    hm::setProgramFolder(folder.path());
}

void TestMailStore::mailIsReadableByItsOwnerOnly()
{
    test::TestFolder folder;
    const auto mode = [&](const QString& relative) {
        return int(QFileInfo(folder.file(relative)).permissions() & 0x7777);
    };
    constexpr int ownerFile = int(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    // A store and an .eml copy left readable by everyone, as earlier versions wrote them.
    folder.write(storePath(Store::Received), test::mailRecord("s", "d", "f", "b") + test::mailRecord("t", "d", "f", "b"));
    folder.write(QStringLiteral("\\添付フォルダ\\old.eml"), "x");
    for (const QString& f : {storePath(Store::Received), QStringLiteral("\\添付フォルダ\\old.eml")})
        QVERIFY(QFile::setPermissions(folder.file(f), QFile::permissions(folder.file(f)) | QFile::ReadGroup | QFile::ReadOther));

    hm::keepMailPrivate(); // what start-up does
    QCOMPARE(mode(storePath(Store::Received)), ownerFile);
    QCOMPARE(mode(QStringLiteral("\\添付フォルダ\\old.eml")), ownerFile);
    QCOMPARE(mode(QStringLiteral("\\★MAilData")) & 0x0077, 0);

    // What is written from then on stays private: a new store, a rewritten one, a new file.
    QVERIFY(AppendRecord(Store::Sent, NextRecordNumber(Store::Sent), QStringLiteral("s"), QStringLiteral("f"),
                         QStringLiteral("d"), QStringLiteral("b")));
    QCOMPARE(mode(storePath(Store::Sent)), ownerFile);
    QVERIFY(DeleteRecord(Store::Received, 1));
    QCOMPARE(mode(storePath(Store::Received)), ownerFile);
    QFile attachment(folder.file(QStringLiteral("\\添付フォルダ\\new.txt")));
    QVERIFY(attachment.open(QIODevice::WriteOnly));
    attachment.close();
    QCOMPARE(mode(QStringLiteral("\\添付フォルダ\\new.txt")), ownerFile);
}

QTEST_GUILESS_MAIN(TestMailStore)
#include "test_mail_store.moc"
