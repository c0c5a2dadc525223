#include "app/check_mail.h"
#include "app/main_form.h"
#include "common/ui_services.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "sound/module1.h"
#include "store/mail_store.h"
#include "tests/support/mail_error.h"
#include "tests/support/store_records.h"
#include "tests/support/counting_sound_device.h"
#include "tests/support/test_folder.h"
#include "tests/support/main_form_controls.h"
#include "tests/support/process_memory.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>

#include <memory>

using hm::test::statusLine;

using namespace hm::mail;

namespace {

// The misbehaving server of tests/servers, started for one scenario.
class HostileServer {
public:
    // Serves `messages` messages and misbehaves at number `at`.
    explicit HostileServer(const QString& scenario, int messages = 1, int at = 1)
    {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {qEnvironmentVariable("HM_SOURCE_DIR") + QStringLiteral("/tests/servers/hostile_pop3.py"), scenario,
                        QString::number(messages), QString::number(at)});
        if (process_.waitForReadyRead(10000))
            port_ = process_.readLine().trimmed().toInt();
    }
    ~HostileServer()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Every command the server received so far, in order (passwords masked).
    QStringList commands()
    {
        while (process_.waitForReadyRead(300))
            ;
        output_ += process_.readAllStandardOutput();
        return QString::fromLatin1(output_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    bool sawQuit() { return commands().contains(QStringLiteral("QUIT")); }
    int port() const { return port_; }

private:
    QProcess process_;
    QByteArray output_;
    int port_ = 0;
};

// The program as the receive command finds it: the scripted server in the server file, the
// account saved. Null when it could not be set up.
std::unique_ptr<MainForm> startProgram(hm::test::TestFolder& folder, const HostileServer& server)
{
    hm::settings::account() = {};
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=" + server.server().toUtf8() + "\r\n");
    auto main = std::make_unique<MainForm>();
    main->endProcess = [] {};
    if (!main->Form_Load() || !hm::settings::WriteAccountValue(QStringLiteral("NAME"), QStringLiteral("u"))
        || !hm::settings::WriteAccountValue(QStringLiteral("NAME2"), QStringLiteral("p")))
        return nullptr;
    return main;
}

struct Session {
    int handle = -1;
    int count = 0;
};

Session open(const HostileServer& server)
{
    Session s;
    s.handle = NMailPop3Connect(server.server());
    s.count = NMailPop3Authenticate(s.handle, QStringLiteral("u"), QStringLiteral("p"), 0);
    return s;
}

} // namespace

class TestMailHostileServer : public QObject {
    Q_OBJECT
    hm::test::CountingSoundDevice sound;
private Q_SLOTS:
    void initTestCase();
    void checkStopsAtTheFirstFailedCall_data();
    void checkStopsAtTheFirstFailedCall();
    void silentOrEndlessServersEndInAnError();
    void hangUpMidMessageBreaksTheSession();
    void stallMidMessageTimesOut();
    void sizesBeyondTheCapAreRefused();
    void refusedDeletionReportsTheServersReply();
    void nextCheckTrustsTheLedgerOnlyWhereItHolds_data();
    void nextCheckTrustsTheLedgerOnlyWhereItHolds();
    void keptMailNeedsIdsOfItsOwn_data();
    void keptMailNeedsIdsOfItsOwn();
};

void TestMailHostileServer::initTestCase()
{
    NMailInitializeWinSock();
    NMailSetOption(kOptionConnectTimeout, 3);
    NMailSetOption(kOptionIdleTimeout, 2);
    NMailSetOption(kOptionSlowTime, 2);
    hm::sound::setSoundDevice(&sound);
}

void TestMailHostileServer::checkStopsAtTheFirstFailedCall_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("at");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("boxSays");
    const QStringList login = {QStringLiteral("CAPA"), QStringLiteral("USER u"), QStringLiteral("PASS ***"),
                               QStringLiteral("LIST")};
    const QString app = hm::ui::programName();
    // With the APOP switch off, a greeting that offers APOP still gets USER and PASS. The next
    // message is downloaded while one is stored; each deletion follows its own message's store.
    QTest::newRow("apop-greeting")
        << "apop-greeting" << 0
        << login + QStringList{"RETR 1", "RETR 2", "DELE 1", "RETR 3", "DELE 2", "DELE 3", "QUIT"} << 3
        << "3の新着メール有り。" << QString() << QStringList();
    QTest::newRow("size over the cap")
        << "huge-list" << 2 << login + QStringList{"RETR 1", "RETR 3", "DELE 1", "DELE 3", "QUIT"} << 2
        << "3の新着メール有り。（2通を保存、1通はサーバーに残しました）" << app
        << QStringList{"1通: 大きすぎるため受信しませんでした（1024 MB 超）"};
    // Without QUIT the deletion of the message already stored is void: it is counted as staying.
    QTest::newRow("refused RETR")
        << "err-on-retr" << 2 << login + QStringList{"RETR 1", "RETR 2"} << 1
        << "3の新着メール有り。（1通を保存、3通はサーバーに残しました）" << "エラー"
        << QStringList{"message is locked", "1通: 最後まで受信できなかったため保存していません",
                       "1通: 受信を中止したため受信していません", "1通: 保存しましたが"};
    // A deletion's answer is read with the next reply: the message read meanwhile is stored.
    QTest::newRow("refused DELE")
        << "err-on-dele" << 1 << login + QStringList{"RETR 1", "RETR 2", "DELE 1"} << 2
        << "3の新着メール有り。（2通を保存、3通はサーバーに残しました）" << "エラー"
        << QStringList{"メール 1 の削除を受け付けませんでした", "mailbox is locked",
                       "1通: 受信を中止したため受信していません", "2通: 保存しましたが"};
    for (const char* size : {"", "big-"})
        QTest::newRow(qPrintable(QStringLiteral("hang-up mid-message%1").arg(*size ? ", a big one" : "")))
            << QString::fromLatin1(size) + "close-mid-message" << 1 << login + QStringList{"RETR 1"} << 0
            << "3の新着メール有り。（0通を保存、3通はサーバーに残しました）" << "エラー"
            << QStringList{"切れました", "1通: 最後まで受信できなかったため保存していません",
                           "2通: 受信を中止したため受信していません"};
    // A server that drips, or trickles on past the size it announced, is given up; nothing the
    // session deleted takes effect.
    const QStringList cutOff = {"1通: 最後まで受信できなかったため保存していません",
                                "1通: 受信を中止したため受信していません", "1通: 保存しましたが"};
    QTest::newRow("drip")
        << "drip" << 2 << login + QStringList{"RETR 1", "RETR 2"} << 1
        << "3の新着メール有り。（1通を保存、3通はサーバーに残しました）" << "エラー"
        << QStringList{"メール 2の受信が止まったか遅すぎるため、中止しました（2 秒間に 2048 バイト未満）"} + cutOff;
    QTest::newRow("endless trickle")
        << "endless-trickle" << 2 << login + QStringList{"RETR 1", "RETR 2"} << 1
        << "3の新着メール有り。（1通を保存、3通はサーバーに残しました）" << "エラー"
        << QStringList{"メール 2の受信が 7 秒たっても終わらないため、中止しました"} + cutOff;
    // The deletions take effect only when the server acknowledges QUIT.
    const QStringList allAsked = login + QStringList{"RETR 1", "RETR 2", "DELE 1", "RETR 3", "DELE 2", "DELE 3", "QUIT"};
    const QString stayed = "3通: 保存しましたが、サーバーが削除を確定しなかったためサーバーに残りました（次の受信でもう一度届きます）";
    QTest::newRow("refused QUIT")
        << "quit-refused" << 0 << allAsked << 3 << "3の新着メール有り。（3通を保存、3通はサーバーに残しました）"
        << "エラー" << QStringList{"QUIT", "cannot update the mailbox", stayed};
    QTest::newRow("unanswered QUIT")
        << "quit-unanswered" << 0 << allAsked << 3 << "3の新着メール有り。（3通を保存、3通はサーバーに残しました）"
        << "エラー" << QStringList{"QUIT", "切れました", stayed};
    // Asking again cannot help: the box says why.
    QTest::newRow("UIDL listing over the cap")
        << "uidl-huge-uidl" << 0 << login + QStringList{"UIDL"} << 0
        << "3の新着メール有り。（0通を保存、3通はサーバーに残しました）" << "エラー"
        << QStringList{"識別番号（UIDL）の一覧が大きすぎるため", "3通: 受信を中止したため受信していません"};
}

