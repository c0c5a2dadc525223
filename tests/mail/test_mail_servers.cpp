#include "mail/nmail.h"
#include "mail/smtp_session.h"
#include "tests/support/mail_error.h"
#include "tests/support/test_folder.h"
#include "tests/servers/mail_server_env.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hm::mail;

namespace {

QByteArray plainMessage(const QByteArray& subject, const QByteArray& body = "body\r\n")
{
    return "From: tester@localhost\r\nTo: hayate@localhost\r\nSubject: " + subject
           + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
             "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + body;
}

struct Fetched {
    QString subject, date, from, header, body;
};

Fetched fetch(int handle, int number)
{
    Fetched f;
    NMailPop3GetMail(handle, number, f.subject, f.date, f.from, f.header, f.body, 0, 0);
    return f;
}

// An address of this machine other than loopback, or an empty string when it has none.
QString outsideAddress()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    QString found;
    for (ifaddrs* i = list; i && found.isEmpty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_UP))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        found = QString::fromLatin1(text);
    }
    freeifaddrs(list);
    return found;
}

// A second Dovecot/aiosmtpd pair with no TLS at all, on every address of this machine (no Postfix).
class PlainServers {
public:
    explicit PlainServers(int smtpIdleTimeout = 300)
    {
        script_ = qEnvironmentVariable("HM_SOURCE_DIR") + QStringLiteral("/scripts/mail-servers");
        QProcess start;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("HM_MAIL_LISTEN"), QStringLiteral("*"));
        e.insert(QStringLiteral("HM_MAIL_TLS"), QStringLiteral("no"));
        e.insert(QStringLiteral("HM_SMTP_IDLE_TIMEOUT"), QString::number(smtpIdleTimeout));
        e.insert(QStringLiteral("HM_MAIL_POSTFIX"), QStringLiteral("no"));
        start.setProcessEnvironment(e);
        start.start(script_, {QStringLiteral("start"), dir_.path()});
        if (start.waitForFinished(120000) && start.exitCode() == 0)
            env = hm::test::MailServerEnv::load(dir_.path());
    }
    ~PlainServers() { QProcess::execute(script_, {QStringLiteral("stop"), dir_.path()}); }
    hm::test::MailServerEnv env;

private:
    QTemporaryDir dir_;
    QString script_;
};

} // namespace

// Postfix runs only as root; as root the fixture must have started it.
#define REQUIRE_POSTFIX(postfix)                                                                   \
    if ((postfix) && env.postfixPort == 0) {                                                       \
        if (geteuid() != 0)                                                                        \
            QSKIP("Postfix runs only as root");                                                    \
        QFAIL("the mail_servers fixture started no Postfix (scripts/install-deps installs it)");   \
    }

class TestMailServers : public QObject {
    Q_OBJECT
private:
    hm::test::MailServerEnv env;

    int login(int apop = 0, const QString& password = QString())
    {
        const int handle = NMailPop3Connect(env.pop3Server());
        if (handle < 0)
            return handle;
        const int count = NMailPop3Authenticate(handle, env.user, password.isNull() ? env.password : password, apop);
        if (count < 0) {
            NMailPop3Close(handle);
            return -1000 + count;
        }
        return handle;
    }

    int countWaiting()
    {
        const int handle = NMailPop3Connect(env.pop3Server());
        const int count = NMailPop3Authenticate(handle, env.user, env.password, 0);
        NMailPop3Close(handle);
        return count;
    }

private Q_SLOTS:
    void initTestCase();
    void init();
    void japaneseMessageWithAttachmentRoundTrips_data();
    void japaneseMessageWithAttachmentRoundTrips();
    void deletionTakesEffectOnlyAtQuit();
    void numbersStayStableAfterDeletion();
    void wrongPasswordIsRefusedWithTheServersReply();
    void unreachableServersAreNamed();
    void tlsIsVerifiedOnBothPorts();
    void smtpAuthUsesTheSavedCredentials();
    void accessTokenLogsIn_data();
    void accessTokenLogsIn();
    void passwordsGoInTheClearOnlyWhereAllowed();
    void keptConnectionDroppedByTheServerIsReopened();
    void sendRefusesBadInputAndSendsNothing();
    void lineBreaksInTheSubjectInjectNoHeader();
    void severalRecipientsGetOneMessage();
    void messagesArriveWholeOrNotAtAll_data();
    void messagesArriveWholeOrNotAtAll();
    void oversizedMessageIsRefusedAndKept();
    void headerOnlyAndEmptyMessagesArrive();
    void linesThatBeginWithADotArriveAsWritten();
};

