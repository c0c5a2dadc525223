#include "common/window_registry.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

using hm::settings::account;
using hm::settings::ReadAccountValue;

namespace {
void resetAccount()
{
    account() = {};
}

void closeAll()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString accountFile(const hm::test::TestFolder& folder)
{
    return folder.file(QStringLiteral("\\★MailData\\iniIdPass.ini"));
}
} // namespace

class TestSettingsWindows : public QObject {
    Q_OBJECT
private slots:
    void init() { resetAccount(); }
    void cleanup() { closeAll(); }

    void captionsAndLabels();
    void accountWindowOpensEmptyWithoutAFile();
    void accountOkWithSaveBoxWritesAllThreeKeysOwnerOnly();
    void accountOkWithoutSaveBoxKeepsTheSavedPair();
    void saveBoxIsUntickedOnEveryOpening();
    void longPasswordReadsBackAs255Bytes();
    void accountSaveFailureIsReported();
    void unreadableAccountFileIsNamedAndNeverReplaced_data();
    void unreadableAccountFileIsNamedAndNeverReplaced();
    void accountCancelChangesNothing();
    void serverWindowShowsMemoryAndStaysOnTop();
    void serverOkWritesMemoryAndFile();
    void serverCancelChangesNothing();
    void chooserOpensBothWindows();
};

void TestSettingsWindows::captionsAndLabels()
{
    hm::test::TestFolder folder;
    auto* set = hm::window<SetForm>();
    QCOMPARE(set->windowTitle(), QStringLiteral("設定"));
    QCOMPARE(set->Command1->text(), QStringLiteral("ID/PASS"));
    QCOMPARE(set->Command2->text(), QStringLiteral("POPサーバー"));
    auto* idp = hm::window<IdPassForm>();
    QCOMPARE(idp->windowTitle(), QStringLiteral("ID,PASS"));
    QCOMPARE(idp->Label1->text(), QStringLiteral("ID"));
    QCOMPARE(idp->Label2->text(), QStringLiteral("Password"));
    QCOMPARE(idp->Check1->text(), QStringLiteral("IDパスワードを保存する"));
    QCOMPARE(idp->OKCommand->text(), QStringLiteral("OK"));
    QCOMPARE(idp->CancelCommand->text(), QStringLiteral("Cansel"));
    QCOMPARE(idp->PassText->echoMode(), QLineEdit::Password);
    auto* opt = hm::window<OptionForm>();
    QCOMPARE(opt->windowTitle(), QStringLiteral("サーバー設定"));
    QCOMPARE(opt->Label1->text(), QStringLiteral("SMTPサーバー名(&S)"));
    QCOMPARE(opt->Label2->text(), QStringLiteral("POP3サーバー名(&P)"));
    QCOMPARE(opt->Label3->text(), QStringLiteral("メールアドレス(&M)"));
    QCOMPARE(opt->ApopCheck->text(), QStringLiteral("APOP を使用する(&A)"));
    QCOMPARE(opt->OkCommand->text(), QStringLiteral("設定"));
    QCOMPARE(opt->CancelCommand->text(), QStringLiteral("中止"));
    // The labels lead to their boxes (mnemonics and screen readers).
    QCOMPARE(opt->Label2->buddy(), opt->Pop3Text);
}

void TestSettingsWindows::accountWindowOpensEmptyWithoutAFile()
{
    hm::test::TestFolder folder;
    account().UserId = QStringLiteral("in-memory");
    auto* w = hm::window<IdPassForm>();
    QVERIFY(w->IdText->text().isEmpty());
    QVERIFY(w->PassText->text().isEmpty());
    QVERIFY(!w->Check1->isChecked());
}

void TestSettingsWindows::accountOkWithSaveBoxWritesAllThreeKeysOwnerOnly()
{
    hm::test::TestFolder folder;
    auto* w = hm::window<IdPassForm>();
    w->show();
    QTest::keyClicks(w->IdText, QStringLiteral("hayate"));
    QTest::keyClicks(w->PassText, QStringLiteral("pw"));
    w->PassText->setText(QStringLiteral("秘密") + w->PassText->text());
    w->Check1->setChecked(true);
    hm::test::click(w->OKCommand);
    QCOMPARE(account().UserId, QStringLiteral("hayate"));
    QCOMPARE(account().UserPassword, QStringLiteral("秘密pw"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME")), QStringLiteral("hayate"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), QStringLiteral("秘密pw"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME3")), QStringLiteral("1"));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(accountFile(folder)).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
}

