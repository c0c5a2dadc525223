#include "mail/nmail.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace hm::mail;

namespace {

QString errorText()
{
    QString text;
    int size = 0;
    NMailGetMessage(0, text, size);
    return text;
}

// The misbehaving server of tests/servers, started for one scenario.
class HostileServer {
public:
    explicit HostileServer(const QString& scenario)
    {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {qEnvironmentVariable("HM_SOURCE_DIR") + QStringLiteral("/tests/servers/hostile_pop3.py"), scenario});
        if (process_.waitForReadyRead(10000))
            port_ = process_.readLine().trimmed().toInt();
    }
    ~HostileServer()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Whether the server has been sent QUIT so far.
    bool sawQuit()
    {
        process_.waitForReadyRead(1000);
        output_ += process_.readAllStandardOutput();
        return output_.contains("QUIT");
    }
    int port() const { return port_; }

private:
    QProcess process_;
    QByteArray output_;
    int port_ = 0;
};

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
private Q_SLOTS:
    void initTestCase();
    void silentOrEndlessServersEndInAnError();
    void hangUpMidMessageBreaksTheSession();
    void stallMidMessageTimesOut();
    void sizesBeyondTheCapAreRefused();
    void refusedDeletionReportsTheServersReply();
};

void TestMailHostileServer::initTestCase()
{
    NMailInitializeWinSock();
    NMailSetOption(kOptionConnectTimeout, 3);
    NMailSetOption(kOptionIdleTimeout, 2);
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
        QVERIFY2(!errorText().isEmpty(), scenario);
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
    QVERIFY2(errorText().contains(QStringLiteral("切れました")), qPrintable(errorText()));
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
    QVERIFY2(errorText().contains(QStringLiteral("タイムアウト")), qPrintable(errorText()));
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
        QVERIFY(errorText().contains(QStringLiteral("上限")));
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
    QVERIFY(NMailPop3DeleteMail(s.handle, 1) < 0);
    QVERIFY2(errorText().contains(QLatin1String("mailbox is locked")), qPrintable(errorText()));
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
    QVERIFY2(errorText().contains(QLatin1String("APOP")), qPrintable(errorText()));
    NMailPop3Close(handle);
}

QTEST_GUILESS_MAIN(TestMailHostileServer)
#include "test_mail_hostile_server.moc"
