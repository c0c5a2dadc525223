#include "common/window_registry.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/keep_mail_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "settings/sign_in_form.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QRadioButton>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
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
    void fieldsKeepWhatTheFilesKeepAndRefuseWhatCannotWork_data();
    void fieldsKeepWhatTheFilesKeepAndRefuseWhatCannotWork();
    void keysActAsTheWindowsButtons_data();
    void keysActAsTheWindowsButtons();
    void accountSaveFailureIsReported();
    void unreadableAccountFileIsNamedAndNeverReplaced_data();
    void unreadableAccountFileIsNamedAndNeverReplaced();
    void accountCancelChangesNothing();
    void serverWindowShowsMemoryAndStaysOnTop();
    void serverOkWritesMemoryAndFile();
    void serverCancelChangesNothing();
    void chooserOpensBothWindows();
    void receiveWindowSetsMailKeptOnTheServer();
    void signInPresetsFillTheWindowAndOkKeepsThem_data();
    void signInPresetsFillTheWindowAndOkKeepsThem();
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

void TestSettingsWindows::fieldsKeepWhatTheFilesKeepAndRefuseWhatCannotWork_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("kept");    // what the box holds and what comes back from the file
    QTest::addColumn<QString>("refusal"); // part of the box's text; empty when it is saved
    const QString x300(300, QLatin1Char('x'));
    const QString host311 = QString(307, QLatin1Char('a')) + QStringLiteral(".jp");
    QTest::newRow("ID of 300") << "IdText" << x300 << x300.left(255) << QString();
    // 2 bytes each: 127 of them, the 128th would be split.
    QTest::newRow("password in kanji") << "PassText" << QString(200, QChar(0x79D8)) << QString(127, QChar(0x79D8))
                                       << QString();
    QTest::newRow("SMTP of 311") << "SmtpText" << host311 << host311.left(100) << QString();
    QTest::newRow("address of 311") << "MailText" << host311 << host311.left(100) << QString();
    QTest::newRow("port 70000") << "SmtpText" << "smtp.example.jp:70000" << "smtp.example.jp:70000"
                                << "SMTP サーバー名「smtp.example.jp:70000」は正しくありません";
    QTest::newRow("port 0") << "Pop3Text" << "pop.example.jp:0" << "pop.example.jp:0"
                            << "POP3 サーバー名「pop.example.jp:0」は正しくありません";
    QTest::newRow("not a host name") << "Pop3Text" << "メール.example.jp" << "メール.example.jp"
                                     << "POP3 サーバー名「メール.example.jp」は正しくありません";
}

void TestSettingsWindows::fieldsKeepWhatTheFilesKeepAndRefuseWhatCannotWork()
{
    QFETCH(QString, box);
    QFETCH(QString, pasted);
    QFETCH(QString, kept);
    QFETCH(QString, refusal);
    hm::test::TestFolder folder;
    const bool accountBox = box == QLatin1String("IdText") || box == QLatin1String("PassText");
    QWidget* w = accountBox ? static_cast<QWidget*>(hm::window<IdPassForm>()) : hm::window<OptionForm>();
    w->show();
    auto* field = w->findChild<QLineEdit*>(box);
    QVERIFY(field);
    QGuiApplication::clipboard()->setText(pasted);
    field->clear();
    field->paste();
    QCOMPARE(field->text(), kept);
    if (accountBox)
        static_cast<IdPassForm*>(w)->Check1->setChecked(true);
    hm::test::click(accountBox ? static_cast<IdPassForm*>(w)->OKCommand : static_cast<OptionForm*>(w)->OkCommand);

    if (!refusal.isEmpty()) {
        QCOMPARE(folder.ui.shown.size(), 1);
        QVERIFY2(folder.ui.shown[0].text.contains(refusal), qPrintable(folder.ui.shown[0].text));
        QVERIFY(w->isVisible());
        QVERIFY(account().SmtpServer.isEmpty() && account().Pop3Server.isEmpty());
        QVERIFY(!QFile::exists(folder.file(QStringLiteral("\\hymail.ini"))));
        return;
    }
    QVERIFY(folder.ui.shown.isEmpty());
    hm::settings::AccountSettings read;
    hm::settings::LoadServerSettings(read);
    const QHash<QString, QString> back{{QStringLiteral("IdText"), ReadAccountValue(QStringLiteral("NAME"))},
                                       {QStringLiteral("PassText"), ReadAccountValue(QStringLiteral("NAME2"))},
                                       {QStringLiteral("SmtpText"), read.SmtpServer},
                                       {QStringLiteral("MailText"), read.MailAddress}};
    QCOMPARE(back.value(box), kept);
}

