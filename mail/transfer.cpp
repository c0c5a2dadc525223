#include "mail/transfer.h"

#include "mail/nmail.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>

namespace hm::mail {
namespace {

// curl hands every reply line of the POP3 and SMTP dialogues to the header callback.
size_t replySink(char* data, size_t one, size_t count, void* user)
{
    const size_t size = one * count;
    auto* log = static_cast<ReplyLog*>(user);
    QByteArray line(data, qsizetype(qMin<size_t>(size, 2048)));
    line = line.trimmed();
    if (line.isEmpty())
        return size;
    if (log->greeting.isEmpty())
        log->greeting = line;
    log->lastReply = line;
    if (line.compare("UIDL", Qt::CaseInsensitive) == 0)
        log->offersUidl = true;
    const bool popError = line.startsWith("-ERR");
    const bool smtpError = line.size() >= 3 && (line[0] == '4' || line[0] == '5') && line[1] >= '0'
                           && line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
    if (popError || smtpError)
        log->lastError = line;
    if (popError && log->dropOnError && log->socket != CURL_SOCKET_BAD) {
        ::shutdown(log->socket, SHUT_RDWR);
        log->socket = CURL_SOCKET_BAD;
    }
    return size;
}

} // namespace

TransferSettings& settings()
{
    static TransferSettings s{kConnectTimeoutSeconds, kIdleTimeoutSeconds, kSlowRateBytes, kSlowTimeSeconds};
    return s;
}

QByteArray ServerAddress::url() const
{
    QString scheme = protocol == Protocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp");
    if (implicitTls)
        scheme += QLatin1Char('s');
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (scheme + QLatin1String("://") + h + QLatin1Char(':') + QString::number(port)).toUtf8();
}

bool parseServer(const QString& text, Protocol protocol, ServerAddress& out)
{
    QString t = text.trimmed();
    const qsizetype nul = t.indexOf(QChar(0));
    if (nul >= 0)
        t.truncate(nul);
    t = t.trimmed();
    out = ServerAddress{};
    const QString plainScheme = protocol == Protocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp");
    const QString tlsScheme = plainScheme + QLatin1Char('s');
    const qsizetype sep = t.indexOf(QLatin1String("://"));
    if (sep >= 0) {
        const QString scheme = t.left(sep).toLower();
        if (scheme == tlsScheme)
            out.implicitTls = true;
        else if (scheme == plainScheme)
            out.explicitPlain = true;
        else
            return false;
        t = t.mid(sep + 3);
        if (t.endsWith(QLatin1Char('/')))
            t.chop(1);
    }
    QString host = t;
    QString portText;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            portText = rest.mid(1);
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        host = t.section(QLatin1Char(':'), 0, 0);
        portText = t.section(QLatin1Char(':'), 1);
    }
    static const QRegularExpression hostChars(QStringLiteral("^[A-Za-z0-9._:\\-]+$"));
    if (host.isEmpty() || !hostChars.match(host).hasMatch())
        return false;
    if (host.startsWith(QLatin1Char('-')) || host.startsWith(QLatin1Char('.')))
        return false;
    if (!portText.isNull()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return false;
        out.port = port;
    } else if (protocol == Protocol::Pop3) {
        out.port = out.implicitTls ? 995 : 110;
    } else {
        out.port = out.implicitTls ? 465 : 25;
    }
    out.host = host;
    out.protocol = protocol;
    return true;
}

bool isLoopback(const QString& host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QByteArray h = host.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, h.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, h.constData(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return false;
}

void useTls(CURL* curl, const ServerAddress& address, bool passwordInClear)
{
    const bool mustEncrypt = address.implicitTls
                             || (passwordInClear && !address.explicitPlain && !isLoopback(address.host));
    curl_easy_setopt(curl, CURLOPT_USE_SSL, mustEncrypt ? long(CURLUSESSL_ALL) : long(CURLUSESSL_TRY));
}

void configureHandle(CURL* curl, const ServerAddress& address, Protocol protocol, ReplyLog* log)
{
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(settings().connectTimeout));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(settings().idleTimeout));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(settings().idleTimeout));
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocol == Protocol::Pop3 ? "pop3,pop3s" : "smtp,smtps");
    useTls(curl, address, true);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    // The OpenSSL convention: a user (or a test) may name the trusted certificates.
    if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file && QFileInfo::exists(QString::fromLocal8Bit(file)))
        curl_easy_setopt(curl, CURLOPT_CAINFO, file);
    if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir)
        curl_easy_setopt(curl, CURLOPT_CAPATH, dir);
    if (log) {
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, replySink);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, log);
    }
}

bool acceptServer(const QString& text, Protocol protocol, ServerAddress& out, MailError& problem)
{
    if (parseServer(text, protocol, out))
        return true;
    problem.kind = FailureKind::BadInput;
    problem.text = QStringLiteral("%1 サーバー名「%2」は正しくありません。半角英数字の名前と、1～65535 のポート番号で書いて下さい。")
                       .arg(protocol == Protocol::Pop3 ? QStringLiteral("POP3") : QStringLiteral("SMTP"),
                            text.section(QChar(0), 0, 0).trimmed());
    return false;
}

} // namespace hm::mail
