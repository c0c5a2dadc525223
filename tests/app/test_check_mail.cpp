#include "app/check_mail.h"
#include "app/command_label.h"
#include "app/main_form.h"
#include "common/window_registry.h"
#include "history/history_mode.h"
#include "compose/back_form.h"
#include "history/tyaku_form.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "sound/module1.h"
#include "sound/sound_device.h"
#include "store/mail_store.h"
#include "tests/app/mail_check_fixture.h"
#include "tests/servers/mail_server_env.h"
#include "tests/support/counting_sound_device.h"
#include "tests/support/store_records.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"
#include "tests/support/main_form_controls.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTreeWidget>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

using hm::test::statusLine;
using hm::test::helpLine;
using hm::test::receiveCommand;

using hm::store::Store;

namespace {

QByteArray message(const QByteArray& subjectWord, const QByteArray& body,
                   const QByteArray& extraHeaders = QByteArray())
{
    return "From: =?UTF-8?B?" + QByteArray("差出人").toBase64() + "?= <sender@localhost>\r\n"
           "To: test@localhost\r\n"
           "Subject: =?UTF-8?B?" + subjectWord.toBase64() + "?=\r\n"
           "Date: Mon, 07 Dec 2026 09:00:00 +0900\r\n"
           "MIME-Version: 1.0\r\n" + extraHeaders +
           "Content-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n\r\n" + body + "\r\n";
}

void closeAll()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!qobject_cast<MainForm*>(w))
            w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QString dovecotLog()
{
    QFile f(qEnvironmentVariable("HM_BINARY_DIR") + QStringLiteral("/mail-servers/log/dovecot.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QByteArray single(const QByteArray& subject, const QByteArray& contentType, const QByteArray& body,
                  const QByteArray& encoding = "8bit")
{
    return "From: sender@localhost\r\nTo: test@localhost\r\nSubject: " + subject + "\r\nMIME-Version: 1.0\r\n"
           "Content-Type: " + contentType + "\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n" + body + "\r\n";
}

// Plain stand-ins for the windows: what the check asked of each, in order.
struct RecordingWindows : MailCheckDisplay, AccountPrompt, hm::history::MessageStaging {
    QStringList calls;
    bool receive = true;

    QWidget* boxParent() override { return nullptr; }
    void showHelp(const QString& text) override { calls << QStringLiteral("help ") + text; }
    void showStatus(const QString& text) override { calls << QStringLiteral("status ") + text; }
    void showResult(const QString& text) override { calls << QStringLiteral("result ") + text; }
    bool receiveEnabled() const override { return receive; }
    void setReceiveEnabled(bool enabled) override
    {
        receive = enabled;
        calls << QStringLiteral("receive %1").arg(enabled);
    }
    void showNewMailPicture() override { calls << QStringLiteral("picture"); }
    QString playNewMailSound() override
    {
        calls << QStringLiteral("sound");
        return QString();
    }
    void holdAccount(const QString& id, const QString&) override { calls << QStringLiteral("account ") + id; }
    void askForAccount() override { calls << QStringLiteral("ask"); }
    void StageMessage(const QString& subject, const QString& from, const QString&, const QString& body) override
    {
        calls << QStringLiteral("stage %1 %2 %3").arg(subject, from, body);
    }
};

} // namespace

class TestCheckMail : public QObject, hm::test::MailCheckFixture {
    Q_OBJECT
private slots:
    void initTestCase() { loadServers(); }
    void init() { startProgram(); }
    void cleanup()
    {
        closeAll();
        closeProgram();
    }

    void threeMessagesAreStoredInServerOrderAndDeleted();
    void emptyMailboxTouchesNeitherPictureNorSound();
    void windowsAreReachedOnlyThroughTheirInterfaces();
    void filesInTheAttachmentFolderOutliveTheScratchFile_data();
    void filesInTheAttachmentFolderOutliveTheScratchFile();
    void attachmentMarkerIsCaseSensitive();
    void apopFlagTwoLogsInWithApop();
    void unsavedPasswordIsNotUsed();
    void failedCheckSaysWhyNeverNoMail_data();
    void failedCheckSaysWhyNeverNoMail();
    void noSoundDeviceIsMentionedOnceWithoutABox();
    void unwritableStoreLeavesEveryMessageOnTheServer();
    void bodyTooLongForTheStoreIsKeptWhole();
    void bigMessagesArriveUpToTheLimitSet_data();
    void bigMessagesArriveUpToTheLimitSet();
    void mixedMailboxIsStoredReadablyAndWhole();
    void secondReceiveClickDuringACheckIsIgnored();
    void attachmentsAreExtracted();
    void demoSamplesArriveAsWritten();
    void ledgerSparesOnlyMessagesWhoseRecordIsInTheStore();
    void unusableLedgerIsReplacedOnce_data();
    void unusableLedgerIsReplacedOnce();
    void keptMailIsStoredOnceAndDeletedAfterItsDays();

private:
    // The attachment folder's names, hidden ones too when asked.
    QStringList attachmentFolder(bool hidden) const
    {
        const QDir dir(folder->file(QStringLiteral("\\添付フォルダ")));
        return dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | (hidden ? QDir::Hidden | QDir::System : QDir::Filters()));
    }
};

