#include "mail/transfer.h"

#include "mail/nmail.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

namespace hm::mail {
namespace {

QString g_lastError;

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

QString hostText(const ServerAddress& a)
{
    return a.host;
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

QString describeFailure(CURL* curl, CURLcode code, const ServerAddress& address, const ReplyLog& log, const char* curlDetail)
{
    long osError = 0;
    if (curl)
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    const QString host = hostText(address);
    const QString detail = QString::fromUtf8(curlDetail ? curlDetail : "");
    QString text;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        text = QStringLiteral("サーバー名「%1」が見つかりません。サーバーの設定を確かめて下さい。").arg(host);
        break;
    case CURLE_COULDNT_CONNECT:
        if (osError == ECONNREFUSED || detail.contains(QLatin1String("refused"), Qt::CaseInsensitive))
            text = QStringLiteral("サーバー「%1」（ポート %2）への接続が拒否されました。").arg(host).arg(address.port);
        else
            text = QStringLiteral("サーバー「%1」（ポート %2）に接続できません。").arg(host).arg(address.port);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = QStringLiteral("サーバー「%1」が応答しません（タイムアウト）。").arg(host);
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        text = QStringLiteral("サーバー「%1」の証明書を信頼できません。接続を中止しました。").arg(host);
        break;
    case CURLE_USE_SSL_FAILED:
        // Only useTls demands STARTTLS of a plain name: the server offered none.
        if (!address.implicitTls) {
            const QByteArray url = address.url();
            const bool pop3 = address.protocol == Protocol::Pop3;
            text = QStringLiteral("サーバー「%1」は暗号化通信（%2）に対応していません。このまま接続すると、"
                                  "パスワードが暗号化されずに送られ、途中で盗み見られるおそれがあるため、"
                                  "%3を中止しました。\r\n暗号化せずに接続してよい場合は、サーバー名を"
                                  "「%4」のように書いて下さい。")
                       .arg(host, pop3 ? QStringLiteral("STLS") : QStringLiteral("STARTTLS"),
                            pop3 ? QStringLiteral("ログイン") : QStringLiteral("送信"), QString::fromUtf8(url));
            break;
        }
        [[fallthrough]];
    case CURLE_SSL_CONNECT_ERROR:
        text = QStringLiteral("サーバー「%1」と暗号化通信を始められません。").arg(host);
        break;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        text = QStringLiteral("サーバー「%1」にログインできません。ユーザーIDとパスワードを確かめて下さい。").arg(host);
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        if (!log.lastError.isEmpty())
            text = QStringLiteral("サーバー「%1」がエラーを返しました。").arg(host);
        else
            text = QStringLiteral("サーバー「%1」との接続が途中で切れました。").arg(host);
        break;
    case CURLE_WEIRD_SERVER_REPLY:
        if (!log.lastError.isEmpty())
            text = QStringLiteral("サーバー「%1」がエラーを返しました。").arg(host);
        else
            text = QStringLiteral("サーバー「%1」の応答が正しくありません。").arg(host);
        break;
    default:
        text = QStringLiteral("サーバー「%1」との通信に失敗しました（%2）。")
                   .arg(host, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail);
        break;
    }
    if (!log.lastError.isEmpty())
        text += QStringLiteral("\r\nサーバーの応答: ") + QString::fromUtf8(log.lastError);
    return text;
}

bool acceptServer(const QString& text, Protocol protocol, ServerAddress& out)
{
    if (parseServer(text, protocol, out))
        return true;
    setLastError(QStringLiteral("%1 サーバー名「%2」は正しくありません。半角英数字の名前と、1～65535 のポート番号で書いて下さい。")
                     .arg(protocol == Protocol::Pop3 ? QStringLiteral("POP3") : QStringLiteral("SMTP"),
                          text.section(QChar(0), 0, 0).trimmed()));
    return false;
}

void setLastError(const QString& text)
{
    g_lastError = text;
}

QString lastError()
{
    return g_lastError;
}

} // namespace hm::mail
