// The program reaches the mail room through the module it loads at the first mail command:
// the check and a send work through it, and without it the user is told why.
#include "app/check_mail.h"
#include "compose/send_mail.h"
#include "mail/mail_module.h"
#include "settings/account_settings.h"
#include "tests/app/mail_check_fixture.h"

#include <QTest>

class TestMailModule : public QObject, hm::test::MailCheckFixture {
    Q_OBJECT
private slots:
    void initTestCase() { loadServers(); }
    void init() { startProgram(); }
    void cleanup() { closeProgram(); }
    void missingModuleIsNamedAndMailStaysOnTheServer();
    void checkAndSendGoThroughTheModule();
};

void TestMailModule::missingModuleIsNamedAndMailStaysOnTheServer()
{
    const QString missing = QDir::tempPath() + QStringLiteral("/no-such-dir/hayatemail-mail.so");
    hm::mail::setMailModulePath(missing);
    env.drop("Subject: kept\r\n\r\nbody\r\n");

    CheckMail(*main);

    QCOMPARE(folder->ui.shown.size(), 1);
    QVERIFY2(folder->ui.shown[0].text.contains(QStringLiteral("メール機能のモジュールを読み込めない")),
             qPrintable(folder->ui.shown[0].text));
    QVERIFY(folder->ui.shown[0].text.contains(missing));
    QCOMPARE(storedRecords(), 0);
    QCOMPARE(env.messageFiles().size(), 1);
}

void TestMailModule::checkAndSendGoThroughTheModule()
{
    hm::mail::setMailModulePath(hm::test::builtModule(QStringLiteral("hayatemail-mail.so"))); // a module put in place is taken at the next command
    env.drop("Subject: through\r\n\r\nbody\r\n");

    CheckMail(*main);

    QVERIFY2(folder->ui.shown.isEmpty(), folder->ui.shown.isEmpty() ? "" : qPrintable(folder->ui.shown[0].text));
    QCOMPARE(storedRecords(), 1);
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