void TestSettingsWindows::accountOkWithoutSaveBoxKeepsTheSavedPair()
{
    hm::test::TestFolder folder;
    hm::settings::WriteAccountValue(QStringLiteral("NAME"), QStringLiteral("saved"));
    hm::settings::WriteAccountValue(QStringLiteral("NAME2"), QStringLiteral("savedpw"));
    hm::settings::WriteAccountValue(QStringLiteral("NAME3"), QStringLiteral("1"));
    auto* w = hm::window<IdPassForm>();
    w->show();
    QCOMPARE(w->IdText->text(), QStringLiteral("saved"));
    QCOMPARE(w->PassText->text(), QStringLiteral("savedpw"));
    w->IdText->setText(QStringLiteral("typed"));
    w->PassText->setText(QStringLiteral("typedpw"));
    hm::test::click(w->OKCommand);
    QCOMPARE(account().UserId, QStringLiteral("typed"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME")), QStringLiteral("saved"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), QStringLiteral("savedpw"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME3")), QStringLiteral("0"));
}

void TestSettingsWindows::saveBoxIsUntickedOnEveryOpening()
{
    hm::test::TestFolder folder;
    auto* w = hm::window<IdPassForm>();
    w->show();
    w->Check1->setChecked(true);
    w->IdText->setText(QStringLiteral(""));
    hm::test::click(w->OKCommand);
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
    // An empty ID was saved as an empty value.
    QVERIFY(QFile(accountFile(folder)).exists());
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME")), QString());
    QVERIFY(!hm::window<IdPassForm>()->Check1->isChecked());
}

void TestSettingsWindows::unreadableAccountFileIsNamedAndNeverReplaced_data()
{
    QTest::addColumn<bool>("oversized");
    QTest::newRow("over 1 MiB") << true;
    QTest::newRow("not a readable file") << false;
}

void TestSettingsWindows::unreadableAccountFileIsNamedAndNeverReplaced()
{
    QFETCH(bool, oversized);
    hm::test::TestFolder folder;
    const QString file = accountFile(folder);
    QByteArray before;
    if (oversized) {
        before = "[EXEINI]\r\nNAME=big\r\nNAME2=pw\r\n" + QByteArray(1024 * 1024, ';');
        folder.write(QStringLiteral("\\★MailData\\iniIdPass.ini"), before);
    } else {
        // It exists, but opening it for reading fails (even for root).
        QVERIFY(QDir().mkdir(folder.path() + QStringLiteral("/elsewhere")));
        QVERIFY(QFile::link(folder.path() + QStringLiteral("/elsewhere"), file));
    }

    auto* w = hm::window<IdPassForm>();
    QCOMPARE(w->IdText->text(), QString());
    QCOMPARE(folder.ui.shown.size(), 1);
    QVERIFY2(folder.ui.shown[0].text.contains(QStringLiteral("iniIdPass.ini")), qPrintable(folder.ui.shown[0].text));

    // Neither a save nor the "not saved" mark may rewrite it with the keys of this window.
    for (bool save : {true, false}) {
        auto* form = hm::window<IdPassForm>();
        form->IdText->setText(QStringLiteral("typed"));
        form->PassText->setText(QStringLiteral("typedpw"));
        form->Check1->setChecked(save);
        form->show();
        hm::test::click(form->OKCommand);
        QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
        QVERIFY2(folder.ui.shown.last().text.contains(QStringLiteral("iniIdPass.ini")),
                 qPrintable(folder.ui.shown.last().text));
        if (oversized)
            QCOMPARE(folder.read(QStringLiteral("\\★MailData\\iniIdPass.ini")), before);
        else
            QVERIFY(QFileInfo(file).isSymLink());
    }
    QCOMPARE(folder.ui.shown.size(), 4); // each opening and each OK said so
}

void TestSettingsWindows::longPasswordReadsBackAs255Bytes()
{
    hm::test::TestFolder folder;
    auto* w = hm::window<IdPassForm>();
    w->IdText->setText(QStringLiteral("u"));
    w->PassText->setText(QString(300, QLatin1Char('x')));
    w->Check1->setChecked(true);
    w->show();
    hm::test::click(w->OKCommand);
    QCOMPARE(account().UserPassword.size(), 300);
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), QString(255, QLatin1Char('x')));
}

