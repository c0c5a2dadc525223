#include "settings/account_settings.h"
#include "tests/support/test_folder.h"

#include <QDir>
#include <QTest>

using hm::settings::AccountSettings;

class TestServerFile : public QObject {
    Q_OBJECT
private slots:
    void reading_data();
    void reading();
    void missingFileKeepsStartValues();
    void unreadableBytesNeverCrash();
    void oversizedFileIsNamedAndLeftAlone();
    void writingGivesFourLinesInOrder();
    void writeThenReadRestoresEverything();
    void writingLeavesNoTemporaryFile();
};

void TestServerFile::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<int>("apop");

    QTest::newRow("pop3 and apop only") << QByteArray("POP3=pop.example.jp\r\nAPOP=1\r\n")
                                        << "" << "pop.example.jp" << "" << 1;
    QTest::newRow("lower-case prefix ignored") << QByteArray("pop3=x\r\nsmtp=y\r\n") << "" << "" << "" << 0;
    QTest::newRow("leading blank ignored") << QByteArray(" POP3=x\r\n APOP=1\r\n") << "" << "" << "" << 0;
    QTest::newRow("bare prefix is empty") << QByteArray("POP3=a\r\nPOP3=\r\n") << "" << "" << "" << 0;
    QTest::newRow("value cut to 100") << QByteArray("POP3=") + QByteArray(150, 'h') + "\r\n"
                                      << "" << QString(100, QLatin1Char('h')) << "" << 0;
    QTest::newRow("last line wins") << QByteArray("MAIL=a@x\r\nMAIL=b@x\r\n") << "" << "" << "b@x" << 0;
    QTest::newRow("apop not a number") << QByteArray("APOP=yes\r\n") << "" << "" << "" << 0;
    QTest::newRow("apop 2") << QByteArray("APOP=2\r\n") << "" << "" << "" << 2;
    QTest::newRow("apop leading numeric part") << QByteArray("APOP=  7abc\r\n") << "" << "" << "" << 7;
    QTest::newRow("apop half to even") << QByteArray("APOP=2.5\r\n") << "" << "" << "" << 2;
    QTest::newRow("apop half to even up") << QByteArray("APOP=3.5\r\n") << "" << "" << "" << 4;
    QTest::newRow("apop too large clamps") << QByteArray("APOP=99999999999\r\n") << "" << "" << "" << 32767;
    QTest::newRow("apop too small clamps") << QByteArray("APOP=-1e30\r\n") << "" << "" << "" << -32768;
    QTest::newRow("values kept as typed") << QByteArray("SMTP= smtp.x \r\n") << " smtp.x " << "" << "" << 0;
    QTest::newRow("cp932 value") << QByteArray("MAIL=\x8e\xbe\x95\x97@x\r\n") << "" << "" << "疾風@x" << 0;
    QTest::newRow("cr only lines") << QByteArray("SMTP=s\rPOP3=p\rAPOP=1") << "s" << "p" << "" << 1;
}

void TestServerFile::oversizedFileIsNamedAndLeftAlone()
{
    hm::test::TestFolder folder;
    const QByteArray big = "POP3=pop.example.jp\r\n" + QByteArray(1024 * 1024, 'x') + "\r\n";
    folder.write(QStringLiteral("\\hymail.ini"), big);
    AccountSettings s;
    QString problem;
    hm::settings::LoadServerSettings(s, &problem);
    QVERIFY2(problem.contains(QStringLiteral("hymail.ini")), qPrintable(problem));
    QVERIFY(s.Pop3Server.isEmpty()); // read as absent, so start-up asks for the servers
    QCOMPARE(folder.read(QStringLiteral("\\hymail.ini")), big);

    // At the limit it is still read.
    folder.write(QStringLiteral("\\hymail.ini"), big.left(1024 * 1024));
    problem.clear();
    hm::settings::LoadServerSettings(s, &problem);
    QVERIFY(problem.isEmpty());
    QCOMPARE(s.Pop3Server, QStringLiteral("pop.example.jp"));
}

void TestServerFile::reading()
{
    QFETCH(QByteArray, file);
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), file);
    AccountSettings s;
    hm::settings::LoadServerSettings(s);
    QTEST(s.SmtpServer, "smtp");
    QTEST(s.Pop3Server, "pop3");
    QTEST(s.MailAddress, "mail");
    QTEST(int(s.ApopFlag), "apop");
}

void TestServerFile::missingFileKeepsStartValues()
{
    hm::test::TestFolder folder;
    AccountSettings s;
    hm::settings::LoadServerSettings(s);
    QVERIFY(s.Pop3Server.isEmpty() && s.SmtpServer.isEmpty() && s.MailAddress.isEmpty());
    QCOMPARE(s.ApopFlag, qint16(0));
}

void TestServerFile::unreadableBytesNeverCrash()
{
    hm::test::TestFolder folder;
    QByteArray junk("POP3=a\0b\r\n", 10);
    junk += QByteArray(1 << 19, '\x81') + "\r\nSMTP=\xff\xfe\r\nMAIL=ok\r\n";
    folder.write(QStringLiteral("\\hymail.ini"), junk);
    AccountSettings s;
    hm::settings::LoadServerSettings(s);
    QCOMPARE(s.Pop3Server, QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    QCOMPARE(s.MailAddress, QStringLiteral("ok"));
    QVERIFY(!s.SmtpServer.isEmpty());
}

void TestServerFile::writingGivesFourLinesInOrder()
{
    hm::test::TestFolder folder;
    AccountSettings s;
    s.SmtpServer = QStringLiteral("smtp.example.jp");
    s.Pop3Server = QStringLiteral("pop\r\nAPOP=1"); // a pasted line break must not add a line
    s.ApopFlag = 1;
    QVERIFY(hm::settings::SaveServerSettings(s));
    QCOMPARE(folder.read(QStringLiteral("\\hymail.ini")),
             QByteArray("SMTP=smtp.example.jp\r\nPOP3=popAPOP=1\r\nMAIL=\r\nAPOP=1\r\n"));
}

void TestServerFile::writeThenReadRestoresEverything()
{
    hm::test::TestFolder folder;
    AccountSettings s;
    s.SmtpServer = QStringLiteral("smtps://mail.example.jp:465");
    s.Pop3Server = QStringLiteral("pop3s://mail.example.jp");
    s.MailAddress = QStringLiteral("疾風 <hayate@example.jp>");
    s.ApopFlag = 1;
    QVERIFY(hm::settings::SaveServerSettings(s));
    AccountSettings back;
    hm::settings::LoadServerSettings(back);
    QCOMPARE(back.SmtpServer, s.SmtpServer);
    QCOMPARE(back.Pop3Server, s.Pop3Server);
    QCOMPARE(back.MailAddress, s.MailAddress);
    QCOMPARE(back.ApopFlag, qint16(1));
}

void TestServerFile::writingLeavesNoTemporaryFile()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=old\r\n");
    const QStringList before = QDir(folder.path()).entryList(QDir::Files);
    AccountSettings s;
    s.Pop3Server = QStringLiteral("new");
    QVERIFY(hm::settings::SaveServerSettings(s));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), before);
}

QTEST_GUILESS_MAIN(TestServerFile)
#include "test_server_file.moc"