void TestCheckMail::threeMessagesAreStoredInServerOrderAndDeleted()
{
    // A store of k = 2 records already.
    QVERIFY(hm::store::AppendRecord(Store::Received, 1, QStringLiteral("old1"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b")));
    QVERIFY(hm::store::AppendRecord(Store::Received, 2, QStringLiteral("old2"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b")));
    env.drop(message("一通目", "本文その一"));
    // Too big to be read ahead while the first is stored: it is fetched in its turn.
    env.drop(message("二通目", "本文その二\r\n" + QByteArray(hm::mail::kMaxReadAheadBytes, 'x')));
    env.drop(message("三通目", "本文その三"));

    CheckMail(*main);

    QCOMPARE(statusLine(*main)->text(), QStringLiteral("3の新着メール有り。"));
    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), 5);
    QCOMPARE(list[2].subject, QStringLiteral("一通目"));
    QCOMPARE(list[3].subject, QStringLiteral("二通目"));
    QCOMPARE(list[4].subject, QStringLiteral("三通目"));
    QCOMPARE(list[4].body, QStringLiteral("本文その三\r\n"));
    QCOMPARE(list[4].from, QStringLiteral("差出人 <sender@localhost>"));
    QCOMPARE(list[4].date, QStringLiteral("Mon, 07 Dec 2026 09:00:00 +0900"));
    QVERIFY(env.messageFiles().isEmpty());
    QVERIFY(!main->Image3->isHidden());
    QVERIFY(main->Display->isHidden());
    // The history window holds the last message, loaded but not shown.
    auto* history = hm::loadedWindow<TyakuForm>();
    QVERIFY(history && history->isHidden());
    QCOMPARE(history->Text7->text(), QStringLiteral("三通目"));
    QVERIFY(!main->Text2->text().isEmpty()); // a send right after the check still has its date
    QVERIFY(folder->ui.shown.isEmpty());
    // The scratch file, hidden, went with the run; the second message's whole copy stays.
    QCOMPARE(attachmentFolder(true), attachmentFolder(false));
    QCOMPARE(sound.started, 1);
    QVERIFY(main->Label14->isEnabled());
}

void TestCheckMail::emptyMailboxTouchesNeitherPictureNorSound()
{
    // A file that happens to have the scratch file's name, an attachment of an earlier check.
    folder->write(QStringLiteral("\\添付フォルダ\\0.txt"), "kept");
    CheckMail(*main);
    QVERIFY(QFile::exists(folder->file(QStringLiteral("\\添付フォルダ\\0.txt"))));
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("新着メール無し。"));
    QCOMPARE(helpLine(*main)->text(), QStringLiteral("メールのチェックをしています。"));
    QVERIFY(main->Image3->isHidden());
    QVERIFY(!main->Display->isHidden());
    QVERIFY(!main->Label14->isEnabled()); // no sound started
    QCOMPARE(sound.started, 0);
    QVERIFY(folder->ui.shown.isEmpty());
    QCOMPARE(hm::test::storedRecords(Store::Received).size(), 0);
}

void TestCheckMail::windowsAreReachedOnlyThroughTheirInterfaces()
{
    env.drop(message("一通目", "本文その一"));
    env.drop(message("二通目", "本文その二"));
    RecordingWindows windows;
    CheckMail(MailCheckWindows{windows, windows, windows});

    // The history window is staged once, with the last message, and nothing loads a window.
    const QStringList expected = {
        QStringLiteral("receive 0"),
        QStringLiteral("help メールのチェックをしています。"),
        QStringLiteral("account ") + env.user,
        QStringLiteral("status 1 / 2"),
        QStringLiteral("status 2 / 2"),
        QStringLiteral("stage 二通目 差出人 <sender@localhost> 本文その二\r\n"),
        QStringLiteral("status 2の新着メール有り。"),
        QStringLiteral("picture"),
        QStringLiteral("sound"),
        QStringLiteral("result 2の新着メール有り。"),
        QStringLiteral("receive 1"),
    };
    QCOMPARE(windows.calls, expected);
    QVERIFY(!hm::loadedWindow<TyakuForm>());
    QVERIFY(!hm::loadedWindow<IdPassForm>());
    QCOMPARE(hm::test::storedCount(Store::Received), 2);
    QVERIFY(env.messageFiles().isEmpty());
}

void TestCheckMail::filesInTheAttachmentFolderOutliveTheScratchFile_data()
{
    QTest::addColumn<bool>("link");
    QTest::newRow("the user's own 0.txt") << false;
    QTest::newRow("0.txt a link to a file elsewhere") << true;
}

void TestCheckMail::filesInTheAttachmentFolderOutliveTheScratchFile()
{
    QFETCH(bool, link);
    const QString named = folder->file(QStringLiteral("\\添付フォルダ\\0.txt"));
    QTemporaryDir elsewhere;
    const QString kept = link ? elsewhere.filePath(QStringLiteral("kept.txt")) : named;
    hm::test::writeFile(kept, "kept");
    if (link)
        QVERIFY(QFile::link(kept, named));
    const QStringList before = attachmentFolder(true);
    env.drop(message("一通目", "本文その一"));
    env.drop(message("二通目", "本文その二"));

    CheckMail(*main);

    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), 2);
    QCOMPARE(attachmentFolder(true), before);
    QCOMPARE(QFileInfo(named).isSymLink(), link);
    QFile f(kept);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("kept"));
}

