#include "app/check_mail.h"
#include "app/command_label.h"
#include "app/main_form.h"
#include "common/window_registry.h"
#include "history/history_mode.h"
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
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>

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

QByteArray single(const QByteArray& subject, const QByteArray& contentType, const QByteArray& body,
                  const QByteArray& encoding = "8bit")
{
    return "From: sender@localhost\r\nTo: test@localhost\r\nSubject: " + subject + "\r\nMIME-Version: 1.0\r\n"
           "Content-Type: " + contentType + "\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n" + body + "\r\n";
}

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
    void attachmentMarkerIsCaseSensitive();
    void apopFlagTwoLogsInWithApop();
    void unsavedPasswordIsNotUsed();
    void loginErrorShowsTheLibraryText();
    void unwritableStoreLeavesEveryMessageOnTheServer();
    void bodyTooLongForTheStoreIsKeptWhole();
    void mixedMailboxIsStoredReadablyAndWhole();
    void secondReceiveClickDuringACheckIsIgnored();
    void attachmentsAreExtracted();
    void demoSamplesArriveAsWritten();
    void ledgerSparesOnlyMessagesWhoseRecordIsInTheStore();
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
    QVERIFY(!main->Text2->text().isEmpty()); // a send right after the check still has its date
    QVERIFY(folder->ui.shown.isEmpty());
    QVERIFY(!QFile::exists(folder->file(QStringLiteral("\\添付フォルダ\\0.txt"))));
    QCOMPARE(sound.started, 1);
    QVERIFY(main->Label14->isEnabled());
}

void TestCheckMail::emptyMailboxTouchesNeitherPictureNorSound()
{
    // A file that happens to have the scratch file's name, an attachment of an earlier check.
    folder->write(QStringLiteral("\\添付フォルダ\\0.txt"), "kept");
    CheckMail(*main);
    QVERIFY(QFile::exists(folder->file(QStringLiteral("\\添付フォルダ\\0.txt"))));
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
    // Nothing was checked: the status says why rather than "no new mail".
    QCOMPARE(main->Text1->text(), QStringLiteral("IDとパスワードが保存されていません。"));
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

// What real-world mail looks like in the store: HTML as readable text, a lone file in the
// attachment folder, Windows forms of CP932 kept as they are, and a whole copy only where the
// store truly cannot hold the text.
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
    env.drop(single("emoji", "text/plain; charset=UTF-8", "今日は晴れ\xF0\x9F\x98\x80です"));

    CheckMail(*main);

    QCOMPARE(main->Text1->text(), QStringLiteral("5の新着メール有り。"));
    QVERIFY(folder->ui.shown.isEmpty());
    const QList<Record> list = records(Store::Received);
    QCOMPARE(list.size(), 5);
    QCOMPARE(list[0].body, QStringLiteral("今月&News\r\nline one\r\nline two <b>\r\nrow1\r\nrow2\r\n\r\nitem A\r\nitem B"));
    QCOMPARE(list[1].body, QString());
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\scan.pdf")), pdf);
    // CP932 holds these in their Windows form; the no-break space is a space in the editor.
    QCOMPARE(list[2].body, QStringLiteral("波～マイナス－ダッシュ―双柱∥￠￡￢空白 終\r\n"));
    const QString note = QStringLiteral("に元のまま保存しました。】");
    QVERIFY2(list[3].body.startsWith(QStringLiteral("前半\r\n\r\n【")) && list[3].body.endsWith(note), list[3].body.toUtf8().constData());
    QVERIFY2(list[4].body.startsWith(QStringLiteral("今日は晴れ?です")) && list[4].body.endsWith(note), qPrintable(list[4].body));
    const QStringList eml = QDir(folder->file(QStringLiteral("\\添付フォルダ"))).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    QCOMPARE(eml.size(), 2);
    QVERIFY(list[3].body.contains(eml[0]) && list[4].body.contains(eml[1]));
    QVERIFY(folder->read(QStringLiteral("\\添付フォルダ\\") + eml[0]).contains(QByteArray("前半\0後半", 13).toBase64()));
    QVERIFY(folder->read(QStringLiteral("\\添付フォルダ\\") + eml[1]).contains("\xF0\x9F\x98\x80"));
    QVERIFY(env.messageFiles().isEmpty());
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
                receiveDisabled = !main_->Label8->isEnabled();
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
    main->Label8->installEventFilter(&posted);
    // Two clicks queued together: the second waits while the first one's check blocks.
    for (int click = 0; click < 2; ++click)
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(main->Label8, new QMouseEvent(type, QPointF(5, 5), main->Label8->mapToGlobal(QPointF(5, 5)),
                                                                      Qt::LeftButton, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                                      Qt::NoModifier));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(records(Store::Received).size(), 1);
    // A second check would have reported "新着メール無し。" over the first one's result.
    QCOMPARE(main->Text1->text(), QStringLiteral("1の新着メール有り。"));
    // Meanwhile the window served pending work and showed receive as unavailable.
    QVERIFY(posted.served);
    QVERIFY(posted.receiveDisabled);
    QVERIFY(main->Label8->isEnabled());
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

    // A file of megabytes is written as it is decoded, whole; the text is found all the same.
    QByteArray big(6 * 1024 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 7919) >> 5);
    QByteArray withBig = raw;
    withBig.replace("data.bin", "big.bin").replace(QByteArray("\x01\x02\x03payload", 10).toBase64(), big.toBase64());
    env.drop(withBig);
    CheckMail(*main);
    QCOMPARE(folder->read(QStringLiteral("\\添付フォルダ\\big.bin")), big);
    const QList<Record> after = records(Store::Received);
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
    const QList<Record> list = records(Store::Received);
    QCOMPARE(list.size(), 3);
    QCOMPARE(list[0].subject, QStringLiteral("ようこそ疾風メールへ"));
    QCOMPARE(list[0].from, QStringLiteral("受信者 <welcome@localhost>"));
    QCOMPARE(list[1].from, QStringLiteral("Tanaka <tanaka@localhost>"));
}