void TestMailServers::initTestCase()
{
    env = hm::test::MailServerEnv::load();
    QVERIFY2(env.valid, "the mail_servers fixture did not write its env file");
    NMailInitializeWinSock();
    NMailSetOption(kOptionIdleTimeout, 20);
}

void TestMailServers::init()
{
    env.clearMailbox();
    NMailSetSmtpCredentials(QString(), QString());
    NMailSetAccessToken(QString());
}

void TestMailServers::japaneseMessageWithAttachmentRoundTrips_data()
{
    QTest::addColumn<bool>("postfix");
    QTest::newRow("aiosmtpd") << false;
    QTest::newRow("Postfix, which offers pipelining") << true;
}

void TestMailServers::japaneseMessageWithAttachmentRoundTrips()
{
    QFETCH(bool, postfix);
    REQUIRE_POSTFIX(postfix);
    const QString starttlsServer = postfix ? env.postfixServer() : env.smtpServer();
    const QString tlsServer = postfix ? env.postfixSmtpsServer() : env.smtpsServer();
    QTemporaryDir work;
    const QString subject = QStringLiteral("週末の写真 ①㈱ ｶﾀｶﾅ and ASCII");
    const QString body = QStringLiteral("こんにちは。\r\n写真を送ります。Ⅱ号館で会いましょう。\r\n");
    QByteArray bytes(70000, Qt::Uninitialized);
    for (auto& b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    const QString attachmentName = QStringLiteral("旅行 ① 写真.bin");
    const QString attachmentPath = work.filePath(attachmentName);
    hm::test::writeFile(attachmentPath, bytes);
    // The plain port with STARTTLS, as a typed "host:port" gives it.
    QCOMPARE(NMailSmtpSendMail(starttlsServer, QStringLiteral("疾風 <hayate@localhost>"), QString(), QString(),
                               QStringLiteral("sender@localhost"), subject, body, QString(), attachmentPath, 0),
             0);
    // Postfix delivers after it has answered.
    QTRY_COMPARE(env.messageFiles().size(), 1);

    for (const int apop : {0, -1}) {
        const int handle = login(apop);
        QVERIFY2(handle > 0, qPrintable(hm::test::takeMailError()));
        const Fetched f = fetch(handle, 1);
        QCOMPARE(f.subject, subject);
        QCOMPARE(f.from, QStringLiteral("sender@localhost"));
        QVERIFY(!f.date.isEmpty());
        QVERIFY(f.header.contains(QLatin1String("Message-ID:"), Qt::CaseInsensitive));
        QVERIFY(f.body.contains(QLatin1String("attachment")));
        QVERIFY(NMailPop3GetMailSize(handle, 1) > bytes.size());

        QTemporaryDir folder;
        QString s = f.subject, d = f.date, fr = f.from, h = f.header, b = f.body;
        const QString whole = h + QStringLiteral("\r\n") + b;
        QCOMPARE(NMailAttachmentFileFirst(0, s, d, fr, h, b, folder.path() + QLatin1Char('/'),
                                          folder.filePath(QStringLiteral("0.txt")), whole, 0),
                 1);
        NMailAttachmentFileClose(0);
        QCOMPARE(b, body);
        QFile saved(folder.filePath(attachmentName));
        QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(QDir(folder.path()).entryList().join(QLatin1Char('|'))));
        QCOMPARE(saved.readAll(), bytes);
        const QByteArray raw = NMailPop3LastRawMessage(handle);
        for (const char* part : {"\r\nMIME-Version: 1.0\r\n", "\r\nDate: ", "\r\nMessage-Id: <",
                                 "Content-Type: text/plain; charset=utf-8", "Content-Disposition: attachment",
                                 "filename*=utf-8''", "Content-Transfer-Encoding: base64"})
            QVERIFY2(raw.toLower().contains(QByteArray(part).toLower()), part);
        QVERIFY(!raw.contains("\n\n"));
        NMailPop3Close(handle);
    }
    // The same over implicit TLS on both sides.
    env.clearMailbox();
    QCOMPARE(NMailSmtpSendMail(tlsServer, QStringLiteral("hayate@localhost"), QString(), QString(),
                               QStringLiteral("sender@localhost"), subject, body, QString(), QString(), 0),
             0);
    QTRY_COMPARE(env.messageFiles().size(), 1);
    const int handle = NMailPop3Connect(env.pop3sServer());
    QCOMPARE(NMailPop3Authenticate(handle, env.user, env.password, 0), 1);
    const Fetched f = fetch(handle, 1);
    QCOMPARE(f.subject, subject);
    QCOMPARE(f.body, body);
    NMailPop3Close(handle);
}

