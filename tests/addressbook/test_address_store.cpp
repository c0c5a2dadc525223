#include "addressbook/address_store.h"
#include "common/ansi_codec.h"
#include "tests/support/test_folder.h"

#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

using namespace hm;
using namespace hm::addressbook;

namespace {
const QString kBook = hm::addressbook::addressBookPath();
const QString kTemp = hm::addressbook::addressTempPath();

QByteArray entry(const QByteArray& name, const QByteArray& address, qint16 live = 1)
{
    QByteArray r = name.left(90) + QByteArray(90 - qMin<qsizetype>(90, name.size()), ' ') + "\r\n";
    r.append(static_cast<char>(live & 0xFF));
    r.append(static_cast<char>((live >> 8) & 0xFF));
    return r + address.left(90) + QByteArray(90 - qMin<qsizetype>(90, address.size()), ' ');
}

QStringList names(const QString& path = QStringLiteral("\\★MAilData\\Hymdata20.data"))
{
    QStringList out;
    ReadAllAddressesIn(path, [&](qint16, const QString& name, const QString&) { out << Trim(name); });
    return out;
}
} // namespace

class TestAddressStore : public QObject {
    Q_OBJECT
private slots:
    void entriesHaveTheExactLayoutAndAreStoredAsTyped();
    void longTextIsCutToTheFieldOnACharacterBoundary();
    void deletionAndCompactionKeepTheOrder();
    void otherFilesOfTheFormatAreRead();
    void failuresChangeNothing();
};

void TestAddressStore::entriesHaveTheExactLayoutAndAreStoredAsTyped()
{
    test::TestFolder folder;
    QCOMPARE(NextAddressNumber(), qint16(1));
    QVERIFY(WriteAddress(1, QStringLiteral("山田"), QStringLiteral(" a@example.jp ")));
    QVERIFY(WriteAddress(NextAddressNumber(), QString(), QStringLiteral("b@example.jp")));
    QCOMPARE(NextAddressNumber(), qint16(3));
    const QByteArray file = folder.read(kBook);
    QCOMPARE(file, entry(ansi::encode(QStringLiteral("山田")), " a@example.jp ") + entry("", "b@example.jp"));

    QString name;
    QString address;
    QVERIFY(ReadAddress(1, name, address));
    // Handed back as stored, padding and leading space included.
    QCOMPARE(name, QStringLiteral("山田") + QString(86, QLatin1Char(' ')));
    QCOMPARE(address, QStringLiteral(" a@example.jp") + QString(77, QLatin1Char(' ')));
    QVERIFY(!ReadAddress(3, name, address));
    QVERIFY(lastError().contains(QStringLiteral("Hymdata20.data")));

    // Overwriting an entry in place is allowed for the address book.
    QVERIFY(WriteAddress(2, QStringLiteral("n"), QStringLiteral("c@example.jp")));
    QCOMPARE(folder.read(kBook).mid(184), entry("n", "c@example.jp"));
}

void TestAddressStore::longTextIsCutToTheFieldOnACharacterBoundary()
{
    test::TestFolder folder;
    QVERIFY(WriteAddress(1, QStringLiteral("x") + QString(50, QChar(0x540D)), QString(100, QLatin1Char('a'))));
    const QByteArray file = folder.read(kBook);
    QCOMPARE(file.size(), 184);
    QCOMPARE(file.left(90), QByteArray("x") + ansi::encode(QString(44, QChar(0x540D))) + " ");
    QCOMPARE(file.mid(90, 4), QByteArray("\r\n\x01\x00", 4));
    QCOMPARE(file.mid(94), QByteArray(90, 'a'));
}

void TestAddressStore::deletionAndCompactionKeepTheOrder()
{
    test::TestFolder folder;
    folder.write(kBook, entry("one", "1") + entry("dead", "x", 0) + entry("two", "2") + entry("three", "3")
                            + QByteArray(100, 'z'));
    QCOMPARE(names(), (QStringList{"one", "dead", "two", "three"}));
    // 4.54 + 1 rounds to 6, but the entry goes right behind the last whole one.
    QCOMPARE(NextAddressNumber(), qint16(6));
    qint16 written = 0;
    QVERIFY(WriteAddress(6, QStringLiteral("four"), QStringLiteral("4"), &written));
    QCOMPARE(written, qint16(5));
    QCOMPARE(folder.read(kBook).size(), 5 * 184);

    QVERIFY(CompactAddressBook());
    QCOMPARE(names(), (QStringList{"one", "two", "three", "four"}));
    QVERIFY(DeleteAddress(2));
    QCOMPARE(names(), (QStringList{"one", "three", "four"}));
    QCOMPARE(folder.read(kBook), entry("one", "1") + entry("three", "3") + entry("four", "4"));
    QVERIFY(!QFileInfo::exists(folder.file(kTemp)));
    QVERIFY(!DeleteAddress(4));
    QVERIFY(DeleteAllAddresses());
    QCOMPARE(folder.read(kBook).size(), 0);
    QVERIFY(QFileInfo::exists(folder.file(kBook)));
}

void TestAddressStore::otherFilesOfTheFormatAreRead()
{
    test::TestFolder folder;
    folder.write(masterListPath(), entry("m1", "m1@example.jp") + entry(QByteArray("cut\0here", 8), "m2"));
    QCOMPARE(names(masterListPath()).size(), 2);
    QString name;
    QString address;
    QVERIFY(ReadAddressIn(QStringLiteral("\\★MailData\\hymaster20.ini"), 2, name, address));
    QCOMPARE(CutAtNul(name), QStringLiteral("cut"));
    QCOMPARE(NextAddressNumberIn(masterListPath()), qint16(3));
    // The book itself is untouched and empty.
    QVERIFY(names().isEmpty());
}

void TestAddressStore::failuresChangeNothing()
{
    test::TestFolder folder;
    QVERIFY(WriteAddress(1, QStringLiteral("a"), QStringLiteral("a@example.jp")));
    const QByteArray before = folder.read(kBook);
    const QByteArray path = QFile::encodeName(folder.file(kBook));
    QVERIFY(::chmod(path.constData(), 0444) == 0);
    QVERIFY(!WriteAddress(2, QStringLiteral("b"), QStringLiteral("b@example.jp")));
    QVERIFY(lastError().contains(QStringLiteral("読み取り専用")));
    QVERIFY(!DeleteAddress(1));
    QVERIFY(!CompactAddressBook());
    QCOMPARE(folder.read(kBook), before);
    ::chmod(path.constData(), 0644);

    // 32,767 entries: the next one is refused.
    QFile f(folder.file(kBook));
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.resize(32767LL * 184));
    f.close();
    QCOMPARE(NextAddressNumber(), qint16(0));
    QVERIFY(!WriteAddress(NextAddressNumber(), QStringLiteral("b"), QStringLiteral("b@example.jp")));
    QVERIFY(!lastError().isEmpty());
    QCOMPARE(QFileInfo(folder.file(kBook)).size(), 32767LL * 184);
}

QTEST_GUILESS_MAIN(TestAddressStore)
#include "test_address_store.moc"