void TestCheckMail::attachmentMarkerIsCaseSensitive()
{
    env.drop(message("with", "see the attachment below"));
    env.drop(message("capital", "see the Attachment below"));
    CheckMail(*main);
    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), 2);
    const QString notice = QStringLiteral("\r\n♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
    QVERIFY2(list[0].body.endsWith(notice), qPrintable(list[0].body));
    QVERIFY(!list[1].body.contains(QStringLiteral("♪")));
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("2の新着メール有り。"));

    QCOMPARE(sound.started, 1);

    // When the last message carries the marker, picture and sound run twice and the report
    // still ends with the count.
    sound.started = 0;
    env.drop(message("only", "an attachment"));
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("1の新着メール有り。"));
    QCOMPARE(sound.started, 2);
}

void TestCheckMail::apopFlagTwoLogsInWithApop()
{
    folder->write(QStringLiteral("\\hymail.ini"), "POP3=" + env.pop3Server().toUtf8() + "\r\nAPOP=2\r\n");
    hm::settings::LoadServerSettings(hm::settings::account());
    QCOMPARE(hm::settings::account().ApopFlag, qint16(2));
    env.drop(message("apop", "x"));
    const qsizetype before = dovecotLog().size();
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("1の新着メール有り。"));
    QTRY_VERIFY(dovecotLog().mid(before).contains(QStringLiteral("method=APOP")));
}

void TestCheckMail::unsavedPasswordIsNotUsed()
{
    QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME2"), QString()));
    env.drop(message("waiting", "x"));
    // Typed into the account window without the save box.
    auto* idPass = hm::window<IdPassForm>();
    idPass->PassText->setText(env.password);
    idPass->show();
    hm::test::click(idPass->OKCommand);
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
    QCOMPARE(hm::settings::account().UserPassword, env.password);

    CheckMail(*main);
    QVERIFY(hm::settings::account().UserPassword.isEmpty());
    auto* shown = hm::loadedWindow<IdPassForm>();
    QVERIFY(shown && shown->isVisible());
    QCOMPARE(shown->IdText->text(), env.user);
    // Nothing was checked: the status says why rather than "no new mail".
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("IDとパスワードが保存されていません。"));
    QCOMPARE(env.messageFiles().size(), 1);
}

// A check that never reached the mailbox says so, and why, in the status line; a failed login
// also shows the library's text in a box. The mail stays on the server.
void TestCheckMail::failedCheckSaysWhyNeverNoMail_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("trustFixture");
    QTest::addColumn<QString>("why");
    QTest::addColumn<bool>("box");
    const QString port = QString::number(hm::test::unusedLoopbackPort());
    QTest::newRow("wrong password") << env.pop3Server() << "wrong-password" << true << "ログインできません" << true;
    QTest::newRow("unknown host") << "no-such-host.invalid" << env.password << true << "見つかりません" << true;
    QTest::newRow("nobody on the port") << "127.0.0.1:" + port << env.password << true << "接続が拒否されました" << true;
    QTest::newRow("untrusted certificate") << env.pop3sServer() << env.password << false << "証明書を信頼できません" << true;
    QTest::newRow("port out of range") << env.host + ":70000" << env.password << true << "正しくありません" << false;
    QTest::newRow("non-ASCII name") << "メール.example" << env.password << true << "正しくありません" << false;
    QTest::newRow("no server") << "" << env.password << true << "POP3 サーバーが設定されていません" << false;
}