// The check against servers that fail in the middle, in the order it calls the library.
void TestMailHostileServer::checkStopsAtTheFirstFailedCall()
{
    QFETCH(QString, scenario);
    QFETCH(int, at);
    QFETCH(QStringList, commands);
    QFETCH(int, stored);
    QFETCH(QString, status);
    QFETCH(QString, title);
    QFETCH(QStringList, boxSays);

    HostileServer server(scenario, 3, at);
    QVERIFY(server.port() > 0);
    hm::test::TestFolder folder;
    const std::unique_ptr<MainForm> program = startProgram(folder, server);
    QVERIFY(program);
    MainForm& main = *program;
    sound.started = 0;

    QElapsedTimer timer;
    timer.start();
    hm::test::resetPeakMemory();
    const long before = hm::test::statusKilobytes("VmRSS:");
    CheckMail(main);
    QVERIFY(timer.elapsed() < 30000);
    // Whatever the server sends, the check holds no more than its caps allow, and reads no faster
    // than it checks them.
    const long grew = hm::test::statusKilobytes("VmHWM:") - before;
    QVERIFY2(grew < 64 * 1024, qPrintable(QStringLiteral("%1 kB above the start").arg(grew)));

    QCOMPARE(server.commands(), commands);
    QCOMPARE(hm::test::storedSubjects(hm::store::Store::Received), QStringList(stored, QStringLiteral("hostile")));
    // Nothing of a download is left behind, a big one's file included.
    QCOMPARE(QDir(folder.file(QStringLiteral("\\添付フォルダ"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(statusLine(main)->text(), status);
    // Picture and sound only for something new stored.
    QCOMPARE(!main.Image3->isHidden(), stored > 0);
    QCOMPARE(sound.started, stored > 0 ? 1 : 0);
    if (title.isEmpty()) {
        QCOMPARE(folder.ui.shown.size(), 0);
        return;
    }
    QCOMPARE(folder.ui.shown.size(), 1);
    QCOMPARE(folder.ui.shown[0].title, title);
    for (const QString& text : boxSays)
        QVERIFY2(folder.ui.shown[0].text.contains(text), qPrintable(folder.ui.shown[0].text));
}

void TestMailHostileServer::silentOrEndlessServersEndInAnError()
{
    for (const char* scenario : {"silent-greeting", "long-line"}) {
        HostileServer server(QString::fromLatin1(scenario));
        QVERIFY(server.port() > 0);
        QElapsedTimer timer;
        timer.start();
        const Session s = open(server);
        QVERIFY2(s.count < 0, scenario);
        QVERIFY2(timer.elapsed() < 30000, scenario);
        const QString error = hm::test::takeMailError();
        QVERIFY2(!error.isEmpty(), scenario);
        NMailPop3Close(s.handle);
    }
}

void TestMailHostileServer::hangUpMidMessageBreaksTheSession()
{
    HostileServer server(QStringLiteral("close-mid-message"));
    const Session s = open(server);
    QCOMPARE(s.count, 1);
    QString subject, date, from, header, body;
    QVERIFY(NMailPop3GetMail(s.handle, 1, subject, date, from, header, body, 0, 0) < 0);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("切れました")), qPrintable(error));
    QVERIFY(body.isEmpty());
    QVERIFY(NMailPop3LastRawMessage(s.handle).isEmpty());
    // No deletion may go to a new connection: the numbering of this one is gone.
    QVERIFY(NMailPop3DeleteMail(s.handle, 1) < 0);
    NMailPop3Close(s.handle);
}

void TestMailHostileServer::stallMidMessageTimesOut()
{
    HostileServer server(QStringLiteral("stall-mid-message"));
    const Session s = open(server);
    QCOMPARE(s.count, 1);
    QElapsedTimer timer;
    timer.start();
    QString subject, date, from, header, body;
    QVERIFY(NMailPop3GetMail(s.handle, 1, subject, date, from, header, body, 0, 0) < 0);
    QVERIFY(timer.elapsed() < 30000);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("止まったか遅すぎる")), qPrintable(error));
    NMailPop3Close(s.handle);
    QVERIFY(!server.sawQuit());
}