void TestMailServers::deletionTakesEffectOnlyAtQuit()
{
    env.drop(plainMessage("first"));
    env.drop(plainMessage("second"));
    QCOMPARE(countWaiting(), 2);

    // A session that dies before QUIT deletes nothing.
    const pid_t child = fork();
    if (child == 0) {
        const int handle = NMailPop3Connect(env.pop3Server());
        const bool ok = NMailPop3Authenticate(handle, env.user, env.password, 0) == 2
                        && NMailPop3DeleteMail(handle, 1) == 0 && NMailPop3DeleteMail(handle, 2) == 0;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QCOMPARE(countWaiting(), 2);

    // RSET takes back a deletion.
    int handle = login();
    QVERIFY(handle > 0);
    QCOMPARE(NMailPop3DeleteMail(handle, 1), 0);
    QCOMPARE(NMailPop3Reset(handle), 0);
    NMailPop3Close(handle);
    QCOMPARE(countWaiting(), 2);

    // A reset that the broken session cannot make still voids its deletions.
    handle = login();
    QCOMPARE(NMailPop3DeleteMail(handle, 1), 0);
    // The server refuses the second: its answer, read with the reset's, breaks the session.
    QCOMPARE(NMailPop3DeleteMail(handle, 1), 0);
    QVERIFY(NMailPop3Reset(handle) < 0);
    QVERIFY(hm::test::takeMailError().contains(QStringLiteral("メール 1 の削除を受け付けませんでした")));
    QCOMPARE(NMailPop3Quit(handle), kErrorFailed); // nor does a QUIT sent ahead go out
    NMailPop3Close(handle);
    QCOMPARE(countWaiting(), 2);

    // A QUIT sent ahead goes out at once: the server deletes before the close reads its +OK,
    // and the close sends no second one.
    handle = login();
    QCOMPARE(NMailPop3DeleteMail(handle, 1), 0);
    QCOMPARE(NMailPop3Quit(handle), 0);
    QTRY_COMPARE(countWaiting(), 1);
    QCOMPARE(NMailPop3Close(handle), 0);
    handle = login();
    QCOMPARE(fetch(handle, 1).subject, QStringLiteral("second"));
    NMailPop3Close(handle);
    QCOMPARE(countWaiting(), 1);
}

void TestMailServers::numbersStayStableAfterDeletion()
{
    env.drop(plainMessage("one"));
    env.drop(plainMessage("two"));
    env.drop(plainMessage("three"));
    const int handle = login();
    QVERIFY(handle > 0);
    QStringList subjects;
    for (int n = 1; n <= 3; ++n) {
        subjects << fetch(handle, n).subject;
        QCOMPARE(NMailPop3DeleteMail(handle, n), 0);
    }
    subjects.sort();
    QCOMPARE(subjects, (QStringList{QStringLiteral("one"), QStringLiteral("three"), QStringLiteral("two")}));
    // A number past the count is an error, not another message.
    QString s, d, f, h;
    QVERIFY(NMailPop3GetMailStatus(handle, 4, s, d, f, h, 0) < 0);
    QVERIFY(NMailPop3DeleteMail(handle, 0) < 0);
    NMailPop3Close(handle);
    QCOMPARE(countWaiting(), 0);
}

void TestMailServers::wrongPasswordIsRefusedWithTheServersReply()
{
    env.drop(plainMessage("kept"));
    for (const int apop : {0, -1}) {
        const int handle = NMailPop3Connect(env.pop3Server());
        QVERIFY(handle > 0);
        const int count = NMailPop3Authenticate(handle, env.user, QStringLiteral("wrong"), apop);
        QCOMPARE(count, kErrorLogin);
        const QString text = hm::test::takeMailError();
        QVERIFY2(text.contains(QStringLiteral("ログインできません")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("-ERR")), qPrintable(text));
        // The session is unusable, not silently reconnected.
        QVERIFY(NMailPop3DeleteMail(handle, 1) < 0);
        NMailPop3Close(handle);
    }
    QCOMPARE(countWaiting(), 1);
}

void TestMailServers::unreachableServersAreNamed()
{
    const int closedPort = hm::test::unusedLoopbackPort();
    QVERIFY(closedPort > 0);
    int handle = NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(closedPort));
    QVERIFY(handle > 0);
    QVERIFY(NMailPop3Authenticate(handle, env.user, env.password, 0) < 0);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("拒否")), qPrintable(error));
    NMailPop3Close(handle);

    handle = NMailPop3Connect(QStringLiteral("no-such-host.invalid"));
    QVERIFY(NMailPop3Authenticate(handle, env.user, env.password, 0) < 0);
    error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("見つかりません")), qPrintable(error));
    NMailPop3Close(handle);

    QVERIFY(NMailSmtpSendMail(QStringLiteral("127.0.0.1:%1").arg(closedPort), QStringLiteral("a@localhost"),
                              QString(), QString(), QStringLiteral("b@localhost"), QStringLiteral("s"),
                              QStringLiteral("b"), QString(), QString(), 0)
            < 0);
    error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("拒否")), qPrintable(error));

    QCOMPARE(NMailPop3Connect(QStringLiteral("imap://host")), -1);
    QCOMPARE(NMailPop3Connect(QStringLiteral("host:99999")), -1);
    QCOMPARE(NMailPop3Connect(QString()), -1);
}