void TestCheckMail::failedCheckSaysWhyNeverNoMail()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(bool, trustFixture);
    QFETCH(QString, why);
    QFETCH(bool, box);
    const QByteArray trusted = qgetenv("SSL_CERT_FILE");
    const auto restore = qScopeGuard([&] { qputenv("SSL_CERT_FILE", trusted); });
    if (!trustFixture)
        qunsetenv("SSL_CERT_FILE");
    hm::settings::account().Pop3Server = server;
    saveAccount(env.user, password);
    env.drop(message("waiting", "x"));

    CheckMail(*main);

    const QString status = statusLine(*main)->text();
    QVERIFY2(status.contains(why) && status != QStringLiteral("新着メール無し。"), qPrintable(status));
    if (!server.isEmpty())
        QVERIFY2(status.startsWith(QStringLiteral("受信できませんでした: ")), qPrintable(status));
    QCOMPARE(statusLine(*main)->cursorPosition(), 0);
    QCOMPARE(folder->ui.shown.size(), box ? 1 : 0);
    if (box) {
        QCOMPARE(folder->ui.shown[0].title, QStringLiteral("エラー"));
        QVERIFY2(folder->ui.shown[0].text.contains(why), qPrintable(folder->ui.shown[0].text));
    }
    QCOMPARE(env.messageFiles().size(), 1);
    QCOMPARE(sound.started, 0);
    QVERIFY(main->Image3->isHidden());
}

// Every play fails on a machine without a sound device: the first check that brings mail says
// so in its status line, later ones do not, no box stops the user, and the mail is received.
void TestCheckMail::noSoundDeviceIsMentionedOnceWithoutABox()
{
    sound.refuses = true;
    const auto restore = qScopeGuard([&] { sound.refuses = false; });
    const QString note = QStringLiteral("1の新着メール有り。（新着音を鳴らせません: API がエラーを返しました）");
    env.drop(message("first", "x"));
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), note);
    // A message with an attachment plays twice; it is still said once.
    env.drop(message("second", "an attachment"));
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("1の新着メール有り。"));
    QVERIFY(folder->ui.shown.isEmpty());
    QCOMPARE(hm::test::storedCount(hm::store::Store::Received), 2);
    QVERIFY(env.messageFiles().isEmpty());
    QCOMPARE(sound.started, 3);

    // Once a play works again, a later failure is news again.
    sound.refuses = false;
    env.drop(message("third", "x"));
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("1の新着メール有り。"));
    sound.refuses = true;
    env.drop(message("fourth", "x"));
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), note);
    QVERIFY(folder->ui.shown.isEmpty());
}

void TestCheckMail::unwritableStoreLeavesEveryMessageOnTheServer()
{
    env.drop(message("a", "x"));
    env.drop(message("b", "y"));
    const QString store = folder->file(QStringLiteral("\\★MAilData\\hymdata2.data"));
    QFile f(store);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(QFile::setPermissions(store, QFile::ReadOwner));
    CheckMail(*main);
    QCOMPARE(env.messageFiles().size(), 2);
    QCOMPARE(folder->ui.shown.size(), 1);
    QVERIFY(statusLine(*main)->text().contains(QStringLiteral("サーバーに残しました")));
}

void TestCheckMail::bodyTooLongForTheStoreIsKeptWhole()
{
    // 17,000 double-byte characters do not fit the 32,000-byte body field.
    const QByteArray longBody = QString(17000, QChar(0x3042)).toUtf8();
    env.drop(message("long", longBody));
    CheckMail(*main);
    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), 1);
    QVERIFY(list[0].body.contains(QStringLiteral(".eml")));
    QVERIFY(list[0].body.endsWith(QStringLiteral("保存しました。】")));
    const QStringList eml = QDir(folder->file(QStringLiteral("\\添付フォルダ"))).entryList({QStringLiteral("*.eml")});
    QCOMPARE(eml.size(), 1);
    QVERIFY(list[0].body.contains(eml[0]));
    QFile kept(folder->file(QStringLiteral("\\添付フォルダ\\") + eml[0]));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll().contains(longBody.left(3000)));
    QVERIFY(env.messageFiles().isEmpty());
}

void TestCheckMail::bigMessagesArriveUpToTheLimitSet_data()
{
    QTest::addColumn<QByteArray>("setting"); // the account file's own section, as a user writes it
    QTest::addColumn<int>("megabytes");
    QTest::addColumn<bool>("arrives");
    QTest::addColumn<QString>("boxSays");
    QTest::newRow("70 MB, above the old 64 MB cap") << QByteArray() << 70 << true << QString();
    QTest::newRow("2 MB, above a limit of 1 MB")
        << QByteArray("[HayateMail]\r\nMaxMessageMB=1\r\n") << 2 << false
        << QStringLiteral("1通: 大きすぎるため受信しませんでした（1 MB 超）");
    QTest::newRow("a limit that is no number")
        << QByteArray("[hayatemail]\r\nmaxmessagemb=lots\r\n") << 2 << true
        << QStringLiteral("MaxMessageMB=「lots」は、受信するメールの大きさの上限（1 以上の整数、MB 単位）として使えないため、1024 MB までのメールを受信します。");
}

