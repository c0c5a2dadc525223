#include "mail/transfer.h"

#include "mail/nmail.h"

#include <QFileInfo>

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
    if (!log->openSsl && log->curl) {
        curl_tlssessioninfo* tls = nullptr;
        if (curl_easy_getinfo(log->curl, CURLINFO_TLS_SSL_PTR, &tls) == CURLE_OK && tls
            && tls->backend == CURLSSLBACKEND_OPENSSL)
            log->openSsl = tls->internals;
    }
    log->lastReply = line;
    if (line.compare("UIDL", Qt::CaseInsensitive) == 0)
        log->offersUidl = true;
    if (line.compare("PIPELINING", Qt::CaseInsensitive) == 0)
        log->offersPipelining = true;
    if (line.startsWith("220"))
        log->smtpExtensions.clear();
    else if (line.startsWith("250") && line.size() > 4)
        log->smtpExtensions.append(line.sliced(4).split(' ').first().toUpper());
    const bool popError = line.startsWith("-ERR");
    const bool smtpError = line.size() >= 3 && (line[0] == '4' || line[0] == '5') && line[1] >= '0'
                           && line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
    if (popError || smtpError)
        log->lastError = line;
    return size;
}

} // namespace

TransferSettings& settings()
{
    static TransferSettings s{kConnectTimeoutSeconds, kIdleTimeoutSeconds, kSlowRateBytes, kSlowTimeSeconds};
    return s;
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

namespace {
QByteArray g_accessToken;
} // namespace

const QByteArray& accessToken()
{
    return g_accessToken;
}

void useAccessToken(CURL* curl, const ServerAddress& address, const QByteArray& user)
{
    useTls(curl, address, true);
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, g_accessToken.constData());
    curl_easy_setopt(curl, CURLOPT_LOGIN_OPTIONS, "AUTH=OAUTHBEARER;AUTH=XOAUTH2");
    // The token goes with the AUTH command: one round trip less.
    curl_easy_setopt(curl, CURLOPT_SASL_IR, 1L);
}

void NMailSetAccessToken(const QString& token)
{
    // A line break would end the SASL response early.
    g_accessToken = token.section(QChar(0), 0, 0).toUtf8();
    if (g_accessToken.contains('\r') || g_accessToken.contains('\n'))
        g_accessToken.clear();
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
        log->curl = curl;
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, replySink);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, log);
    }
}

bool acceptServer(const QString& text, Protocol protocol, ServerAddress& out, MailError& problem)
{
    if (parseServer(text, protocol, out))
        return true;
    problem.kind = FailureKind::BadInput;
    problem.text = serverProblem(text, protocol);
    return false;
}

} // namespace hm::mail