void TestMailServers::tlsIsVerifiedOnBothPorts()
{
    env.drop(plainMessage("secret"));
    const QByteArray trusted = qgetenv("SSL_CERT_FILE");
    // The system store alone does not know the fixture's CA: neither implicit TLS nor
    // STARTTLS on the plain port may go on without it.
    qunsetenv("SSL_CERT_FILE");
    for (const QString& server : {env.pop3sServer(), env.pop3Server()}) {
        const int handle = NMailPop3Connect(server);
        QVERIFY(NMailPop3Authenticate(handle, env.user, env.password, 0) < 0);
        const QString error = hm::test::takeMailError();
        QVERIFY2(error.contains(QStringLiteral("証明書")), qPrintable(server + error));
        NMailPop3Close(handle);
    }
    QVERIFY(NMailSmtpSendMail(env.smtpServer(), QStringLiteral("a@localhost"), QString(), QString(),
                              QStringLiteral("b@localhost"), QStringLiteral("s"), QStringLiteral("b"), QString(),
                              QString(), 0)
            < 0);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("証明書")), qPrintable(error));
    qputenv("SSL_CERT_FILE", trusted);
    QCOMPARE(env.messageFiles().size(), 1);
    const int handle = NMailPop3Connect(env.pop3sServer());
    QCOMPARE(NMailPop3Authenticate(handle, env.user, env.password, 0), 1);
    NMailPop3Close(handle);
}

void TestMailServers::smtpAuthUsesTheSavedCredentials()
{
    auto send = [&] {
        return NMailSmtpSendMail(env.smtpServer(), QStringLiteral("hayate@localhost"), QString(), QString(),
                                 QStringLiteral("me@localhost"), QStringLiteral("auth"), QStringLiteral("b"),
                                 QString(), QString(), 0);
    };
    NMailSetSmtpCredentials(env.user, QStringLiteral("not-the-password"));
    QVERIFY(send() < 0);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QLatin1String("535")), qPrintable(error));
    QCOMPARE(env.messageFiles().size(), 0);
    NMailSetSmtpCredentials(env.user, env.password);
    QCOMPARE(send(), 0);
    QCOMPARE(env.messageFiles().size(), 1);

    // Within a session the sends share one connection (logged in once); after it, a new one.
    const qsizetype before = env.smtpClientPorts().size();
    NMailSmtpBeginSession();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(send(), 0);
    NMailSmtpEndSession();
    QCOMPARE(send(), 0);
    QCOMPARE(env.messageFiles().size(), 5);
    QCOMPARE(env.smtpClientPorts().size(), before + 2);
}