// A message of megabytes: its attachment byte for byte, and its whole copy (its text is more
// than the store holds) the very bytes the server sent; or, above the limit, left on the server.
void TestCheckMail::bigMessagesArriveUpToTheLimitSet()
{
    QFETCH(QByteArray, setting);
    QFETCH(int, megabytes);
    QFETCH(bool, arrives);
    QFETCH(QString, boxSays);
    {
        QFile account(folder->file(QStringLiteral("\\★MailData\\iniIdPass.ini")));
        QVERIFY(account.open(QIODevice::Append));
        account.write(setting);
    }
    QByteArray file(qsizetype(megabytes) * 1024 * 1024 * 3 / 4 - 64 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(file.data()), file.size() / 4);
    QByteArray text;
    for (int i = 0; text.size() < 40000; ++i)
        text += "line " + QByteArray::number(i) + " of a text longer than the store holds\r\n";
    QByteArray encoded;
    const QByteArray base64 = file.toBase64();
    for (qsizetype p = 0; p < base64.size(); p += 76)
        encoded += base64.mid(p, 76) + "\r\n";
    const QByteArray sent =
        "From: sender@localhost\r\nTo: test@localhost\r\nSubject: big\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
        "--b1\r\nContent-Type: text/plain; charset=US-ASCII\r\n\r\n" + text +
        "--b1\r\nContent-Type: application/octet-stream\r\n"
        "Content-Disposition: attachment; filename=\"big.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        encoded + "--b1--\r\n";
    encoded.clear();
    env.drop(sent);
    CheckMail(*main);

    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), arrives ? 1 : 0);
    QCOMPARE(env.messageFiles().size(), arrives ? 0 : 1);
    QCOMPARE(folder->ui.shown.size(), boxSays.isEmpty() ? 0 : 1);
    if (!boxSays.isEmpty())
        QVERIFY2(folder->ui.shown[0].text.contains(boxSays), qPrintable(folder->ui.shown[0].text));
    // Nothing but what was received: no download left under a name of its own.
    const QStringList eml = QDir(folder->file(QStringLiteral("\\添付フォルダ"))).entryList({QStringLiteral("*.eml")});
    QCOMPARE(attachmentFolder(true), arrives ? eml + QStringList{QStringLiteral("big.bin")} : QStringList());
    if (!arrives)
        return;
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\big.bin")), file);
    QCOMPARE(eml.size(), 1);
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\") + eml[0]), sent);
    QVERIFY(list[0].body.startsWith(QStringLiteral("line 0 of a text")));
    QVERIFY(list[0].body.contains(eml[0]));
}

