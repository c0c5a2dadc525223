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
// or when the file cannot be read; problem then holds the message for the user).
QString ReadAccountValue(const QString& key, QString* problem = nullptr);
// Writes one key; the file is kept readable by its owner only. False when it could not be
// written; a file that exists but cannot be read is never replaced (problem says why).
bool WriteAccountValue(const QString& key, const QString& value, QString* problem = nullptr);

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

} // namespace hm::settings
