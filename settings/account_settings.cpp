#include "settings/account_settings.h"

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/private_profile.h"
#include "common/program_folder.h"
#include "common/small_file.h"
#include "settings/secret_store.h"

#include <cmath>
#include <limits>

namespace hm::settings {
namespace {

const QString kServerFile = QStringLiteral("\\hymail.ini");
const QString kAccountSection = QStringLiteral("EXEINI");
const QString kPasswordKey = QStringLiteral("NAME2");
const QString kPasswordSecret = QStringLiteral("password");

// The leading numeric part of text, leading blanks skipped; 0 when there is none.
double leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    const auto digits = [&] {
        while (i < text.size() && text[i].unicode() < 128 && text[i].isDigit())
            ++i;
    };
    const qsizetype intStart = i;
    digits();
    bool any = i > intStart;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        const qsizetype fracStart = ++i;
        digits();
        any = any || i > fracStart;
    }
    if (!any)
        return 0;
    if (i < text.size() && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        if (j < text.size() && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        if (j < text.size() && text[j].unicode() < 128 && text[j].isDigit()) {
            i = j;
            digits();
        }
    }
    bool ok = false;
    const double v = text.mid(start, i - start).toDouble(&ok);
    return ok ? v : 0;
}

// Nearest 16-bit integer, an exact half to the even neighbour; out-of-range values are
// clamped rather than treated as an error.
qint16 toInt16(double v)
{
    if (std::isnan(v))
        return 0;
    const double r = std::nearbyint(v); // default rounding mode: half to even
    if (r >= std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    if (r <= std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    return static_cast<qint16>(r);
}

QString oneLine(QString value)
{
    // A line break would add a line the reader takes for another setting.
    value.remove(QLatin1Char('\r'));
    value.remove(QLatin1Char('\n'));
    return value;
}

} // namespace

AccountSettings& account()
{
    static AccountSettings s;
    return s;
}

void LoadServerSettings(AccountSettings& s, QString* problem)
{
    const QString path = dataPath(kServerFile);
    QByteArray bytes;
    const SmallFile result = readSmallFile(path, &bytes);
    if (result != SmallFile::Read) {
        if (problem)
            *problem = smallFileProblem(path, result);
        return;
    }
    // Lines end at CR LF or CR (or a lone LF, which a hand edit may leave).
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const QString line = ansi::decode(bytes.mid(pos, end - pos));
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            ++end;
        pos = end + 1;

        const QString prefix = line.left(5);
        const QString value = line.mid(5, kServerValueChars);
        if (prefix == QLatin1String("SMTP="))
            s.SmtpServer = value;
        else if (prefix == QLatin1String("POP3="))
            s.Pop3Server = value;
        else if (prefix == QLatin1String("MAIL="))
            s.MailAddress = value;
        else if (prefix == QLatin1String("APOP="))
            s.ApopFlag = toInt16(leadingNumber(value));
    }
}

bool SaveServerSettings(const AccountSettings& s)
{
    const QString text = QStringLiteral("SMTP=") + oneLine(s.SmtpServer) + QStringLiteral("\r\n") +
                         QStringLiteral("POP3=") + oneLine(s.Pop3Server) + QStringLiteral("\r\n") +
                         QStringLiteral("MAIL=") + oneLine(s.MailAddress) + QStringLiteral("\r\n") +
                         QStringLiteral("APOP=") + QString::number(s.ApopFlag) + QStringLiteral("\r\n");
    return writeFileAtomically(dataPath(kServerFile), ansi::encode(text));
}

const QString kAccountFile = QStringLiteral("\\★MailData\\iniIdPass.ini");
const QString kOwnSection = QStringLiteral("HayateMail");

int MaxMessageMegabytes(QString* text)
{
    const QString value = profile::read(dataPath(kAccountFile), kOwnSection, QString::fromLatin1(kMaxMessageKey));
    if (text)
        *text = value;
    if (value.trimmed().isEmpty())
        return 0;
    bool ok = false;
    const int megabytes = value.trimmed().toInt(&ok);
    return ok && megabytes >= 1 ? megabytes : -1;
}

KeepOnServer ReadKeepOnServer(QString* badDays, QString* problem)
{
    const QString file = dataPath(kAccountFile);
    KeepOnServer k;
    const QString keep = profile::read(file, kOwnSection, QString::fromLatin1(kKeepOnServerKey), problem).trimmed();
    k.keep = !keep.isEmpty() && keep != QLatin1String("0");
    const QString days = profile::read(file, kOwnSection, QString::fromLatin1(kDeleteAfterDaysKey)).trimmed();
    bool ok = days.isEmpty();
    if (!ok) {
        k.deleteAfterDays = days.toInt(&ok);
        ok = ok && k.deleteAfterDays >= 0;
    }
    if (!ok) {
        k.deleteAfterDays = 0;
        if (badDays)
            *badDays = days;
    }
    return k;
}

bool WriteKeepOnServer(const KeepOnServer& k, QString* problem)
{
    const QString file = dataPath(kAccountFile);
    return profile::write(file, kOwnSection, QString::fromLatin1(kKeepOnServerKey), k.keep ? QStringLiteral("1") : QStringLiteral("0"), true, problem)
           && profile::write(file, kOwnSection, QString::fromLatin1(kDeleteAfterDaysKey), QString::number(k.deleteAfterDays), true, problem);
}

bool PasswordInKeyring()
{
    return profile::read(dataPath(kAccountFile), kOwnSection, QString::fromLatin1(kPasswordInKeyringKey)) ==
           QLatin1String("1");
}

bool SavePassword(const QString& password, bool inKeyring, QString* problem, QString* noKeyring)
{
    const QString flag = QString::fromLatin1(kPasswordInKeyringKey);
    if (inKeyring) {
        QString why;
        SecretStore& store = accountSecrets(&why);
        if (store.inKeyring()) {
            // In this order a kill leaves the password in one place or both, never in none.
            return store.write(kPasswordSecret, password, problem) &&
                   profile::write(dataPath(kAccountFile), kOwnSection, flag, QStringLiteral("1"), true, problem) &&
                   WriteAccountValue(kPasswordKey, QString(), problem);
        }
        if (noKeyring)
            *noKeyring = why;
    }
    const bool wasInKeyring = PasswordInKeyring();
    if (!WriteAccountValue(kPasswordKey, password, problem))
        return false;
    if (!wasInKeyring)
        return true;
    return profile::write(dataPath(kAccountFile), kOwnSection, flag, QStringLiteral("0"), true, problem) &&
           keyringSecrets().remove(kPasswordSecret, problem);
}

namespace {
struct SignInKey {
    const char* key;
    QString SignInSettings::*field;
};
const SignInKey kSignInKeys[] = {
    {"OAuthProvider", &SignInSettings::provider},
    {"OAuthAuthorizationUrl", &SignInSettings::authorizationUrl},
    {"OAuthTokenUrl", &SignInSettings::tokenUrl},
    {"OAuthScope", &SignInSettings::scope},
    {"OAuthClientId", &SignInSettings::clientId},
    {"OAuthClientSecret", &SignInSettings::clientSecret},
};
const QString kSignInKey = QStringLiteral("SignIn");
const QString kBrowserSignIn = QStringLiteral("OAuth2");
} // namespace

SignInSettings LoadSignInSettings(QString* problem)
{
    const QString file = dataPath(kAccountFile);
    SignInSettings s;
    s.browserSignIn = profile::read(file, kOwnSection, kSignInKey, problem).compare(kBrowserSignIn, Qt::CaseInsensitive) == 0;
    for (const SignInKey& k : kSignInKeys)
        s.*k.field = profile::read(file, kOwnSection, QString::fromLatin1(k.key));
    return s;
}

bool SaveSignInSettings(const SignInSettings& s, QString* problem)
{
    const QString file = dataPath(kAccountFile);
    for (const SignInKey& k : kSignInKeys)
        if (!profile::write(file, kOwnSection, QString::fromLatin1(k.key), oneLine(s.*k.field), true, problem))
            return false;
    return profile::write(file, kOwnSection, kSignInKey, s.browserSignIn ? kBrowserSignIn : QStringLiteral("Password"),
                          true, problem);
}

QString ReadAccountValue(const QString& key, QString* problem)
{
    if (key.compare(kPasswordKey, Qt::CaseInsensitive) == 0 && PasswordInKeyring())
        return keyringSecrets().read(kPasswordSecret, problem);
    return profile::read(dataPath(kAccountFile), kAccountSection, key, problem);
}

bool WriteAccountValue(const QString& key, const QString& value, QString* problem)
{
    // The file holds the password in plain text: keep it to its owner.
    return profile::write(dataPath(kAccountFile), kAccountSection, key, value, true, problem);
}

} // namespace hm::settings
