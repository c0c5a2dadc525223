// The mail check when the attachment folder cannot take what a message brings.
#include "app/check_mail.h"
#include "store/mail_store.h"
#include "tests/app/mail_check_fixture.h"
#include "tests/support/main_form_controls.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

using hm::test::statusLine;

namespace {

QByteArray withAttachments(const QList<std::pair<QByteArray, QByteArray>>& files)
{
    QByteArray m = "From: sender@localhost\r\nTo: test@localhost\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                   "--b1\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nsee the files\r\n";
    for (const auto& [name, bytes] : files)
        m += "--b1\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" + name
             + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + bytes.toBase64(QByteArray::Base64Encoding) + "\r\n";
    return m + "--b1--\r\n";
}

QByteArray plain(const QByteArray& body)
{
    return "From: sender@localhost\r\nTo: test@localhost\r\nSubject: text\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body + "\r\n";
}

} // namespace

class TestCheckMailDisk : public QObject, hm::test::MailCheckFixture {
    Q_OBJECT
private slots:
    void initTestCase() { loadServers(); }
    void init() { startProgram(); }
    void cleanup() { closeProgram(); }

    void messageWhoseFilesDoNotFitStaysOnTheServer_data();
    void messageWhoseFilesDoNotFitStaysOnTheServer();
    void bigMessageWithoutRoomStaysAndTheCheckGoesOn();
    void manySameNamedFilesNeverStopASave();
};

void TestCheckMailDisk::messageWhoseFilesDoNotFitStaysOnTheServer_data()
{
    QTest::addColumn<QByteArray>("size");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("partBox");
    QTest::addColumn<QString>("reason");
    // The first file fits; the second does not.
    QTest::newRow("second attachment")
        << QByteArray("size=64k")
        << withAttachments({{"small.bin", QByteArray(8 * 1024, 's')}, {"big.bin", QByteArray(100 * 1024, 'b')}})
        << true
        << QStringLiteral("1通: 添付ファイルを書き込めなかったため保存していません");
    // 17,000 kana do not fit the store, and their 51 KB copy does not fit the disk.
    QTest::newRow("whole copy")
        << QByteArray("size=48k") << plain(QString(17000, QChar(0x3042)).toUtf8())
        << false
        << QStringLiteral("1通: 全文の控えを書き込めなかったため保存していません");
}

// A message is stored and deleted with everything it brings, or not at all.
void TestCheckMailDisk::messageWhoseFilesDoNotFitStaysOnTheServer()
{
    QFETCH(QByteArray, size);
    QFETCH(QByteArray, raw);
    QFETCH(bool, partBox);
    QFETCH(QString, reason);
    const QString attachments = folder->file(QStringLiteral("\\添付フォルダ"));
    if (::geteuid() != 0
        || ::mount("tmpfs", QFile::encodeName(attachments).constData(), "tmpfs", 0, size.constData()) != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(attachments).constData(), MNT_DETACH); });
    env.drop(raw);
    env.drop(plain("after it"));

    CheckMail(*main);

    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), 0);
    QCOMPARE(env.messageFiles().size(), 2);
    // Nothing half-written stays behind: no attachment, no copy, no scratch file.
    QCOMPARE(QDir(attachments).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QCOMPARE(folder->ui.shown.size(), partBox ? 2 : 1);
    if (partBox)
        QCOMPARE(folder->ui.shown[0].text, QStringLiteral("添付ファイルをオープンできません"));
    QCOMPARE(folder->ui.shown.last().title, QStringLiteral("エラー"));
    const QString report = folder->ui.shown.last().text;
    QVERIFY2(report.contains(reason) && report.contains(QStringLiteral("1通: 受信を中止したため受信していません")),
             qPrintable(report));
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("2の新着メール有り。（0通を保存、2通はサーバーに残しました）"));
    QCOMPARE(sound.started, 0);
}

// A big message is downloaded to the attachment folder's disk: when that has no room for it
// and what it brings, it is not downloaded at all, and the next message comes all the same.
void TestCheckMailDisk::bigMessageWithoutRoomStaysAndTheCheckGoesOn()
{
    const QString attachments = folder->file(QStringLiteral("\\添付フォルダ"));
    if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(attachments).constData(), "tmpfs", 0, "size=8m") != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(attachments).constData(), MNT_DETACH); });
    env.drop(withAttachments({{"big.bin", QByteArray(3 * 1024 * 1024, 'b')}}));
    env.drop(plain("after it"));

    CheckMail(*main);

    QCOMPARE(hm::test::storedSubjects(hm::store::Store::Received), QStringList{QStringLiteral("text")});
    QCOMPARE(env.messageFiles().size(), 1);
    QCOMPARE(QDir(attachments).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QCOMPARE(folder->ui.shown.size(), 1);
    QCOMPARE(folder->ui.shown[0].text,
             QStringLiteral("サーバーに残したメール:\n1通: 添付フォルダの空き容量が足りないため受信しませんでした"));
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("2の新着メール有り。（1通を保存、1通はサーバーに残しました）"));
}

void TestCheckMailDisk::manySameNamedFilesNeverStopASave()
{
    const QString attachments = folder->file(QStringLiteral("\\添付フォルダ"));
    for (int n = 1; n <= 10000; ++n) {
        QFile f(attachments + (n == 1 ? QStringLiteral("/data.bin") : QStringLiteral("/data (%1).bin").arg(n)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    env.drop(withAttachments({{"data.bin", "payload"}}));
    CheckMail(*main);
    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), 1);
    QVERIFY(folder->ui.shown.isEmpty());
    QFile saved(attachments + QStringLiteral("/data (10001).bin"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("payload"));
}

QTEST_MAIN(TestCheckMailDisk)
#include "test_check_mail_disk.moc"