// What an interrupted check leaves in the ledger: a line whose record is in the store spares its
// message a second copy; a line whose record is not there (a power loss took it) is not trusted;
// lines of messages gone from the server are dropped.
void TestCheckMail::ledgerSparesOnlyMessagesWhoseRecordIsInTheStore()
{
    using namespace hm::mail;
    env.drop(message("stored before", "x"));
    env.drop(message("record lost", "y"));
    env.drop(message("new", "z"));
    QByteArrayList uidls;
    const int handle = NMailPop3Connect(env.pop3Server());
    QCOMPARE(NMailPop3Authenticate(handle, env.user, env.password, 0), 3);
    for (int n = 1; n <= 3; ++n) {
        QString uidl;
        QCOMPARE(NMailPop3GetUidl(handle, n, uidl), 0);
        uidls << uidl.toLatin1();
    }
    NMailPop3Close(handle);
    QVERIFY(hm::store::AppendRecord(Store::Received, 1, QStringLiteral("stored before"), QStringLiteral("a"),
                                    QStringLiteral("d"), QStringLiteral("x")));
    const QByteArray sum = hm::store::RecordChecksum(Store::Received, 1);
    const QString ledger = QStringLiteral("\\★MAilData\\hymuidl.txt");
    folder->write(ledger, uidls[0] + " 1 " + sum + "\n" + uidls[1] + " 2 " + sum + "\ngone 1 " + sum + "\n");

    CheckMail(*main);

    QStringList subjects;
    for (const Record& r : records(Store::Received))
        subjects << r.subject;
    QCOMPARE(subjects, QStringList({"stored before", "record lost", "new"}));
    QVERIFY(env.messageFiles().isEmpty());
    QCOMPARE(main->Text1->text(), QStringLiteral("3の新着メール有り。"));
    QVERIFY(folder->ui.shown.isEmpty());
    QVERIFY(!folder->read(ledger).contains("gone"));
}

QTEST_MAIN(TestCheckMail)
#include "test_check_mail.moc"
