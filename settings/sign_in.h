#pragma once
#include <QString>

class QWidget;

// The account's browser sign-in (OAuth 2.0) and its tokens. The access token is kept in memory
// only; the refresh token is a secret of the account (the keyring, or the owner-only file).
namespace hm::settings {

// An access token for the account's logins: the one at hand while it lasts, else one got with
// the refresh token without a word, else, only when there is none or the server refused it, a
// new sign-in in the browser. Empty, after a message to the user, when none could be had.
QString AccountAccessToken(QWidget* parent);
// A sign-in in the browser now, keeping its tokens; false after a message when it failed, the
// tokens kept before then staying as they were.
bool SignInWithBrowser(QWidget* parent);
// The access token at hand goes (a server refused it, or the account changed).
void ForgetAccessToken();

// Tests: the module to load instead of the one beside the program, and how long a sign-in
// waits for the browser (300 seconds by default).
void setSignInModulePath(const QString& path);
void setSignInWaitSeconds(int seconds);

} // namespace hm::settings
