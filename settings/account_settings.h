#pragma once
#include <QString>

namespace hm::settings {

// The six program-wide account values; every window reads and writes them directly.
struct AccountSettings {
    QString UserId;
    QString UserPassword;
    QString Pop3Server;
    QString SmtpServer;
    QString MailAddress;
    qint16 ApopFlag = 0;
};

AccountSettings& account();

// The most characters a server-file value keeps (what follows is dropped when it is read).
constexpr int kServerValueChars = 100;

// "\hymail.ini": SMTP=, POP3=, MAIL=, APOP= lines. A file too large or unreadable is left
// as it is and read as absent; problem then holds the message for the user.
void LoadServerSettings(AccountSettings& s, QString* problem = nullptr);
// Rewrites the server file with its four lines; false when it could not be written.
bool SaveServerSettings(const AccountSettings& s);

// One key of section EXEINI of "\★MailData\iniIdPass.ini" (at most 255 bytes, empty if absent
// or when the file cannot be read; problem then holds the message for the user). The password
// (NAME2) comes from the desktop keyring when the account keeps it there.
QString ReadAccountValue(const QString& key, QString* problem = nullptr);
// Writes one key; the file is kept readable by its owner only. False when it could not be
// written; a file that exists but cannot be read is never replaced (problem says why).
bool WriteAccountValue(const QString& key, const QString& value, QString* problem = nullptr);

// "\★MailData\iniIdPass.ini", for dataPath.
extern const QString kAccountFile;

// The program's own settings live in the account file too, in a section of their own
// ("[HayateMail]"), so the original section and its readers stay as they were. The user sets
// MaxMessageMB by hand; the receive window writes the two keys of mail kept on the server.
extern const QString kOwnSection;
// MaxMessageMB: the largest message a mail check downloads, in MB. 0 when not set, -1 when
// set to something other than a whole number from 1 up (text then holds what is there).
constexpr const char* kMaxMessageKey = "MaxMessageMB";
int MaxMessageMegabytes(QString* text = nullptr);

// KeepOnServer: a check leaves the mail it stores on the server (any value but empty or 0, as
// with APOP=). DeleteAfterDays: it then deletes what it stored more than that many days ago
// (0 or empty: never).
constexpr const char* kKeepOnServerKey = "KeepOnServer";
constexpr const char* kDeleteAfterDaysKey = "DeleteAfterDays";
struct KeepOnServer {
    bool keep = false;
    int deleteAfterDays = 0;
};
// A DeleteAfterDays that is not a whole number from 0 up reads as 0 (never delete); text then
// holds what is there. problem: why the file could not be read.
KeepOnServer ReadKeepOnServer(QString* badDays = nullptr, QString* problem = nullptr);
// False when the account file could not be written (problem says why).
bool WriteKeepOnServer(const KeepOnServer& k, QString* problem = nullptr);

// PasswordInKeyring: "1" while the saved password is in the desktop keyring (NAME2 then empty).
constexpr const char* kPasswordInKeyringKey = "PasswordInKeyring";
bool PasswordInKeyring();
// Saves the password as NAME2, or in the keyring when asked to and there is one (NAME2 is then
// emptied); a password moved back to the file leaves the keyring. Without a keyring the
// password goes to NAME2 and noKeyring says what the keyring answered.
bool SavePassword(const QString& password, bool inKeyring, QString* problem = nullptr,
                  QString* noKeyring = nullptr);

// How the account logs in, and where it signs in when that is through the browser (OAuth 2.0),
// in the program's own section: SignIn ("Password" or "OAuth2"), OAuthProvider, OAuthAuthorizationUrl,
// OAuthTokenUrl, OAuthScope, OAuthClientId, OAuthClientSecret. The tokens are secrets (secret_store.h).
struct SignInSettings {
    bool browserSignIn = false;
    QString provider;
    QString authorizationUrl;
    QString tokenUrl;
    QString scope;
    QString clientId;
    QString clientSecret;
};
SignInSettings LoadSignInSettings(QString* problem = nullptr);
bool SaveSignInSettings(const SignInSettings& s, QString* problem = nullptr);

} // namespace hm::settings