void TestSettingsWindows::keysActAsTheWindowsButtons_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("target"); // the control the key goes to
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("Enter in the ID") << "IdPassForm" << "IdText" << int(Qt::Key_Return) << "saved";
    QTest::newRow("keypad Enter in the password") << "IdPassForm" << "PassText" << int(Qt::Key_Enter) << "saved";
    QTest::newRow("Enter in the address") << "OptionForm" << "MailText" << int(Qt::Key_Return) << "saved";
    QTest::newRow("Enter on the save box") << "IdPassForm" << "Check1" << int(Qt::Key_Return) << "saved";
    QTest::newRow("Enter on Cancel") << "IdPassForm" << "CancelCommand" << int(Qt::Key_Return) << "closed";
    QTest::newRow("Escape in the ID") << "IdPassForm" << "IdText" << int(Qt::Key_Escape) << "closed";
    QTest::newRow("Escape in the POP3 server") << "OptionForm" << "Pop3Text" << int(Qt::Key_Escape) << "closed";
    QTest::newRow("Escape in the chooser") << "SetForm" << "Command1" << int(Qt::Key_Escape) << "closed";
    QTest::newRow("Enter on the chooser's server button") << "SetForm" << "Command2" << int(Qt::Key_Return)
                                                          << "server window";
}

void TestSettingsWindows::keysActAsTheWindowsButtons()
{
    QFETCH(QString, window);
    QFETCH(QString, target);
    QFETCH(int, key);
    QFETCH(QString, outcome);
    hm::test::TestFolder folder;
    QWidget* w = window == QLatin1String("IdPassForm") ? static_cast<QWidget*>(hm::window<IdPassForm>())
                 : window == QLatin1String("OptionForm") ? static_cast<QWidget*>(hm::window<OptionForm>())
                                                          : hm::window<SetForm>();
    w->show();
    const QPointer<QWidget> open(w);
    for (auto* box : w->findChildren<QLineEdit*>())
        box->setText(QStringLiteral("typed.example.jp"));
    QWidget* control = w->findChild<QWidget*>(target);
    QVERIFY(control);
    QTest::keyClick(control, Qt::Key(key));

    if (outcome == QLatin1String("server window")) {
        QVERIFY(hm::loadedWindow<OptionForm>() && hm::loadedWindow<OptionForm>()->isVisible());
        return;
    }
    QTRY_VERIFY(!open);
    const bool saved = outcome == QLatin1String("saved");
    if (window == QLatin1String("IdPassForm"))
        QCOMPARE(account().UserId, saved ? QStringLiteral("typed.example.jp") : QString());
    if (window == QLatin1String("OptionForm"))
        QCOMPARE(QFile::exists(folder.file(QStringLiteral("\\hymail.ini"))), saved);
    QVERIFY(folder.ui.shown.isEmpty());
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
    hm::test::click(set->SignInCommand);
    QVERIFY(hm::loadedWindow<SignInForm>() && hm::loadedWindow<SignInForm>()->isVisible());
}

void TestSettingsWindows::signInPresetsFillTheWindowAndOkKeepsThem_data()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("tokenHost");
    QTest::addColumn<QString>("scopeHolds");
    QTest::newRow("Microsoft") << "Microsoft 365 / Outlook.com" << "pop3s://outlook.office365.com:995"
                               << "login.microsoftonline.com" << "offline_access";
    QTest::newRow("Gmail") << "Gmail" << "pop3s://pop.gmail.com:995" << "oauth2.googleapis.com"
                           << "https://mail.google.com/";
    // By hand: what the user typed stays.
    QTest::newRow("other") << "その他" << "pop.example.jp" << "auth.example.jp" << "pop";
}