void TestSettingsWindows::accountSaveFailureIsReported()
{
    hm::test::TestFolder folder;
    QVERIFY(QDir(folder.file(QStringLiteral("\\★MAilData"))).removeRecursively());
    auto* w = hm::window<IdPassForm>();
    w->IdText->setText(QStringLiteral("u"));
    w->PassText->setText(QStringLiteral("p"));
    w->Check1->setChecked(true);
    w->show();
    hm::test::click(w->OKCommand);
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
    QCOMPARE(folder.ui.shown.size(), 1);
    QVERIFY(folder.ui.shown[0].text.contains(QStringLiteral("保存できませんでした")));
    QVERIFY(!QFile::exists(folder.file(QStringLiteral("\\★MAilData"))));
    // Without the save box nothing was asked of the user, so nothing is reported.
    auto* again = hm::window<IdPassForm>();
    again->show();
    hm::test::click(again->OKCommand);
    QCOMPARE(folder.ui.shown.size(), 1);
}

void TestSettingsWindows::accountCancelChangesNothing()
{
    hm::test::TestFolder folder;
    auto* w = hm::window<IdPassForm>();
    w->show();
    w->IdText->setText(QStringLiteral("u"));
    w->Check1->setChecked(true);
    hm::test::click(w->CancelCommand);
    QVERIFY(account().UserId.isEmpty());
    QVERIFY(!QFile::exists(accountFile(folder)));
}

void TestSettingsWindows::serverWindowShowsMemoryAndStaysOnTop()
{
    hm::test::TestFolder folder;
    account().SmtpServer = QStringLiteral("smtp.x");
    account().Pop3Server = QStringLiteral("pop.x");
    account().MailAddress = QStringLiteral("me@x");
    account().ApopFlag = 1;
    auto* w = hm::window<OptionForm>();
    QVERIFY(w->isVisible());
    QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(w->SmtpText->text(), QStringLiteral("smtp.x"));
    QCOMPARE(w->Pop3Text->text(), QStringLiteral("pop.x"));
    QCOMPARE(w->MailText->text(), QStringLiteral("me@x"));
    QVERIFY(w->ApopCheck->isChecked());
    w->close();
    QTRY_VERIFY(!hm::loadedWindow<OptionForm>());
    account().ApopFlag = 0;
    QVERIFY(!hm::window<OptionForm>()->ApopCheck->isChecked());
}

void TestSettingsWindows::serverOkWritesMemoryAndFile()
{
    hm::test::TestFolder folder;
    auto* w = hm::window<OptionForm>();
    w->SmtpText->setText(QStringLiteral("smtp.example.jp"));
    w->Pop3Text->setText(QStringLiteral(" pop.example.jp"));
    w->MailText->setText(QStringLiteral("me@example.jp"));
    w->ApopCheck->setChecked(true);
    hm::test::click(w->OkCommand);
    QCOMPARE(account().Pop3Server, QStringLiteral(" pop.example.jp"));
    QCOMPARE(account().ApopFlag, qint16(1));
    QCOMPARE(folder.read(QStringLiteral("\\hymail.ini")),
             QByteArray("SMTP=smtp.example.jp\r\nPOP3= pop.example.jp\r\nMAIL=me@example.jp\r\nAPOP=1\r\n"));
    QTRY_VERIFY(!hm::loadedWindow<OptionForm>());
}

void TestSettingsWindows::serverCancelChangesNothing()
{
    hm::test::TestFolder folder;
    auto* w = hm::window<OptionForm>();
    w->Pop3Text->setText(QStringLiteral("pop"));
    hm::test::click(w->CancelCommand);
    QVERIFY(account().Pop3Server.isEmpty());
    QVERIFY(!QFile::exists(folder.file(QStringLiteral("\\hymail.ini"))));
}

void TestSettingsWindows::chooserOpensBothWindows()
{
    hm::test::TestFolder folder;
    auto* set = hm::window<SetForm>();
    set->show();
    hm::test::click(set->Command1);
    QVERIFY(hm::loadedWindow<IdPassForm>() && hm::loadedWindow<IdPassForm>()->isVisible());
    hm::test::click(set->Command2);
    QVERIFY(hm::loadedWindow<OptionForm>() && hm::loadedWindow<OptionForm>()->isVisible());
}

QTEST_MAIN(TestSettingsWindows)
#include "test_settings_windows.moc"
