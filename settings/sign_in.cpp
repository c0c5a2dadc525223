#include "settings/sign_in.h"

#include "common/program_module.h"
#include "common/ui_services.h"
#include "settings/account_settings.h"
#include "settings/secret_store.h"
#include "settings/sign_in_flow.h"

#include <QScopeGuard>

namespace hm::settings {
namespace {

const QString kRefreshSecret = QStringLiteral("refresh_token");
QString g_modulePath;
int g_waitSeconds = 300;
QString g_accessToken;
QDateTime g_expiresAt;

const QString kTitle = QStringLiteral("サインイン");

void tell(QWidget* parent, const QString& text)
{
    ui::message(parent, text, kTitle, ui::Buttons::Ok, ui::Icon::Warning);
}

const SignInFunctions* signInModule(QWidget* parent)
{
    const QString path =
        g_modulePath.isEmpty() ? programModulePath(QStringLiteral("hayatemail-signin.so")) : g_modulePath;
    QString reason;
    if (auto entry = reinterpret_cast<SignInModuleEntry>(moduleEntry(path, kSignInModuleEntry, &reason))) {
        if (const SignInFunctions* functions = entry(kSignInModuleVersion))
            return functions;
        reason = moduleVersionMismatch();
    }
    tell(parent, QStringLiteral("サインインのモジュールを読み込めないため、サインインできません。\n"
                                "プログラムを入れ直してください。\n\n%1\n%2")
                     .arg(path, reason));
    return nullptr;
}

OAuthEndpoints endpointsOf(const SignInSettings& s)
{
    return {s.authorizationUrl, s.tokenUrl, s.scope, s.clientId, s.clientSecret};
}

// The settings a sign-in needs, or a message naming what is missing.
bool usable(QWidget* parent, const SignInSettings& s)
{
    if (!s.authorizationUrl.isEmpty() && !s.tokenUrl.isEmpty() && !s.clientId.isEmpty())
        return true;
    tell(parent, QStringLiteral("サインインの設定（認可エンドポイント、トークンエンドポイント、クライアント ID）が"
                                "そろっていません。アカウントの設定で入力して下さい。"));
    return false;
}

// Keeps a grant: the access token in memory, the refresh token with the account's secrets.
bool keep(QWidget* parent, const TokenGrant& grant)
{
    QString problem;
    if (!grant.refreshToken.isEmpty() && !accountSecrets().write(kRefreshSecret, grant.refreshToken, &problem)) {
        tell(parent, problem);
        return false;
    }
    g_accessToken = grant.accessToken;
    g_expiresAt = grant.expiresAt;
    return true;
}

bool stillValid()
{
    // A minute's margin: the token must last through the login.
    return !g_accessToken.isEmpty()
           && (!g_expiresAt.isValid() || QDateTime::currentDateTimeUtc().secsTo(g_expiresAt) > 60);
}

} // namespace

void setSignInModulePath(const QString& path)
{
    g_modulePath = path;
}

void setSignInWaitSeconds(int seconds)
{
    g_waitSeconds = seconds;
}

void ForgetAccessToken()
{
    g_accessToken.clear();
    g_expiresAt = {};
}

bool SignInWithBrowser(QWidget* parent)
{
    // The wait serves events, so a second command could start a second sign-in meanwhile.
    static bool running = false;
    if (running) {
        tell(parent, QStringLiteral("ブラウザでのサインインを待っています。ブラウザでサインインを済ませて下さい。"));
        return false;
    }
    running = true;
    const auto done = qScopeGuard([] { running = false; });
    const SignInSettings settings = LoadSignInSettings();
    if (!usable(parent, settings))
        return false;
    const SignInFunctions* module = signInModule(parent);
    if (!module)
        return false;
    const TokenGrant grant = module->signIn(
        endpointsOf(settings), [](const QUrl& url) { return ui::services().openUrl(url); }, g_waitSeconds);
    if (grant.accessToken.isEmpty()) {
        tell(parent, grant.problem + QStringLiteral("\nサインインの状態は変わっていません。"));
        return false;
    }
    return keep(parent, grant);
}

QString AccountAccessToken(QWidget* parent)
{
    if (stillValid())
        return g_accessToken;
    const SignInSettings settings = LoadSignInSettings();
    if (!usable(parent, settings))
        return {};
    QString problem;
    const QString refreshToken = accountSecrets().read(kRefreshSecret, &problem);
    if (!problem.isEmpty()) {
        tell(parent, problem);
        return {};
    }
    if (!refreshToken.isEmpty()) {
        const SignInFunctions* module = signInModule(parent);
        if (!module)
            return {};
        const TokenGrant grant = module->refresh(endpointsOf(settings), refreshToken);
        if (!grant.accessToken.isEmpty())
            return keep(parent, grant) ? g_accessToken : QString();
        if (!grant.refused) {
            tell(parent, grant.problem);
            return {};
        }
        // Only a refused refresh asks the user to sign in again.
        accountSecrets().remove(kRefreshSecret, nullptr);
    }
    ForgetAccessToken();
    if (ui::message(parent,
                    refreshToken.isEmpty()
                        ? QStringLiteral("このアカウントはブラウザでサインインします。サインインしますか？")
                        : QStringLiteral("サインインの有効期限が切れました。ブラウザでもう一度サインインしますか？"),
                    kTitle, ui::Buttons::OkCancel, ui::Icon::Question)
        != ui::Answer::Ok)
        return {};
    return SignInWithBrowser(parent) ? g_accessToken : QString();
}

} // namespace hm::settings