void TestMailHostileServer::sizesBeyondTheCapAreRefused()
{
    {
        // The server claims a size far beyond the cap: nothing is downloaded or allocated.
        HostileServer server(QStringLiteral("huge-list"));
        const Session s = open(server);
        QCOMPARE(s.count, 1);
        QCOMPARE(NMailPop3GetMailSize(s.handle, 1), kErrorTooLarge);
        QString subject, date, from, header, body;
        QCOMPARE(NMailPop3GetMail(s.handle, 1, subject, date, from, header, body, 0, 0), kErrorTooLarge);
        QVERIFY(subject.isEmpty());
        NMailPop3Close(s.handle);
    }
    {
        // The server claims 100 bytes and never stops sending: the download ends at the cap.
        HostileServer server(QStringLiteral("lying-size"));
        const Session s = open(server);
        QCOMPARE(NMailPop3GetMailSize(s.handle, 1), 100);
        QString subject, date, from, header, body;
        QCOMPARE(NMailPop3GetMail(s.handle, 1, subject, date, from, header, body, 0, 0), kErrorTooLarge);
        QVERIFY(body.isEmpty());
        const QString error = hm::test::takeMailError();
        QVERIFY(error.contains(QStringLiteral("上限")));
        NMailPop3Close(s.handle);
        // A broken-off download ends without QUIT: nothing this session deleted takes effect.
        QVERIFY(!server.sawQuit());
    }
}

