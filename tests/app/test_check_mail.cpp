#include "app/check_mail.h"
#include "app/command_label.h"
#include "app/main_form.h"
#include "common/window_registry.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "sound/module1.h"
#include "sound/sound_device.h"
#include "store/mail_store.h"
#include "tests/servers/mail_server_env.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>

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

// Counts the sounds started; the sound room's own tests play through a real output.
class CountingSoundDevice : public hm::sound::SoundDevice {
public:
    int started = 0;
    bool start(const hm::sound::WaveData&, bool) override
    {
        ++started;
        return true;
    }
    void waitUntilFinished() override {}
    void stop() override {}
    bool isPlaying() const override { return false; }
};

struct Record {
    QString subject, from, date, body;
};

QList<Record> records(Store s)
{
    QList<Record> list;
    hm::store::ReadAllRecords(s, [&](qint16, const hm::store::MailRecordFields& f) {
        list.append({f.Subject, f.From, f.Date, f.Body});
    });
    return list;
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

} // namespace

class TestCheckMail : public QObject {
    Q_OBJECT
private:
    hm::test::MailServerEnv env;
    std::unique_ptr<hm::test::TestFolder> folder;
    std::unique_ptr<MainForm> main;
    CountingSoundDevice sound;

    void saveAccount(const QString& id, const QString& password)
    {
        QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME"), id));
        QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME2"), password));
    }

private slots:
    void initTestCase()
    {
        env = hm::test::MailServerEnv::load();
        QVERIFY2(env.valid, "the mail_servers fixture is not running");
        hm::sound::setSoundDevice(&sound);
    }
    void init()
    {
        env.clearMailbox();
        sound.started = 0;
        folder = std::make_unique<hm::test::TestFolder>();
        hm::settings::account() = {};
        folder->write(QStringLiteral("\\hymail.ini"), "POP3=" + env.pop3Server().toUtf8() + "\r\n");
        main = std::make_unique<MainForm>();
        main->endProcess = [] {};
        QVERIFY(main->Form_Load());
        saveAccount(env.user, env.password);
    }
    void cleanup()
    {
        closeAll();
        main.reset();
        folder.reset();
    }

    void threeMessagesAreStoredInServerOrderAndDeleted();
    void emptyMailboxTouchesNeitherPictureNorSound();
    void attachmentMarkerIsCaseSensitive();
    void apopFlagTwoLogsInWithApop();
    void unsavedPasswordIsNotUsed();
    void loginErrorShowsTheLibraryText();
    void unwritableStoreLeavesEveryMessageOnTheServer();
    void bodyTooLongForTheStoreIsKeptWhole();
    void bodyWithCharactersTheStoreCannotHoldIsKeptWhole();
    void attachmentsAreExtracted();
    void demoSamplesArriveAsWritten();
};