void TestMailServers::accessTokenLogsIn_data()
{
    QTest::addColumn<QString>("token"); // "issue": a fresh one; "expire": one issued, then expired
    QTest::newRow("valid") << QStringLiteral("issue");
    QTest::newRow("expired") << QStringLiteral("expire");
    QTest::newRow("never issued") << QStringLiteral("never-issued");
}

// A token logs in to POP3 and SMTP in place of the password; a refused one changes nothing and
// asks for a new sign-in.
void TestMailServers::accessTokenLogsIn()
{
    QFETCH(QString, token);
    const bool valid = token == QLatin1String("issue");
    if (token != QLatin1String("never-issued")) {
        const QString issued = env.authControl(QStringLiteral("issue")).value(QStringLiteral("access_token")).toString();
        QVERIFY2(!issued.isEmpty(), "the authorization server issued no token");
        if (!valid)
            QVERIFY(!env.authControl(QStringLiteral("expire")).isEmpty());
        token = issued;
    }
    env.drop(plainMessage("waiting"));
    NMailSetAccessToken(token);
    const auto forget = qScopeGuard([] { NMailSetAccessToken(QString()); });
    // The password is not used: only the token can have logged in.
    const int handle = login(0, QStringLiteral("not-the-password"));
    if (valid) {
        QVERIFY2(handle > 0, qPrintable(hm::test::takeMailError()));
        QCOMPARE(fetch(handle, 1).subject, QStringLiteral("waiting"));
        NMailPop3Close(handle);
    } else {
        QCOMPARE(handle, -1000 + kErrorLogin);
        const QString text = hm::test::takeMailError();
        QVERIFY2(text.contains(QStringLiteral("もう一度サインインして下さい")), qPrintable(text));
    }

    NMailSetSmtpCredentials(env.user, QString());
    const int sent = NMailSmtpSendMail(env.smtpServer(), QStringLiteral("hayate@localhost"), QString(), QString(),
                                       QStringLiteral("me@localhost"), QStringLiteral("token"), QStringLiteral("b"),
                                       QString(), QString(), 0);
    if (valid) {
        QCOMPARE(sent, 0);
        QCOMPARE(env.messageFiles().size(), 2);
        QFile log(env.logDir + QStringLiteral("/smtp.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("auth OAUTHBEARER ok"));
        return;
    }
    QVERIFY(sent < 0);
    const QString text = hm::test::takeMailError();
    QVERIFY2(text.contains(QStringLiteral("もう一度サインインして下さい")), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("535")), qPrintable(text));
    NMailSetAccessToken(QString());
    QCOMPARE(env.messageFiles().size(), 1);
    QCOMPARE(countWaiting(), 1);
}

void TestMailServers::passwordsGoInTheClearOnlyWhereAllowed()
{
    const QString outside = outsideAddress();
    if (outside.isEmpty())
        QSKIP("this machine has no address beside loopback");
    PlainServers plain;
    QVERIFY2(plain.env.valid, "the plain-text servers did not start");
    const QString pop3Port = QString::number(plain.env.pop3Port), smtpPort = QString::number(plain.env.smtpPort);
    const QString forOutsidePop3 = QStringLiteral("pop3://%1:%2").arg(outside, pop3Port);
    const QString forOutsideSmtp = QStringLiteral("smtp://%1:%2").arg(outside, smtpPort);
    plain.env.drop(plainMessage("waiting"));

    // server as written, APOP, whether the login goes ahead
    const struct { QString server; int apop; bool allowed; } pop3Cases[] = {
        {outside + QLatin1Char(':') + pop3Port, 0, false},
        {outside + QLatin1Char(':') + pop3Port, -1, true},
        {forOutsidePop3, 0, true},
        {QStringLiteral("127.0.0.1:") + pop3Port, 0, true},
        {QStringLiteral("localhost:") + pop3Port, 0, true},
    };
    for (const auto& c : pop3Cases) {
        const int handle = NMailPop3Connect(c.server);
        const int count = NMailPop3Authenticate(handle, plain.env.user, plain.env.password, c.apop);
        const QString text = hm::test::takeMailError();
        NMailPop3Close(handle);
        QVERIFY2((count == 1) == c.allowed, qPrintable(c.server + QLatin1Char(' ') + text));
        if (!c.allowed)
            QVERIFY2(text.contains(QStringLiteral("盗み見")) && text.contains(forOutsidePop3), qPrintable(text));
    }

    // server as written, credentials saved, whether the message goes out
    const struct { QString server; bool credentials; bool allowed; } smtpCases[] = {
        {outside + QLatin1Char(':') + smtpPort, true, false},
        {outside + QLatin1Char(':') + smtpPort, false, true},
        {forOutsideSmtp, true, true},
        {QStringLiteral("127.0.0.1:") + smtpPort, true, true},
    };
    int delivered = 1;
    for (const auto& c : smtpCases) {
        NMailSetSmtpCredentials(c.credentials ? plain.env.user : QString(), plain.env.password);
        const int result = NMailSmtpSendMail(c.server, QStringLiteral("hayate@localhost"), QString(), QString(),
                                             QStringLiteral("me@localhost"), QStringLiteral("s"), QStringLiteral("b"),
                                             QString(), QString(), 0);
        const QString text = hm::test::takeMailError();
        QVERIFY2((result == 0) == c.allowed, qPrintable(c.server + QLatin1Char(' ') + text));
        delivered += c.allowed ? 1 : 0;
        QCOMPARE(plain.env.messageFiles().size(), delivered);
        if (!c.allowed)
            QVERIFY2(text.contains(QStringLiteral("盗み見")) && text.contains(forOutsideSmtp), qPrintable(text));
    }
}

void TestMailServers::keptConnectionDroppedByTheServerIsReopened()
{
    PlainServers plain(2);
    QVERIFY2(plain.env.valid, "the plain-text servers did not start");
    auto send = [&] {
        return NMailSmtpSendMail(QStringLiteral("127.0.0.1:%1").arg(plain.env.smtpPort), QStringLiteral("hayate@localhost"),
                                 QString(), QString(), QStringLiteral("me@localhost"), QStringLiteral("s"),
                                 QStringLiteral("b"), QString(), QString(), 0);
    };
    NMailSmtpBeginSession();
    QCOMPARE(send(), 0);
    QTest::qWait(3500); // the server drops the idle connection
    QCOMPARE(send(), 0);
    QCOMPARE(send(), 0);
    NMailSmtpEndSession();
    QCOMPARE(plain.env.messageFiles().size(), 3);
    QCOMPARE(plain.env.smtpClientPorts().size(), 2);
}

void TestMailServers::sendRefusesBadInputAndSendsNothing()
{
    QTemporaryDir work;
    const QString existing = work.filePath(QStringLiteral("a.txt"));
    hm::test::writeFile(existing, "x");
    auto send = [&](const QString& to, const QString& attachments, const QString& from = QStringLiteral("me@localhost")) {
        return NMailSmtpSendMail(env.smtpServer(), to, QString(), QString(), from, QStringLiteral("s"),
                                 QStringLiteral("b"), QString(), attachments, 0);
    };
    QVERIFY(send(QStringLiteral("hayate@localhost"), existing + QLatin1Char(',') + work.filePath(QStringLiteral("gone.txt"))) < 0);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("gone.txt")), qPrintable(error));
    QVERIFY(send(QStringLiteral("hayate@localhost\r\nBcc: evil@localhost"), QString()) < 0);
    QVERIFY(send(QStringLiteral("hayate@localhost"), QString(), QStringLiteral("me@localhost\nBcc: evil@localhost")) < 0);
    QVERIFY(send(QStringLiteral("not an address"), QString()) < 0);
    QVERIFY(send(QStringLiteral("hayate@localhost@evil.invalid"), QString()) < 0);
    QVERIFY(send(QStringLiteral("\"unclosed <hayate@localhost>, evil@localhost"), QString()) < 0);
    QVERIFY(send(QStringLiteral(" ; , "), QString()) < 0);
    QVERIFY(send(QStringLiteral("hayate@localhost"), QString(), QString()) < 0);
    QCOMPARE(env.messageFiles().size(), 0);
    QCOMPARE(send(QStringLiteral("hayate@localhost"), existing), 0);
    QCOMPARE(env.messageFiles().size(), 1);
}

