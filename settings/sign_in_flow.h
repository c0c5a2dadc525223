#pragma once
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>

// The OAuth 2.0 sign-in itself (authorization code with PKCE, on a loopback redirect; the
// refresh) lives in a module of its own, hayatemail-signin.so, loaded at the first sign-in or
// refresh, so that the launch maps no Qt Network.
namespace hm::settings {

struct OAuthEndpoints {
    QString authorizationUrl;
    QString tokenUrl;
    QString scope;
    QString clientId;
    QString clientSecret; // empty where the provider issues none to desktop programs
};

struct TokenGrant {
    QString accessToken;
    QString refreshToken;
    QDateTime expiresAt; // invalid when the server did not say
    // Why there is no token (for the user); refused: the server turned the grant down, so only
    // a new sign-in can help.
    QString problem;
    bool refused = false;
};

// Opens the sign-in page through openBrowser (false: it could not be opened) and waits at most
// waitSeconds for the browser to come back to the loopback redirect.
using BrowserSignIn = TokenGrant (*)(const OAuthEndpoints& endpoints,
                                     const std::function<bool(const QUrl&)>& openBrowser, int waitSeconds);
using RefreshTokens = TokenGrant (*)(const OAuthEndpoints& endpoints, const QString& refreshToken);
struct SignInFunctions {
    BrowserSignIn signIn;
    RefreshTokens refresh;
};
// The module's one export: its functions, or null when the version is not its own.
using SignInModuleEntry = const SignInFunctions* (*)(int version);
inline constexpr char kSignInModuleEntry[] = "hm_sign_in_module";
inline constexpr int kSignInModuleVersion = 1;

} // namespace hm::settings
