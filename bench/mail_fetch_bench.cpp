// Time to fetch 1,000 messages of 10 KB from the local Dovecot the way the mail check does
// (status, size, download per message, one session), beside curl's own 1,000 RETR over one
// connection. Prints figures; it does not judge them.
#include "mail/nmail.h"
#include "tests/servers/mail_server_env.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryFile>

#include <cstdio>

using namespace hm::mail;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? atoi(argv[2]) : 3;
    const auto env = hm::test::MailServerEnv::load();
    if (!env.valid) {
        std::fprintf(stderr, "mail_fetch_bench: no servers (HM_BINARY_DIR/mail-servers/env)\n");
        return 2;
    }
    env.clearMailbox();
    QByteArray line = QStringLiteral("疾風メールの試験用の本文です。 0123456789 abcdefghij\r\n").toUtf8();
    QByteArray body;
    while (body.size() < 10 * 1024)
        body += line;
    body.truncate(10 * 1024 - 2);
    body += "\r\n";
    for (int i = 1; i <= count; ++i)
        env.drop("From: bench@localhost\r\nTo: hayate@localhost\r\nSubject: =?UTF-8?B?"
                 + QStringLiteral("試験 %1").arg(i).toUtf8().toBase64()
                 + "?=\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
                 + body);

    NMailInitializeWinSock();
    // One untimed session lets Dovecot index the new mail first.
    {
        const int h = NMailPop3Connect(env.pop3Server());
        NMailPop3Authenticate(h, env.user, env.password, 0);
        NMailPop3Close(h);
    }

    double bestOurs = 1e18, bestCurl = 1e18;
    qint64 bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer t;
        t.start();
        const int h = NMailPop3Connect(env.pop3Server());
        const int n = NMailPop3Authenticate(h, env.user, env.password, 0);
        if (n != count) {
            std::fprintf(stderr, "mail_fetch_bench: server holds %d messages, expected %d\n", n, count);
            return 1;
        }
        bytes = 0;
        QString subject, date, from, header, text;
        for (int i = 1; i <= n; ++i) {
            NMailPop3GetMailStatus(h, i, subject, date, from, header, 0);
            bytes += NMailPop3GetMailSize(h, i);
            NMailPop3GetMail(h, i, subject, date, from, header, text, 0, 0);
        }
        NMailPop3Close(h);
        bestOurs = qMin(bestOurs, t.nsecsElapsed() / 1e6);

        QTemporaryFile config;
        config.open();
        config.write("silent\nuser = \"" + env.user.toUtf8() + ':' + env.password.toUtf8() + "\"\n");
        for (int i = 1; i <= n; ++i)
            config.write("url = \"pop3://" + env.host.toUtf8() + ':' + QByteArray::number(env.pop3Port) + '/'
                         + QByteArray::number(i) + "\"\noutput = \"/dev/null\"\n");
        config.flush();
        QProcess curl;
        t.restart();
        curl.start(QStringLiteral("curl"), {QStringLiteral("-K"), config.fileName()});
        curl.waitForFinished(600000);
        bestCurl = qMin(bestCurl, t.nsecsElapsed() / 1e6);
        if (curl.exitCode() != 0)
            std::fprintf(stderr, "mail_fetch_bench: curl exited with %d\n", curl.exitCode());
    }
    env.clearMailbox();
    std::printf("messages: %d of %lld bytes on the server, best of %d rounds\n", count, bytes / qMax(count, 1), rounds);
    std::printf("HayateMail (status + size + download each): %.0f ms (%.2f ms per message)\n", bestOurs, bestOurs / count);
    std::printf("curl, %d RETR over one connection:        %.0f ms (%.2f ms per message)\n", count, bestCurl,
                bestCurl / count);
    return 0;
}
