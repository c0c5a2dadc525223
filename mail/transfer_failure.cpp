#include "mail/transfer_failure.h"

#include "mail/charset.h"

#include <cerrno>

namespace hm::mail {

FailureKind classifyTransfer(CURLcode code, long osError, const QString& detail, const ServerAddress& address,
                             bool serverReplied)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return FailureKind::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        return osError == ECONNREFUSED || detail.contains(QLatin1String("refused"), Qt::CaseInsensitive)
                   ? FailureKind::ConnectionRefused
                   : FailureKind::Unreachable;
    case CURLE_OPERATION_TIMEDOUT:
        return FailureKind::Timeout;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return FailureKind::Untrusted;
    case CURLE_USE_SSL_FAILED:
        // Only useTls demands STARTTLS of a plain name: the server offered none.
        return address.implicitTls ? FailureKind::TlsFailed : FailureKind::NoStartTls;
    case CURLE_SSL_CONNECT_ERROR:
        return FailureKind::TlsFailed;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
        return FailureKind::LoginRefused;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
        return serverReplied ? FailureKind::ServerRefused : FailureKind::ConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
        return serverReplied ? FailureKind::ServerRefused : FailureKind::BadReply;
    default:
        return FailureKind::Other;
    }
}

QString describeFailure(FailureKind kind, CURLcode code, const ServerAddress& address, const QString& detail)
{
    const QString& host = address.host;
    const bool pop3 = address.protocol == Protocol::Pop3;
    switch (kind) {
    case FailureKind::HostNotFound:
        return QStringLiteral("サーバー名「%1」が見つかりません。サーバーの設定を確かめて下さい。").arg(host);
    case FailureKind::ConnectionRefused:
        return QStringLiteral("サーバー「%1」（ポート %2）への接続が拒否されました。").arg(host).arg(address.port);
    case FailureKind::Unreachable:
        return QStringLiteral("サーバー「%1」（ポート %2）に接続できません。").arg(host).arg(address.port);
    case FailureKind::Timeout:
        return QStringLiteral("サーバー「%1」が応答しません（タイムアウト）。").arg(host);
    case FailureKind::Untrusted:
        return QStringLiteral("サーバー「%1」の証明書を信頼できません。接続を中止しました。").arg(host);
    case FailureKind::NoStartTls:
        return QStringLiteral("サーバー「%1」は暗号化通信（%2）に対応していません。このまま接続すると、"
                              "パスワードが暗号化されずに送られ、途中で盗み見られるおそれがあるため、"
                              "%3を中止しました。\r\n暗号化せずに接続してよい場合は、サーバー名を"
                              "「%4」のように書いて下さい。")
            .arg(host, pop3 ? QStringLiteral("STLS") : QStringLiteral("STARTTLS"),
                 pop3 ? QStringLiteral("ログイン") : QStringLiteral("送信"), QString::fromUtf8(address.url()));
    case FailureKind::TlsFailed:
        return QStringLiteral("サーバー「%1」と暗号化通信を始められません。").arg(host);
    case FailureKind::LoginRefused:
        if (!accessToken().isEmpty())
            return QStringLiteral("サーバー「%1」がサインイン（OAuth 2.0）を受け付けませんでした。"
                                  "サインインの期限が切れたか取り消されたか、サーバーがこのサインインに対応していません。"
                                  "アカウントの設定でもう一度サインインして下さい。")
                .arg(host);
        return QStringLiteral("サーバー「%1」にログインできません。ユーザーIDとパスワードを確かめて下さい。").arg(host);
    case FailureKind::ServerRefused:
        return QStringLiteral("サーバー「%1」がエラーを返しました。").arg(host);
    case FailureKind::ConnectionLost:
        return QStringLiteral("サーバー「%1」との接続が途中で切れました。").arg(host);
    case FailureKind::BadReply:
        return QStringLiteral("サーバー「%1」の応答が正しくありません。").arg(host);
    default:
        return QStringLiteral("サーバー「%1」との通信に失敗しました（%2）。")
            .arg(host, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail);
    }
}

MailError replyFailure(FailureKind kind, const QString& sentence, const QByteArray& reply)
{
    MailError error{kind, sentence, QString()};
    if (!reply.isEmpty()) {
        error.serverReply = decodeUnlabelled(reply);
        error.text += QStringLiteral("\r\nサーバーの応答: ") + error.serverReply;
    }
    return error;
}

MailError transferFailure(CURL* curl, CURLcode code, const ServerAddress& address, const ReplyLog& log,
                          const char* curlDetail)
{
    long osError = 0;
    if (curl)
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError);
    const QString detail = QString::fromUtf8(curlDetail ? curlDetail : "");
    const FailureKind kind = classifyTransfer(code, osError, detail, address, !log.lastError.isEmpty());
    return replyFailure(kind, describeFailure(kind, code, address, detail), log.lastError);
}

} // namespace hm::mail