void TestCheckMail::threeMessagesAreStoredInServerOrderAndDeleted()
{
    // A store of k = 2 records already.
    QVERIFY(hm::store::AppendRecord(Store::Received, 1, QStringLiteral("old1"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b")));
    QVERIFY(hm::store::AppendRecord(Store::Received, 2, QStringLiteral("old2"), QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("b")));
    env.drop(message("一通目", "本文その一"));
    env.drop(message("二通目", "本文その二"));
    env.drop(message("三通目", "本文その三"));

    CheckMail(*main);

    QCOMPARE(main->Text1->text(), QStringLiteral("3の新着メール有り。"));
    const QList<Record> list = records(Store::Received);
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
    QVERIFY(main->Text2->text().isEmpty()); // the clock text waits for the next tick
    QVERIFY(folder->ui.shown.isEmpty());
    QVERIFY(!QFile::exists(folder->file(QStringLiteral("\\添付フォルダ\\0.txt"))));
    QCOMPARE(sound.started, 1);
    QVERIFY(main->Label14->isEnabled());
}

void TestCheckMail::emptyMailboxTouchesNeitherPictureNorSound()
{
    CheckMail(*main);
    QCOMPARE(main->Text1->text(), QStringLiteral("新着メール無し。"));
    QCOMPARE(main->Label2->text(), QStringLiteral("メールのチェックをしています。"));
    QVERIFY(main->Image3->isHidden());
    QVERIFY(!main->Display->isHidden());
    QVERIFY(!main->Label14->isEnabled()); // no sound started
    QCOMPARE(sound.started, 0);
    QVERIFY(folder->ui.shown.isEmpty());
    QCOMPARE(records(Store::Received).size(), 0);
}

void TestCheckMail::attachmentMarkerIsCaseSensitive()
{
    env.drop(message("with", "see the attachment below"));
    env.drop(message("capital", "see the Attachment below"));
    CheckMail(*main);
    const QList<Record> list = records(Store::Received);
    QCOMPARE(list.size(), 2);
    const QString notice = QStringLiteral("\r\n♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
    QVERIFY2(list[0].body.endsWith(notice), qPrintable(list[0].body));
    QVERIFY(!list[1].body.contains(QStringLiteral("♪")));
    QCOMPARE(main->Text1->text(), QStringLiteral("2の新着メール有り。"));

    QCOMPARE(sound.started, 1);

    // When the last message carries the marker, picture and sound run twice and the report
    // still ends with the count.
    sound.started = 0;
    env.drop(message("only", "an attachment"));
    CheckMail(*main);
    QCOMPARE(main->Text1->text(), QStringLiteral("1の新着メール有り。"));
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
    QCOMPARE(main->Text1->text(), QStringLiteral("1の新着メール有り。"));
    QTRY_VERIFY(dovecotLog().mid(before).contains(QStringLiteral("method=APOP")));
}

void TestCheckMail::unsavedPasswordIsNotUsed()
{
    QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME2"), QString()));
    env.drop(message("waiting", "x"));
    // Typed into the account window without the save box.
    auto* idPass = hm::window<IdPassForm>();
    idPass->PassText->setText(env.password);
    idPass->OKCommand_Click();
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
    QCOMPARE(hm::settings::account().UserPassword, env.password);

    CheckMail(*main);
    QVERIFY(hm::settings::account().UserPassword.isEmpty());
    auto* shown = hm::loadedWindow<IdPassForm>();
    QVERIFY(shown && shown->isVisible());
    QCOMPARE(shown->IdText->text(), env.user);
    QCOMPARE(main->Text1->text(), QStringLiteral("新着メール無し。"));
    QCOMPARE(env.messageFiles().size(), 1);
}

void TestCheckMail::loginErrorShowsTheLibraryText()
{
    saveAccount(env.user, QStringLiteral("wrong-password"));
    env.drop(message("waiting", "x"));
    CheckMail(*main);
    QCOMPARE(folder->ui.shown.size(), 1);
    QCOMPARE(folder->ui.shown[0].title, QStringLiteral("エラー"));
    QVERIFY(!folder->ui.shown[0].text.isEmpty());
    QCOMPARE(main->Text1->text(), QStringLiteral("新着メール無し。"));
    QCOMPARE(env.messageFiles().size(), 1);
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
    QVERIFY(main->Text1->text().contains(QStringLiteral("サーバーに残しました")));
}

void TestCheckMail::bodyTooLongForTheStoreIsKeptWhole()
{
    // 17,000 double-byte characters do not fit the 32,000-byte body field.
    const QByteArray longBody = QString(17000, QChar(0x3042)).toUtf8();
    env.drop(message("long", longBody));
    CheckMail(*main);
    const QList<Record> list = records(Store::Received);
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

void TestCheckMail::bodyWithCharactersTheStoreCannotHoldIsKeptWhole()
{
    env.drop(message("emoji", "今日は晴れ\xF0\x9F\x98\x80です"));
    env.drop(message("plain", "普通の本文"));
    CheckMail(*main);
    const QList<Record> list = records(Store::Received);
    QCOMPARE(list.size(), 2);
    QVERIFY(list[0].body.startsWith(QStringLiteral("今日は晴れ?です")));
    QVERIFY(list[0].body.contains(QStringLiteral(".eml")));
    QVERIFY(!list[1].body.contains(QStringLiteral(".eml")));
    const QStringList eml = QDir(folder->file(QStringLiteral("\\添付フォルダ"))).entryList({QStringLiteral("*.eml")});
    QCOMPARE(eml.size(), 1);
    QFile kept(folder->file(QStringLiteral("\\添付フォルダ\\") + eml[0]));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll().contains("\xF0\x9F\x98\x80"));
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
    QCOMPARE(main->Text1->text(), QStringLiteral("1の新着メール有り。"));
    QFile saved(folder->file(QStringLiteral("\\添付フォルダ\\data.bin")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("\x01\x02\x03payload", 10));
    const QList<Record> list = records(Store::Received);
    QCOMPARE(list.size(), 1);
    QVERIFY(list[0].body.startsWith(QStringLiteral("本文です")));
    QVERIFY(list[0].body.endsWith(QStringLiteral("♪♪♪")));
}

void TestCheckMail::demoSamplesArriveAsWritten()
{
    QProcess seed;
    seed.start(QStringLiteral("python3"),
               {hm::test::sourceDir() + QStringLiteral("/tests/servers/sample_mail.py"), env.maildir});
    QVERIFY(seed.waitForFinished(60000));
    QCOMPARE(seed.exitCode(), 0);
    CheckMail(*main);
    const QList<Record> list = records(Store::Received);
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].subject, QStringLiteral("ようこそ疾風メールへ"));
    QCOMPARE(list[0].from, QStringLiteral("受信者 <welcome@localhost>"));
    QCOMPARE(list[1].from, QStringLiteral("Tanaka <tanaka@localhost>"));
}

QTEST_MAIN(TestCheckMail)
#include "test_check_mail.moc"