// What real-world mail looks like in the store: HTML as readable text, a lone file in the
// attachment folder, Windows forms of CP932 kept as they are, and a whole copy only where the
// store truly cannot hold the text or the message nests deeper than it is taken apart.
void TestCheckMail::mixedMailboxIsStoredReadablyAndWhole()
{
    env.drop(single("news", "text/html; charset=UTF-8",
                    "<html><head><title>News</title><style>p{color:red}</style><script>var x=1;</script></head>"
                    "<body><!-- tracking --><div>\xE4\xBB\x8A\xE6\x9C\x88&amp;News</div><p>line one<br>line&nbsp;two &lt;b&gt;</p>"
                    "<table><tr><td>row1</td></tr><tr><td>row2</td></tr></table><ul><li>item A</li><li>item B</li></ul>"
                    "</body></html>"));
    const char pdfBytes[] = "%PDF-1.4\n\x00\x01\xFF scanned page\n%%EOF";
    const QByteArray pdf(pdfBytes, sizeof pdfBytes - 1);
    env.drop(single("scan", "application/pdf; name=\"scan.pdf\"", pdf.toBase64(), "base64"));
    const QString forms = QStringLiteral("波〜マイナス−ダッシュ—双柱‖¢£¬空白\u00A0終");
    env.drop(single("forms", "text/plain; charset=UTF-8", forms.toUtf8()));
    env.drop(single("nul", "text/plain; charset=UTF-8", QByteArray("前半\0後半", 13).toBase64(), "base64"));
    // Characters CP932 lacks in subject, sender and body: the record keeps what CP932 holds,
    // the history window shows the whole message from its copy.
    const QString wide = QStringLiteral("晴れ😀 안녕 𠮷野家");
    env.drop("From: =?UTF-8?B?" + (wide + QStringLiteral("さん")).toUtf8().toBase64() + "?= <emoji@localhost>\r\n"
             "Subject: =?UTF-8?B?" + wide.toUtf8().toBase64() + "?=\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=UTF-8\r\n\r\n今日は" + wide.toUtf8() + "です\r\n");
    QByteArray nested = "--n0\r\nContent-Type: text/plain\r\n\r\nouter text\r\n";
    for (int level = 1; level <= 40; ++level)
        nested += "--n" + QByteArray::number(level - 1) + "\r\nContent-Type: multipart/mixed; boundary=n"
                  + QByteArray::number(level) + "\r\n\r\n";
    nested += "--n40\r\nContent-Type: application/octet-stream; name=deep.bin\r\n\r\nbottom\r\n";
    for (int level = 40; level >= 0; --level)
        nested += "--n" + QByteArray::number(level) + "--\r\n";
    const QByteArray deep = single("deep", "multipart/mixed; boundary=n0", nested);
    env.drop(deep);

    CheckMail(*main);

    QCOMPARE(statusLine(*main)->text(), QStringLiteral("6の新着メール有り。"));
    QVERIFY(folder->ui.shown.isEmpty());
    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), 6);
    QCOMPARE(list[0].body, QStringLiteral("今月&News\r\nline one\r\nline two <b>\r\nrow1\r\nrow2\r\n\r\nitem A\r\nitem B"));
    QCOMPARE(list[1].body, QString());
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\scan.pdf")), pdf);
    // CP932 holds these in their Windows form; the no-break space is a space in the editor.
    QCOMPARE(list[2].body, QStringLiteral("波～マイナス－ダッシュ―双柱∥￠￡￢空白 終\r\n"));
    const QString note = QStringLiteral("に元のまま保存しました。】");
    QVERIFY2(list[3].body.startsWith(QStringLiteral("前半\r\n\r\n【")) && list[3].body.endsWith(note), list[3].body.toUtf8().constData());
    QVERIFY2(list[4].body.startsWith(QStringLiteral("今日は晴れ? ?? ?野家です")) && list[4].body.endsWith(note), qPrintable(list[4].body));
    QCOMPARE(list[4].subject, QStringLiteral("晴れ? ?? ?野家"));
    const QStringList eml = QDir(folder->file(QStringLiteral("\\添付フォルダ"))).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    QCOMPARE(eml.size(), 3);
    QVERIFY(list[3].body.contains(eml[0]) && list[4].body.contains(eml[1]));
    QVERIFY2(list[5].body.startsWith(QStringLiteral("outer text\r\n")) && list[5].body.contains(eml[2])
                 && list[5].body.endsWith(QStringLiteral("最後まで展開できなかったため、添付フォルダの「") + eml[2] + QStringLiteral("」") + note),
             qPrintable(list[5].body));
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\") + eml[2]), deep);
    QVERIFY(folder->read(QStringLiteral("\\添付フォルダ\\") + eml[0]).contains(QByteArray("前半\0後半", 13).toBase64()));
    QVERIFY(folder->read(QStringLiteral("\\添付フォルダ\\") + eml[1]).contains("\xF0\x9F\x98\x80"));
    QVERIFY(env.messageFiles().isEmpty());

    // The history window and a reply show that message whole; a copy gone missing leaves the
    // stored text, with a note.
    QVERIFY(QFile::remove(folder->file(QStringLiteral("\\添付フォルダ\\") + eml[0])));
    auto* history = hm::loadedWindow<TyakuForm>();
    QVERIFY(history);
    history->ShowHistory(hm::history::HistoryMode::Received);
    history->show();
    history->MailListView->setCurrentItem(history->MailListView->topLevelItem(3));
    QVERIFY(history->CopyNote->toolTip().contains(QStringLiteral("読めないため、保存された本文を表示しています")));
    QCOMPARE(history->EditorText(), list[3].body);
    history->MailListView->setCurrentItem(history->MailListView->topLevelItem(4));
    QCOMPARE(history->Text7->text(), wide);
    QCOMPARE(history->Text8->text(), wide + QStringLiteral("さん <emoji@localhost>"));
    QCOMPARE(history->EditorText(), QStringLiteral("今日は") + wide + QStringLiteral("です\r\n"));
    QVERIFY(history->CopyNote->toolTip().contains(eml[1]));
    const hm::test::StoredRecord kept = hm::test::storedRecords(Store::Received).at(4);
    QVERIFY(kept.subject == list[4].subject && kept.from == list[4].from && kept.body == list[4].body);
    hm::test::click(history->Command5);
    auto* reply = hm::loadedWindow<BackForm>();
    QVERIFY(reply && reply->isVisible());
    QCOMPARE(reply->SubjectText->text(), QStringLiteral("Re:  ") + wide);
    QVERIFY(reply->BodyText->toPlainText().contains(wide));
}

// Work posted when the click arrives, which is no user input, is served while the check runs.
class PostedOnClick : public QObject {
public:
    explicit PostedOnClick(MainForm* main) : main_(main) {}
    bool served = false;
    bool receiveDisabled = false;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease && !armed_) {
            armed_ = true;
            QTimer::singleShot(0, this, [this] {
                served = MailCheckRunning();
                receiveDisabled = !receiveCommand(*main_)->isEnabled();
            });
        }
        return false;
    }

private:
    MainForm* main_;
    bool armed_ = false;
};

