#pragma once
#include <QElapsedTimer>
#include <QString>

class QWidget;

// The one SMTP call of the compose and the reply window, with the account's server and address.
namespace hm::compose {

// One SMTP connection for the sends of one command, ended (QUIT) when this goes. While a send
// waits on the network, and whenever serveEvents is called, the windows repaint and timers
// run a few times a second; user input waits until the command is over.
class SendSession {
public:
    SendSession();
    ~SendSession();
    SendSession(const SendSession&) = delete;
    SendSession& operator=(const SendSession&) = delete;
    void serveEvents();

private:
    QElapsedTimer sinceServed_;
};

// Negative when the library failed.
int SmtpSend(const QString& to, const QString& subject, const QString& body,
             const QString& attachments);
// The library's last error in a box titled "送信エラー".
void ReportSendError(QWidget* parent);

} // namespace hm::compose