void TestMailHostileServer::refusedDeletionReportsTheServersReply()
{
    HostileServer server(QStringLiteral("err-on-dele"));
    const Session s = open(server);
    QCOMPARE(s.count, 1);
    QString subject, date, from, header, body;
    QCOMPARE(NMailPop3GetMail(s.handle, 1, subject, date, from, header, body, 0, 0), 0);
    QCOMPARE(subject, QStringLiteral("hostile"));
    QVERIFY(body.startsWith(QLatin1String("line of text\r\n")));
    // The answer comes with the next command's, which the refusal then fails.
    QCOMPARE(NMailPop3DeleteMail(s.handle, 1), 0);
    QVERIFY(NMailPop3Reset(s.handle) < 0);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QLatin1String("mailbox is locked")), qPrintable(error));
    NMailPop3Close(s.handle);
    // A refused command must not end in QUIT, which would commit the session's deletions.
    QVERIFY(!server.sawQuit());
    // A session without trouble does end in QUIT.
    const Session clean = open(server);
    QCOMPARE(NMailPop3GetMail(clean.handle, 1, subject, date, from, header, body, 0, 0), 0);
    NMailPop3Close(clean.handle);
    QVERIFY(server.sawQuit());

    // APOP against a server whose greeting offers no timestamp is refused with a clear reason.
    const int handle = NMailPop3Connect(server.server());
    QVERIFY(NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), -1) < 0);
    error = hm::test::takeMailError();
    QVERIFY2(error.contains(QLatin1String("APOP")), qPrintable(error));
    NMailPop3Close(handle);
}

void TestMailHostileServer::nextCheckTrustsTheLedgerOnlyWhereItHolds_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("at");
    QTest::addColumn<bool>("historyDeletion");
    QTest::addColumn<QStringList>("first");
    QTest::addColumn<QString>("firstSays");
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<QString>("secondStatus");
    QTest::addColumn<QStringList>("stored");
    const QString nextTime = QStringLiteral("（次の受信でサーバーから削除します）");
    const QString broken = QStringLiteral("保存しましたが、サーバーとの接続が正常に終わらなかったため削除されていません") + nextTime;
    // A session that breaks after a message was stored leaves it on the server; the next check
    // deletes it without downloading or storing it again.
    QTest::newRow("cut off")
        << "uidl-err-on-retr" << 3 << 2 << false << QStringList{"RETR 1", "RETR 2"} << "1通: " + broken
        << QStringList{"DELE 1", "RETR 2"} << "3の新着メール有り。（1通を保存、3通はサーバーに残しました）"
        << QStringList{"mail 001-000"};
    // The user deleted a record stored before them: the records moved up, and are found.
    QTest::newRow("cut off, then an older record deleted")
        << "uidl-err-on-retr" << 3 << 3 << true << QStringList{"RETR 1", "RETR 2", "DELE 1", "RETR 3"} << "2通: " + broken
        << QStringList{"DELE 1", "RETR 3"} << "3の新着メール有り。（2通を保存、3通はサーバーに残しました）"
        << QStringList{"mail 001-000", "mail 002-000"};
    QTest::newRow("refused QUIT")
        << "uidl-quit-refused" << 1 << 0 << false << QStringList{"RETR 1", "DELE 1", "QUIT"}
        << "1通: 保存しましたが、サーバーが削除を確定しなかったためサーバーに残りました" + nextTime
        << QStringList{"DELE 1", "QUIT"} << "1の新着メール有り。" << QStringList{"mail 001-000"};
    // The server numbers its ids: after a QUIT, "msg-1" names new mail of the same size.
    QTest::newRow("ids handed out again")
        << "uidl-numbered" << 1 << 0 << false << QStringList{"RETR 1", "DELE 1", "QUIT"} << QString()
        << QStringList{"RETR 1", "DELE 1", "QUIT"} << "1の新着メール有り。"
        << QStringList{"mail 001-000", "mail 001-001"};
}

