#pragma once
#include <QElapsedTimer>
#include <QString>

class QWidget;

// Sending from the compose and the reply window, with the account's server, address and login.
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
    // One message to the account's SMTP server from its address; negative when the library
    // failed. keepCopy: where the message is kept as it goes out (none when empty).
    int send(const QString& to, const QString& subject, const QString& body, const QString& attachments,
             const QString& keepCopy = QString());

private:
    QElapsedTimer sinceServed_;
};

// The library's text of the last failed send.
QString LastSendError();
// That text in a box titled "送信エラー".
void ReportSendError(QWidget* parent);

} // namespace hm::compose