void TestMailServers::lineBreaksInTheSubjectInjectNoHeader()
{
    QCOMPARE(NMailSmtpSendMail(env.smtpServer(), QStringLiteral("hayate@localhost"), QString(), QString(),
                               QStringLiteral("me@localhost"), QStringLiteral("件名\r\nBcc: evil@localhost\r\n\r\nbody"),
                               QStringLiteral("本文"), QString(), QString(), 0),
             0);
    const int handle = login();
    const Fetched f = fetch(handle, 1);
    NMailPop3Close(handle);
    QVERIFY2(!f.header.contains(QLatin1String("\nBcc:"), Qt::CaseInsensitive), qPrintable(f.header));
    QCOMPARE(f.subject, QStringLiteral("件名 Bcc: evil@localhost  body"));
    QCOMPARE(f.body, QStringLiteral("本文"));
}

void TestMailServers::severalRecipientsGetOneMessage()
{
    QCOMPARE(NMailSmtpSendMail(env.smtpServer(), QStringLiteral("a@localhost; \"Jiro, Yamada\" <b@localhost>,c@例え.jp"),
                               QString(), QString(), QStringLiteral("me@localhost"), QStringLiteral("s"),
                               QStringLiteral("b"), QString(), QString(), 0),
             0);
    // A domain in other scripts goes in its ASCII form.
    QCOMPARE(env.lastRecipients(), (QStringList{QStringLiteral("a@localhost"), QStringLiteral("b@localhost"),
                                                QStringLiteral("c@xn--r8jz45g.jp")}));
    const int handle = login();
    const Fetched f = fetch(handle, 1);
    NMailPop3Close(handle);
    QVERIFY2(f.header.contains(QStringLiteral("\"Jiro, Yamada\" <b@localhost>")), qPrintable(f.header));
}

