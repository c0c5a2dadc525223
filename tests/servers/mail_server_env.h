#pragma once
// The loopback POP3/SMTP pair that the mail_servers fixture starts (scripts/mail-servers):
// where it listens, the account, and its Maildir, read from HM_BINARY_DIR/mail-servers/env.
// As root the fixture also runs Postfix, which offers PIPELINING and delivers into the same
// Maildir a moment after it has accepted a message; its ports are 0 when it is not running.
// Both SMTP servers refuse a sender or recipient at the domain refused.invalid. The fixture's
// OAuth 2.0 authorization server (tests/servers/auth_server.py) is at authUrl.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hm::test {

// A loopback port nobody listens on: a stopped server. -1 when none could be found.
inline int unusedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
                    && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok ? ntohs(a.sin_port) : -1;
}

struct MailServerEnv {
    bool valid = false;
    QString host;
    int pop3Port = 0;
    int pop3sPort = 0;
    int smtpPort = 0;
    int smtpsPort = 0;
    int postfixPort = 0;
    int postfixSmtpsPort = 0;
    QString user;
    QString password;
    QString caFile;
    QString maildir;
    QString logDir;
    QString authUrl;

    // Also trusts the fixture's CA for this process, the way a user can name extra
    // certificates to OpenSSL programs (SSL_CERT_FILE).
    // dir: that of a further pair started with scripts/mail-servers; its CA is not trusted.
    static MailServerEnv load(const QString& dir = QString())
    {
        MailServerEnv e;
        QFile file((dir.isEmpty() ? QString::fromLocal8Bit(qgetenv("HM_BINARY_DIR")) + QStringLiteral("/mail-servers") : dir)
                   + QStringLiteral("/env"));
        if (!file.open(QIODevice::ReadOnly))
            return e;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq <= 0)
                continue;
            const QByteArray key = line.left(eq);
            const QString value = QString::fromUtf8(line.mid(eq + 1)).trimmed();
            if (key == "POP3_HOST") e.host = value;
            else if (key == "POP3_PORT") e.pop3Port = value.toInt();
            else if (key == "POP3S_PORT") e.pop3sPort = value.toInt();
            else if (key == "SMTP_PORT") e.smtpPort = value.toInt();
            else if (key == "SMTPS_PORT") e.smtpsPort = value.toInt();
            else if (key == "POSTFIX_PORT") e.postfixPort = value.toInt();
            else if (key == "POSTFIX_SMTPS_PORT") e.postfixSmtpsPort = value.toInt();
            else if (key == "USER") e.user = value;
            else if (key == "PASSWORD") e.password = value;
            else if (key == "CA_FILE") e.caFile = value;
            else if (key == "MAILDIR") e.maildir = value;
            else if (key == "LOG_DIR") e.logDir = value;
            else if (key == "AUTH_URL") e.authUrl = value;
        }
        e.valid = !e.host.isEmpty() && e.pop3Port > 0 && e.smtpPort > 0 && !e.maildir.isEmpty();
        if (!e.caFile.isEmpty() && dir.isEmpty())
            qputenv("SSL_CERT_FILE", e.caFile.toLocal8Bit());
        return e;
    }

    QString pop3Server() const { return host + QLatin1Char(':') + QString::number(pop3Port); }
    QString pop3sServer() const { return QStringLiteral("pop3s://localhost:") + QString::number(pop3sPort); }
    QString smtpServer() const { return host + QLatin1Char(':') + QString::number(smtpPort); }
    QString smtpsServer() const { return QStringLiteral("smtps://localhost:") + QString::number(smtpsPort); }
    QString postfixServer() const { return host + QLatin1Char(':') + QString::number(postfixPort); }
    QString postfixSmtpsServer() const { return QStringLiteral("smtps://localhost:") + QString::number(postfixSmtpsPort); }

    // Tells the authorization server to "issue" a token pair for the account, to "expire" every
    // access token or to "revoke" every refresh token; its JSON answer, empty when none came.
    QJsonObject authControl(const QString& action) const
    {
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("-sf"), QStringLiteral("-d"), QStringLiteral("action=") + action,
                                            authUrl + QStringLiteral("/control")});
        if (!curl.waitForFinished(10000) || curl.exitCode() != 0)
            return {};
        return QJsonDocument::fromJson(curl.readAllStandardOutput()).object();
    }

    // Every message file in the mailbox (new and cur).
    QStringList messageFiles() const
    {
        QStringList files;
        for (const char* sub : {"new", "cur"}) {
            QDir dir(maildir + QLatin1Char('/') + QLatin1String(sub));
            for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
                files << dir.filePath(name);
        }
        return files;
    }

    // The envelope recipients of the last message the SMTP server delivered, from its log.
    QStringList lastRecipients() const
    {
        QFile log(logDir + QStringLiteral("/smtp.log"));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> lines = log.readAll().split('\n');
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            const qsizetype to = line->indexOf(" to=");
            if (!line->startsWith("delivered ") || to < 0)
                continue;
            const QByteArray list = line->mid(to + 4, line->indexOf(" bytes=") - to - 4);
            return QString::fromUtf8(list).split(QLatin1Char(','));
        }
        return {};
    }

    // The client ports of the SMTP connections the server has greeted so far, in order.
    QStringList smtpClientPorts() const
    {
        QStringList ports;
        QFile log(logDir + QStringLiteral("/smtp.log"));
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (line.startsWith("ehlo peer=")) {
                    const QString port = QString::fromUtf8(line.mid(line.lastIndexOf(':') + 1));
                    if (ports.isEmpty() || ports.last() != port)
                        ports << port;
                }
        return ports;
    }

    // Empties the mailbox; no POP3 session may be open on it meanwhile.
    void clearMailbox() const
    {
        for (const char* sub : {"new", "cur", "tmp"}) {
            QDir dir(maildir + QLatin1Char('/') + QLatin1String(sub));
            for (const QString& name : dir.entryList(QDir::Files))
                dir.remove(name);
        }
    }

    // Delivers a message straight into the mailbox, as a local delivery agent would. Messages
    // dropped in one go keep their order (the names sort by a counter).
    void drop(const QByteArray& message) const
    {
        static int counter = 0;
        const QString name = QStringLiteral("%1.%2_%3.hmtest")
                                 .arg(QDateTime::currentSecsSinceEpoch())
                                 .arg(++counter, 6, 10, QLatin1Char('0'))
                                 .arg(QUuid::createUuid().toString(QUuid::Id128));
        const QString tmp = maildir + QStringLiteral("/tmp/") + name;
        QFile f(tmp);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(message);
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther
                             | QFile::WriteGroup | QFile::WriteOther);
            QFile::rename(tmp, maildir + QStringLiteral("/new/") + name);
        }
    }
};

} // namespace hm::test
