#include "settings/sign_in_flow.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QOAuthOobReplyHandler>
#include <QRandomGenerator>
#include <QTimer>

namespace hm::settings {
namespace {

QByteArray base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// RFC 7636: 32 random bytes make a 43-character verifier.
QByteArray makeVerifier()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return base64Url(bytes);
}

void setUp(QOAuth2AuthorizationCodeFlow& flow, const OAuthEndpoints& e)
{
    // Its own, so that the Waiter sees every reply of the token endpoint.
    flow.setNetworkAccessManager(new QNetworkAccessManager(&flow));
    flow.setAuthorizationUrl(QUrl(e.authorizationUrl));
    flow.setAccessTokenUrl(QUrl(e.tokenUrl));
    flow.setClientIdentifier(e.clientId);
    if (!e.clientSecret.isEmpty())
        flow.setClientIdentifierSharedKey(e.clientSecret);
    flow.setScope(e.scope);
}

// Runs the flow's requests until one of them ends it. A token request the server answers with
// an error (Qt only warns of it) ends it as refused; one that never reaches the server, not.
class Waiter {
public:
    Waiter(QOAuth2AuthorizationCodeFlow& flow, TokenGrant& grant) : flow_(flow), grant_(grant)
    {
        QObject::connect(&flow, &QAbstractOAuth::granted, &loop_, [this] {
            grant_.accessToken = flow_.token();
            grant_.refreshToken = flow_.refreshToken();
            grant_.expiresAt = flow_.expirationAt();
            loop_.quit();
        });
        QObject::connect(&flow, &QAbstractOAuth2::error, &loop_, [this](const QString& error, const QString& description) {
            fail(QStringLiteral("サインインが拒否されました。（%1）").arg(description.isEmpty() ? error : description), true);
        });
        QObject::connect(flow.networkAccessManager(), &QNetworkAccessManager::finished, &loop_, [this](QNetworkReply* reply) {
            if (reply->error() == QNetworkReply::NoError)
                return;
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const QJsonObject answer = QJsonDocument::fromJson(reply->peek(4096)).object();
            if (status >= 400 && status < 500)
                fail(QStringLiteral("サインインの発行元がトークンを出しませんでした。（%1）")
                         .arg(answer.value(QStringLiteral("error")).toString(QString::number(status))),
                     true);
            else
                fail(QStringLiteral("サインインの発行元「%1」に接続できません。（%2）")
                         .arg(reply->url().host(), reply->errorString()),
                     false);
        });
    }

    void fail(const QString& problem, bool refused)
    {
        if (grant_.problem.isEmpty()) {
            grant_.problem = problem;
            grant_.refused = refused;
        }
        loop_.quit();
    }

    void run(int seconds)
    {
        QTimer::singleShot(seconds * 1000, &loop_, [this] {
            fail(QStringLiteral("ブラウザでのサインインが完了しませんでした（ブラウザが閉じられたか、時間切れです）。"), false);
        });
        loop_.exec();
    }

private:
    QOAuth2AuthorizationCodeFlow& flow_;
    TokenGrant& grant_;
    QEventLoop loop_;
};

TokenGrant signIn(const OAuthEndpoints& endpoints, const std::function<bool(const QUrl&)>& openBrowser, int waitSeconds)
{
    TokenGrant grant;
    QOAuth2AuthorizationCodeFlow flow;
    setUp(flow, endpoints);
    // RFC 8252: a loopback redirect on a port of the moment.
    auto* handler = new QOAuthHttpServerReplyHandler(QHostAddress::LocalHost, 0, &flow);
    if (!handler->isListening()) {
        grant.problem = QStringLiteral("サインインの受け口（127.0.0.1）を開けません。");
        return grant;
    }
    handler->setCallbackText(QStringLiteral("サインインしました。このページを閉じて、疾風メールに戻って下さい。"));
    flow.setReplyHandler(handler);

    const QByteArray verifier = makeVerifier();
    const QByteArray challenge = base64Url(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256));
    flow.setModifyParametersFunction([&](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            parameters->insert(QStringLiteral("code_challenge"), challenge);
            parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            parameters->insert(QStringLiteral("code_verifier"), verifier);
        }
    });

    Waiter waiter(flow, grant);
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, &flow, [&](const QUrl& url) {
        if (!openBrowser(url))
            waiter.fail(QStringLiteral("ブラウザを開けません。"), false);
    });
    // Qt drops a redirect whose state is not the one it sent without a word; say so instead.
    QObject::connect(handler, &QAbstractOAuthReplyHandler::callbackReceived, &flow, [&](const QVariantMap& values) {
        if (values.value(QStringLiteral("state")).toString() != flow.state())
            waiter.fail(QStringLiteral("サインインの応答が、この要求に対するものではありません（state が一致しません）。"), false);
    });
    flow.grant();
    waiter.run(waitSeconds);
    return grant;
}

TokenGrant refresh(const OAuthEndpoints& endpoints, const QString& refreshToken)
{
    TokenGrant grant;
    QOAuth2AuthorizationCodeFlow flow;
    setUp(flow, endpoints);
    flow.setRefreshToken(refreshToken);
    // Reads the token endpoint's answer; no redirect is involved.
    flow.setReplyHandler(new QOAuthOobReplyHandler(&flow));
    Waiter waiter(flow, grant);
    flow.refreshAccessToken();
    waiter.run(60);
    if (grant.refreshToken.isEmpty() && !grant.accessToken.isEmpty())
        grant.refreshToken = refreshToken; // the server kept the one it had given
    return grant;
}

const SignInFunctions kFunctions{signIn, refresh};

} // namespace
} // namespace hm::settings

extern "C" __attribute__((visibility("default"))) const hm::settings::SignInFunctions* hm_sign_in_module(int version)
{
    return version == hm::settings::kSignInModuleVersion ? &hm::settings::kFunctions : nullptr;
}
