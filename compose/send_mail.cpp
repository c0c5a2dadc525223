#include "compose/send_mail.h"

#include "common/ansi_codec.h"
#include "common/ui_services.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "settings/sign_in.h"

#include <QCoreApplication>

namespace hm::compose {

SendSession::SendSession()
{
    // SMTP AUTH, where the server asks for it, uses the account's saved pair; read once.
    hm::mail::NMailSetSmtpCredentials(hm::settings::ReadAccountValue(QStringLiteral("NAME")),
                                      hm::settings::ReadAccountValue(QStringLiteral("NAME2")));
    // An account that signs in through the browser logs in with its token instead.
    hm::mail::NMailSetAccessToken(hm::settings::LoadSignInSettings().browserSignIn
                                      ? hm::settings::AccountAccessToken(nullptr)
                                      : QString());
    hm::mail::NMailSmtpBeginSession();
    hm::mail::NMailSetSmtpWaitCallback([this] { serveEvents(); });
}

SendSession::~SendSession()
{
    hm::mail::NMailSetSmtpWaitCallback({});
    hm::mail::NMailSmtpEndSession();
}

void SendSession::serveEvents()
{
    if (sinceServed_.isValid() && sinceServed_.elapsed() < 200)
        return;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    sinceServed_.start();
}

int SendSession::send(const QString& to, const QString& subject, const QString& body, const QString& attachments,
                      const QString& keepCopy)
{
    const hm::settings::AccountSettings& account = hm::settings::account();
    hm::mail::NMailSmtpKeepCopy(keepCopy);
    const int result = hm::mail::NMailSmtpSendMail(account.SmtpServer, to, QString(), QString(), account.MailAddress,
                                                   subject, body, QString(), attachments, 0);
    // A token the server refused before it ran out is renewed by the next command.
    if (result == hm::mail::kErrorLogin)
        hm::settings::ForgetAccessToken();
    return result;
}

QString LastSendError()
{
    QString buffer;
    int size = 8192;
    hm::mail::NMailGetMessage(0, buffer, size);
    return CutAtNul(buffer);
}

void ReportSendError(QWidget* parent)
{
    hm::ui::message(parent, LastSendError(), QStringLiteral("送信エラー"), hm::ui::Buttons::Ok,
                    hm::ui::Icon::None);
}

} // namespace hm::compose