void TestCheckMail::secondReceiveClickDuringACheckIsIgnored()
{
    env.drop(message("一通", "本文"));
    main->show();
    PostedOnClick posted(main.get());
    receiveCommand(*main)->installEventFilter(&posted);
    // Two clicks queued together: the second waits while the first one's check blocks.
    for (int click = 0; click < 2; ++click)
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(receiveCommand(*main), new QMouseEvent(type, QPointF(5, 5), receiveCommand(*main)->mapToGlobal(QPointF(5, 5)),
                                                                      Qt::LeftButton, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                                      Qt::NoModifier));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(hm::test::storedRecords(Store::Received).size(), 1);
    // A second check would have reported "新着メール無し。" over the first one's result.
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("1の新着メール有り。"));
    // Meanwhile the window served pending work and showed receive as unavailable.
    QVERIFY(posted.served);
    QVERIFY(posted.receiveDisabled);
    QVERIFY(receiveCommand(*main)->isEnabled());
}

void TestCheckMail::attachmentsAreExtracted()
{
    const QByteArray raw =
        "From: sender@localhost\r\nTo: test@localhost\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
        "--b1\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "本文です\r\n"
        "--b1\r\nContent-Type: application/octet-stream\r\n"
        "Content-Disposition: attachment; filename=\"data.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        QByteArray("\x01\x02\x03payload", 10).toBase64() + "\r\n--b1--\r\n";
    env.drop(raw);
    CheckMail(*main);
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("1の新着メール有り。"));
    QFile saved(folder->file(QStringLiteral("\\添付フォルダ\\data.bin")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("\x01\x02\x03payload", 10));
    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), 1);
    QVERIFY(list[0].body.startsWith(QStringLiteral("本文です")));
    QVERIFY(list[0].body.endsWith(QStringLiteral("♪♪♪")));

    // A file of megabytes is written as it is decoded, whole; the text is found all the same.
    QByteArray big(6 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 5);
    QByteArray withBig = raw;
    withBig.replace("data.bin", "big.bin").replace(QByteArray("\x01\x02\x03payload", 10).toBase64(), big.toBase64());
    env.drop(withBig);
    CheckMail(*main);
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\big.bin")), big);
    const QList<hm::test::StoredRecord> after = hm::test::storedRecords(Store::Received);
    QCOMPARE(after.size(), 2);
    QCOMPARE(after[1].body, list[0].body);
    QVERIFY(env.messageFiles().isEmpty());
}

void TestCheckMail::demoSamplesArriveAsWritten()
{
    QProcess seed;
    seed.start(QStringLiteral("python3"),
               {hm::test::sourceDir() + QStringLiteral("/tests/servers/sample_mail.py"), env.maildir});
    QVERIFY(seed.waitForFinished(60000));
    QCOMPARE(seed.exitCode(), 0);
    CheckMail(*main);
    const QList<hm::test::StoredRecord> list = hm::test::storedRecords(Store::Received);
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].subject, QStringLiteral("ようこそ疾風メールへ"));
    QCOMPARE(list[0].from, QStringLiteral("受信者 <welcome@localhost>"));
    QCOMPARE(list[1].from, QStringLiteral("Tanaka <tanaka@localhost>"));
}

// What an interrupted check leaves in the ledger: a line whose record is in the store spares its
// message a second copy; a line whose record is not there (a power loss took it), whose size is
// not the message's, or that gives no size (an older ledger's) is not trusted, and each record
// answers for one line only; lines of messages gone from the server are dropped.
void TestCheckMail::ledgerSparesOnlyMessagesWhoseRecordIsInTheStore()
{
    using namespace hm::mail;
    const QStringList subjects = {"stored before", "record lost", "size differs", "no size", "new"};
    for (const QString& subject : subjects)
        env.drop(message(subject.toUtf8(), "x"));
    QByteArrayList uidls, sizes;
    const int handle = NMailPop3Connect(env.pop3Server());
    QCOMPARE(NMailPop3Authenticate(handle, env.user, env.password, 0), 5);
    for (int n = 1; n <= 5; ++n) {
        QString uidl;
        QCOMPARE(NMailPop3GetUidl(handle, n, uidl), 0);
        uidls << uidl.toLatin1();
        sizes << QByteArray::number(NMailPop3GetMailSize(handle, n));
    }
    NMailPop3Close(handle);
    QByteArrayList sums;
    for (const char* s : {"stored before", "size differs", "no size"}) {
        QVERIFY(hm::store::AppendRecord(Store::Received, qint16(sums.size() + 1), QString::fromLatin1(s),
                                        QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("x")));
        sums << hm::store::RecordChecksum(Store::Received, qint16(sums.size() + 1));
    }
    const QString ledger = QStringLiteral("\\★MAilData\\hymuidl.txt");
    folder->write(ledger, uidls[0] + " 1 " + sums[0] + " " + sizes[0] + "\n"
                          + uidls[1] + " 2 " + sums[0] + " " + sizes[1] + "\n"
                          + uidls[2] + " 2 " + sums[1] + " " + sizes[2] + "1\n"
                          + uidls[3] + " 3 " + sums[2] + "\n"
                          + "gone 1 " + sums[0] + " " + sizes[0] + "\n");

    CheckMail(*main);

    QStringList stored;
    for (const hm::test::StoredRecord& r : hm::test::storedRecords(Store::Received))
        stored << r.subject;
    QCOMPARE(stored, QStringList({"stored before", "size differs", "no size", "record lost", "size differs", "no size", "new"}));
    QVERIFY(env.messageFiles().isEmpty());
    QCOMPARE(statusLine(*main)->text(), QStringLiteral("5の新着メール有り。"));
    QVERIFY(folder->ui.shown.isEmpty());
    // Every message it knew of is gone from the server: so are their lines.
    QVERIFY(!QFileInfo::exists(folder->file(ledger)));
}

