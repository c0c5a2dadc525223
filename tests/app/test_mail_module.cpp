// The program reaches the mail room through the module it loads at the first mail command:
// the check and a send work through it, and without it the user is told why.
#include "app/check_mail.h"
#include "compose/send_mail.h"
#include "mail/mail_module.h"
#include "settings/account_settings.h"
#include "tests/app/mail_check_fixture.h"

#include <QTemporaryDir>
#include <QTest>

class TestMailModule : public QObject, hm::test::MailCheckFixture {
    Q_OBJECT
private slots:
    void initTestCase() { loadServers(); }
    void init() { startProgram(); }
    void cleanup() { closeProgram(); }
    void brokenModuleIsNamedAndMailStaysOnTheServer_data();
    void brokenModuleIsNamedAndMailStaysOnTheServer();
    void checkAndSendGoThroughTheModule();
};

void TestMailModule::brokenModuleIsNamedAndMailStaysOnTheServer_data()
{
    // Bytes of the built module kept; none: no file at all.
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("missing") << qint64(-2);
    QTest::newRow("empty") << qint64(0);
    QTest::newRow("cut to 4 KB") << qint64(4 * 1024);
    QTest::newRow("cut to 64 KB") << qint64(64 * 1024);
    QTest::newRow("one byte short") << qint64(-1);
}

// The message names the module, whatever is wrong with it, and the program goes on.
void TestMailModule::brokenModuleIsNamedAndMailStaysOnTheServer()
{
    QFETCH(qint64, bytes);
    QTemporaryDir dir;
    const QString file = QStringLiteral("hayatemail-mail.so");
    const QString path = bytes == -2 ? dir.filePath(QStringLiteral("no-such-dir/") + file)
                                     : hm::test::cutModule(file, bytes, dir.path());
    hm::mail::setMailModulePath(path);
    env.drop("Subject: kept\r\n\r\nbody\r\n");

    CheckMail(*main);

    QCOMPARE(folder->ui.shown.size(), 1);
    QVERIFY2(folder->ui.shown[0].text.contains(QStringLiteral("メール機能のモジュールを読み込めない")),
             qPrintable(folder->ui.shown[0].text));
    QVERIFY(folder->ui.shown[0].text.contains(path));
    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), 0);
    QCOMPARE(env.messageFiles().size(), 1);
}

void TestMailModule::checkAndSendGoThroughTheModule()
{
    hm::mail::setMailModulePath(hm::test::builtModule(QStringLiteral("hayatemail-mail.so"))); // a module put in place is taken at the next command
    env.drop("Subject: through\r\n\r\nbody\r\n");

    CheckMail(*main);

    QVERIFY2(folder->ui.shown.isEmpty(), folder->ui.shown.isEmpty() ? "" : qPrintable(folder->ui.shown[0].text));
    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), 1);
    QVERIFY(env.messageFiles().isEmpty());

    hm::settings::account().SmtpServer = env.smtpServer();
    hm::settings::account().MailAddress = QStringLiteral("hayate@example.jp");
    {
        hm::compose::SendSession session;
        QCOMPARE(session.send(QStringLiteral("friend@example.jp"), QStringLiteral("件名"), QStringLiteral("本文"),
                              QString()),
                 0);
    }
    QCOMPARE(env.lastRecipients(), QStringList{QStringLiteral("friend@example.jp")});
}

QTEST_MAIN(TestMailModule)
#include "test_mail_module.moc"