void TestMailServers::messagesArriveWholeOrNotAtAll_data()
{
    QTest::addColumn<bool>("postfix");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArrayList>("to");
    QTest::addColumn<QString>("answers"); // the class of each RCPT TO's reply; none when not sent
    QTest::addColumn<QByteArray>("refused"); // the address the error names; empty: sent
    const QByteArray me = "me@localhost", a = "a@localhost", b = "b@localhost", x = "x@refused.invalid";
    for (const bool postfix : {false, true}) {
        auto row = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s, %s", postfix ? "Postfix (pipelining)" : "aiosmtpd", name) << postfix;
        };
        row("all accepted") << me << QByteArrayList{a, b, "c@localhost"} << "2 2 2" << QByteArray();
        // Pipelined, a message to one recipient goes in one chunk (BDAT) with its commands.
        row("one recipient") << me << QByteArrayList{a} << "2" << QByteArray();
        row("the one recipient refused") << me << QByteArrayList{x} << "5" << x;
        row("one refused") << me << QByteArrayList{a, x, b} << "2 5 2" << x;
        row("all refused") << me << QByteArrayList{x, "y@refused.invalid"} << "5 5" << x;
        // Pipelined, the recipients were sent with the refused sender and are refused in turn.
        row("sender refused") << QByteArray("me@refused.invalid") << QByteArrayList{a, b}
                              << (postfix ? "5 5" : "") << QByteArray("me@refused.invalid");
    }
}

void TestMailServers::messagesArriveWholeOrNotAtAll()
{
    QFETCH(bool, postfix);
    QFETCH(QByteArray, from);
    QFETCH(QByteArrayList, to);
    QFETCH(QString, answers);
    QFETCH(QByteArray, refused);
    REQUIRE_POSTFIX(postfix);
    ServerAddress address;
    MailError problem;
    QVERIFY(acceptServer(postfix ? env.postfixServer() : env.smtpServer(), Protocol::Smtp, address, problem));
    // Lines that end the data or lose their dot unless they are stuffed, and a last line without its end.
    const QByteArray message = "From: " + from + "\r\nTo: a@localhost\r\nSubject: dots\r\n"
                               "Date: Mon, 7 Dec 2026 10:00:00 +0900\r\nMessage-ID: <dots@localhost>\r\n\r\n"
                               ".hidden\r\n.\r\n..two\r\n\r\n.\r\nno line end";
    SmtpConnection connection;
    std::vector<SmtpReply> replies;
    const MailError error = connection.send(address, {}, {}, from, {to.begin(), to.end()}, message, &replies);
    QCOMPARE(connection.pipelining(), postfix);
    QCOMPARE(connection.chunking(), postfix);
    QStringList classes;
    for (const SmtpReply& r : replies)
        classes << QString::number(r.code / 100);
    QCOMPARE(classes.join(QLatin1Char(' ')), answers);
    if (refused.isEmpty()) {
        QVERIFY2(error.kind == FailureKind::None, qPrintable(error.text));
    } else {
        QVERIFY2(error.kind == FailureKind::ServerRefused && error.text.contains(QString::fromLatin1(refused))
                     && error.serverReply.startsWith(QLatin1Char('5')),
                 qPrintable(error.text));
    }
    // The session goes on, on the same connection or, after a hang-up, a new one.
    const QByteArray after = plainMessage("after");
    const MailError next = connection.send(address, {}, {}, "me@localhost", {"a@localhost"}, after);
    QVERIFY2(next.kind == FailureKind::None, qPrintable(next.text));
    connection.quit();

    // Postfix delivers a copy per recipient, aiosmtpd one for all.
    const qsizetype copies = refused.isEmpty() ? (postfix ? to.size() : 1) : 0;
    QTRY_COMPARE(env.messageFiles().size(), copies + 1);
    const QByteArray sent = QByteArray(message + "\r\n").replace("\r\n", "\n");
    qsizetype whole = 0;
    for (const QString& path : env.messageFiles()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray delivered = file.readAll().replace("\r\n", "\n");
        if (delivered.contains("Subject: dots\n")) {
            QVERIFY2(delivered.endsWith(sent), delivered.constData());
            ++whole;
        }
    }
    QCOMPARE(whole, copies);
}

