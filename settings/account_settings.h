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

// "\hymail.ini": SMTP=, POP3=, MAIL=, APOP= lines.
void LoadServerSettings(AccountSettings& s);
// Rewrites the server file with its four lines; false when it could not be written.
bool SaveServerSettings(const AccountSettings& s);

// One key of section EXEINI of "\★MailData\iniIdPass.ini" (at most 255 bytes, empty if absent).
QString ReadAccountValue(const QString& key);
// Writes one key; the file is kept readable by its owner only. False when it could not be written.
bool WriteAccountValue(const QString& key, const QString& value);

} // namespace hm::settings