void TestSettingsWindows::signInPresetsFillTheWindowAndOkKeepsThem()
{
    QFETCH(QString, provider);
    QFETCH(QString, pop3);
    QFETCH(QString, tokenHost);
    QFETCH(QString, scopeHolds);
    hm::test::TestFolder folder;
    auto* w = hm::window<SignInForm>();
    w->show();
    QVERIFY(w->PasswordOption->isChecked());
    QVERIFY(!w->ProviderCombo->isEnabled());
    hm::test::click(w->BrowserOption);
    QVERIFY(w->ProviderCombo->isEnabled());
    w->Pop3Text->setText(QStringLiteral("pop.example.jp"));
    w->TokenText->setText(QStringLiteral("https://auth.example.jp/token"));
    w->ScopeText->setText(QStringLiteral("pop smtp"));
    // The client ID has no default: the provider or the administrator issues it.
    QVERIFY(w->ClientIdText->text().isEmpty());
    w->ClientIdText->setText(QStringLiteral("my-client"));
    const int index = w->ProviderCombo->findText(provider);
    QVERIFY(index >= 0);
    w->ProviderCombo->setCurrentIndex(index);
    emit w->ProviderCombo->activated(index);
    QCOMPARE(w->Pop3Text->text(), pop3);
    hm::test::click(w->OkCommand);
    QTRY_VERIFY(!hm::loadedWindow<SignInForm>());

    const hm::settings::SignInSettings s = hm::settings::LoadSignInSettings();
    QVERIFY(s.browserSignIn);
    QCOMPARE(s.provider, provider);
    QCOMPARE(QUrl(s.tokenUrl).host(), tokenHost);
    QVERIFY2(s.scope.contains(scopeHolds), qPrintable(s.scope));
    QCOMPARE(s.clientId, QStringLiteral("my-client"));
    QVERIFY(folder.read(QStringLiteral("\\hymail.ini")).contains("POP3=" + pop3.toUtf8() + "\r\n"));
    // The next opening shows what was kept.
    QCOMPARE(hm::window<SignInForm>()->ProviderCombo->currentText(), provider);
}

// The chooser's third button opens the receive window, which shows and writes the program's own
// keys in the account file and leaves the original section as it was.
void TestSettingsWindows::receiveWindowSetsMailKeptOnTheServer()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\★MailData\\iniIdPass.ini"), "[EXEINI]\r\nNAME=id\r\nNAME2=pw\r\n[HayateMail]\r\nMaxMessageMB=8\r\n");
    auto* set = hm::window<SetForm>();
    set->show();
    QCOMPARE(set->Command3->text(), QStringLiteral("受信設定"));
    hm::test::click(set->Command3);
    auto* w = hm::loadedWindow<KeepMailForm>();
    QVERIFY(w && w->isVisible());
    QCOMPARE(w->KeepCheck->text(), QStringLiteral("サーバーにメールを残す"));
    QVERIFY(!w->KeepCheck->isChecked());
    QVERIFY(!w->DaysText->isEnabled());
    hm::test::click(w->KeepCheck);
    QTest::keyClicks(w->DaysText, QStringLiteral("3x0"));
    QCOMPARE(w->DaysText->text(), QStringLiteral("30"));
    hm::test::click(w->OkCommand);
    QTRY_VERIFY(!hm::loadedWindow<KeepMailForm>());
    const hm::settings::KeepOnServer k = hm::settings::ReadKeepOnServer();
    QVERIFY(k.keep);
    QCOMPARE(k.deleteAfterDays, 30);
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), QStringLiteral("pw"));
    QCOMPARE(hm::settings::MaxMessageMegabytes(), 8);

    // Opened again it shows what was saved; emptied, the days mean never.
    hm::test::click(set->Command3);
    w = hm::loadedWindow<KeepMailForm>();
    QVERIFY(w && w->KeepCheck->isChecked() && w->DaysText->isEnabled());
    QCOMPARE(w->DaysText->text(), QStringLiteral("30"));
    w->DaysText->clear();
    hm::test::click(w->OkCommand);
    QTRY_VERIFY(!hm::loadedWindow<KeepMailForm>());
    QCOMPARE(hm::settings::ReadKeepOnServer().deleteAfterDays, 0);
    QVERIFY(folder.ui.shown.isEmpty());
}

QTEST_MAIN(TestSettingsWindows)
#include "test_settings_windows.moc"