void TestMailServers::oversizedMessageIsRefusedAndKept()
{
    // Above the limit set, 1 MB here.
    QCOMPARE(NMailSetOption(kOptionMaxMessageMegabytes, 1), 0);
    const auto restore = qScopeGuard([] { NMailSetOption(kOptionMaxMessageMegabytes, kDefaultMaxMessageMegabytes); });
    QByteArray big = plainMessage("big", QByteArray());
    big += QByteArray(1024 * 1024 + 10, 'x');
    env.drop(big);
    env.drop(plainMessage("small"));
    const int handle = login();
    QVERIFY(handle > 0);
    QCOMPARE(NMailPop3GetMailSize(handle, 1), kErrorTooLarge);
    QString error = hm::test::takeMailError();
    QVERIFY2(error.contains(QStringLiteral("大きすぎる")) && error.contains(QStringLiteral("上限 1 MB")), qPrintable(error));
    const Fetched first = fetch(handle, 1);
    QVERIFY(first.body.isEmpty() && first.subject.isEmpty());
    // The session goes on with the next message.
    QCOMPARE(fetch(handle, 2).subject, QStringLiteral("small"));
    NMailPop3Close(handle);
    QCOMPARE(countWaiting(), 2);
}

void TestMailServers::headerOnlyAndEmptyMessagesArrive()
{
    env.drop("Subject: header only\r\nFrom: x@localhost\r\n");
    env.drop("Subject: =?UTF-8?B?56m644Gu5pys5paH?=\r\nFrom: x@localhost\r\n\r\n");
    const int handle = login();
    QStringList subjects;
    for (int n = 1; n <= 2; ++n) {
        const Fetched f = fetch(handle, n);
        subjects << f.subject;
        QVERIFY(f.body.trimmed().isEmpty());
    }
    NMailPop3Close(handle);
    subjects.sort();
    QCOMPARE(subjects, (QStringList{QStringLiteral("header only"), QStringLiteral("空の本文")}));
}

// The server stuffs every line that begins with a dot; the lines are long and many enough that
// stuffed dots and lone dots fall on every place of the reads, their edges included.
void TestMailServers::linesThatBeginWithADotArriveAsWritten()
{
    QByteArray body;
    for (int k = 0; body.size() < 400000; ++k) {
        const QByteArray filler(k % 97, char('a' + k % 26));
        body += k % 3 == 0 ? "." + filler + "\r\n" : k % 5 == 0 ? ".\r\n" : k % 7 == 0 ? "..\r\n" : filler + ".\r\n";
    }
    env.drop(plainMessage("dots", body));
    env.drop(plainMessage("after"));
    const int handle = login();
    const Fetched dots = fetch(handle, 1);
    QCOMPARE(dots.body.size(), body.size());
    QVERIFY(dots.body == QString::fromLatin1(body));
    QCOMPARE(fetch(handle, 2).subject, QStringLiteral("after"));
    NMailPop3Close(handle);
}

QTEST_GUILESS_MAIN(TestMailServers)
#include "test_mail_servers.moc"