// What the second of two checks does with what the first left in the UIDL ledger.
void TestMailHostileServer::nextCheckTrustsTheLedgerOnlyWhereItHolds()
{
    QFETCH(QString, scenario);
    QFETCH(int, messages);
    QFETCH(int, at);
    QFETCH(bool, historyDeletion);
    QFETCH(QStringList, first);
    QFETCH(QString, firstSays);
    QFETCH(QStringList, second);
    QFETCH(QString, secondStatus);
    QFETCH(QStringList, stored);

    HostileServer server(scenario, messages, at);
    QVERIFY(server.port() > 0);
    hm::test::TestFolder folder;
    const std::unique_ptr<MainForm> program = startProgram(folder, server);
    QVERIFY(program);
    MainForm& main = *program;
    const QStringList login = {QStringLiteral("CAPA"), QStringLiteral("USER u"), QStringLiteral("PASS ***"),
                               QStringLiteral("LIST"), QStringLiteral("UIDL")};
    using hm::store::Store;
    if (historyDeletion)
        QVERIFY(hm::store::AppendRecord(Store::Received, 1, QStringLiteral("older"), QStringLiteral("a"),
                                        QStringLiteral("d"), QStringLiteral("b")));

    CheckMail(main);
    QCOMPARE(server.commands(), login + first);
    QCOMPARE(folder.ui.shown.size(), firstSays.isEmpty() ? 0 : 1);
    if (!firstSays.isEmpty())
        QVERIFY2(folder.ui.shown[0].text.contains(firstSays), qPrintable(folder.ui.shown[0].text));
    // What waits for the next check is in a plain file the owner alone can read.
    const QFileInfo ledger(folder.file(QStringLiteral("\\★MAilData\\hymuidl.txt")));
    QCOMPARE(ledger.exists() && ledger.size() > 0, firstSays.endsWith(QStringLiteral("（次の受信でサーバーから削除します）")));
    if (ledger.exists()) {
        QVERIFY(!ledger.isSymLink());
        QCOMPARE(int(ledger.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)), 0);
    }
    if (historyDeletion)
        QVERIFY(hm::store::DeleteRecord(Store::Received, 1));

    CheckMail(main);
    QCOMPARE(server.commands(), login + first + login + second);
    QStringList tags;
    for (const hm::test::StoredRecord& r : hm::test::storedRecords(Store::Received))
        tags << r.body.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).last();
    QCOMPARE(tags, stored);
    QCOMPARE(statusLine(main)->text(), secondStatus);
}

void TestMailHostileServer::keptMailNeedsIdsOfItsOwn_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("why");
    QTest::newRow("no UIDL") << "plain" << "メールの識別子（UIDL）を返さないため";
    QTest::newRow("ids that are the message numbers") << "uidl-bare-plain"
                                                      << "メールの識別子（UIDL）としてメールの番号しか返さないため";
}

// A server whose ids cannot tell its messages apart cannot keep mail: the check says so once and
// stores and deletes as it always did.
void TestMailHostileServer::keptMailNeedsIdsOfItsOwn()
{
    QFETCH(QString, scenario);
    QFETCH(QString, why);
    HostileServer server(scenario, 2);
    QVERIFY(server.port() > 0);
    hm::test::TestFolder folder;
    const std::unique_ptr<MainForm> program = startProgram(folder, server);
    QVERIFY(program);
    QVERIFY(hm::settings::WriteKeepOnServer({true, 0}));

    for (int check = 1; check <= 2; ++check) {
        CheckMail(*program);
        QCOMPARE(statusLine(*program)->text(), QStringLiteral("2の新着メール有り。"));
        const QStringList commands = server.commands();
        QCOMPARE(commands.count(QStringLiteral("DELE 1")), check);
        QCOMPARE(commands.count(QStringLiteral("DELE 2")), check);
        QCOMPARE(commands.count(QStringLiteral("QUIT")), check);
        // After a QUIT the server hands out new mail under the numbers deleted.
        QStringList tags;
        for (const hm::test::StoredRecord& r : hm::test::storedRecords(hm::store::Store::Received))
            tags << r.body.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).last();
        QCOMPARE(tags, QStringList({"mail 001-000", "mail 002-000", "mail 001-001", "mail 002-001"}).mid(0, 2 * check));
        QCOMPARE(folder.ui.shown.size(), 1);
    }
    QVERIFY2(folder.ui.shown[0].text.contains(why) && folder.ui.shown[0].text.contains(QStringLiteral("「サーバーにメールを残す」を使えません")),
             qPrintable(folder.ui.shown[0].text));
}

QTEST_MAIN(TestMailHostileServer)
#include "test_mail_hostile_server.moc"
