#pragma once
#include <QString>

class QWidget;

// The one SMTP call of the compose and the reply window, with the account's server and address.
namespace hm::compose {

// Negative when the library failed.
int SmtpSend(const QString& to, const QString& subject, const QString& body,
             const QString& attachments);
// The library's last error in a box titled "送信エラー".
void ReportSendError(QWidget* parent);

} // namespace hm::compose