// A ledger that cannot be read is replaced once, with a word to the user, and never written
// through a link; the check goes on under its protection.
void TestCheckMail::unusableLedgerIsReplacedOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("says");
    QTest::newRow("too large") << QByteArray(65 * 1024 * 1024, 'x') << false << QStringLiteral("は大きすぎます");
    QTest::newRow("a link to a file elsewhere") << QByteArray("precious\n") << true
                                                << QStringLiteral("は通常のファイルではありません");
}

void TestCheckMail::unusableLedgerIsReplacedOnce()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, link);
    QFETCH(QString, says);
    QTemporaryDir elsewhere;
    const QString ledger = folder->file(QStringLiteral("\\★MAilData\\hymuidl.txt"));
    const QString target = link ? elsewhere.filePath(QStringLiteral("victim")) : ledger;
    hm::test::writeFile(target, content);
    if (link)
        QVERIFY(QFile::link(target, ledger));
    env.drop(message("one", "x"));

    CheckMail(*main);

    QCOMPARE(hm::test::storedRecords(Store::Received).size(), 1);
    QCOMPARE(folder->ui.shown.size(), 1);
    QVERIFY2(folder->ui.shown[0].text.contains(says) && folder->ui.shown[0].text.contains(QStringLiteral("作り直しました")),
             qPrintable(folder->ui.shown[0].text));
    QVERIFY(!QFileInfo(ledger).isSymLink());
    if (link) {
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
    env.drop(message("two", "y"));
    CheckMail(*main);
    QCOMPARE(hm::test::storedRecords(Store::Received).size(), 2);
    QCOMPARE(folder->ui.shown.size(), 1);
}

// With mail kept on the server a check stores only what it never stored before and deletes
// only what it stored more than the days set ago, by the clock the test sets; a record the user
// deleted does not bring its message back.
void TestCheckMail::keptMailIsStoredOnceAndDeletedAfterItsDays()
{
    const QDateTime start(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC);
    QDateTime clock = start;
    SetMailCheckClock([&clock] { return clock; });
    const auto restore = qScopeGuard([] { SetMailCheckClock({}); });
    QVERIFY(hm::settings::WriteKeepOnServer({true, 30}));
    const auto check = [&](const QString& status, const QStringList& stored, int onServer, int sounds) {
        CheckMail(*main);
        QCOMPARE(statusLine(*main)->text(), status);
        QCOMPARE(hm::test::storedSubjects(Store::Received), stored);
        QCOMPARE(env.messageFiles().size(), onServer);
        QCOMPARE(sound.started, sounds);
        QVERIFY(folder->ui.shown.isEmpty());
    };
    env.drop(message("一通目", "本文その一"));
    env.drop(message("二通目", "本文その二"));
    check(QStringLiteral("2の新着メール有り。"), {"一通目", "二通目"}, 2, 1);
    clock = start.addDays(1);
    env.drop(message("三通目", "本文その三"));
    check(QStringLiteral("1の新着メール有り。"), {"一通目", "二通目", "三通目"}, 3, 2);
    check(QStringLiteral("新着メール無し。"), {"一通目", "二通目", "三通目"}, 3, 2);

    QVERIFY(hm::store::DeleteRecord(Store::Received, 1));
    // Thirty days and a minute after the first two were stored: they go, the third stays.
    clock = start.addDays(30).addSecs(60);
    check(QStringLiteral("新着メール無し。"), {"二通目", "三通目"}, 1, 2);
    QFile third(env.messageFiles().value(0));
    QVERIFY(third.open(QIODevice::ReadOnly) && third.readAll().contains(QByteArray("本文その三")));
    clock = start.addDays(31).addSecs(60);
    check(QStringLiteral("新着メール無し。"), {"二通目", "三通目"}, 0, 2);
    // Nothing is left on the server for the ledger to remember.
    QVERIFY(!QFileInfo::exists(folder->file(QStringLiteral("\\★MAilData\\hymuidl.txt"))));
}

QTEST_MAIN(TestCheckMail)
#include "test_check_mail.moc"
