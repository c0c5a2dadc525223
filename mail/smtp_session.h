#pragma once
#include <QByteArray>

#include <functional>
#include <memory>
#include <vector>

#include "mail/mail_error.h"
#include "mail/transfer.h"

// One SMTP connection that sends message after message. curl connects, starts TLS, checks the
// certificate and logs in (a CONNECT_ONLY transfer); the mail transactions then run on the wire.
// Where the server offers PIPELINING (RFC 2920) MAIL FROM, every RCPT TO and DATA go out in one
// write and their replies are read in order, so a message costs two round trips, not curl's
// four or five; one, when it has a single recipient and the server also takes BDAT (CHUNKING).
namespace hm::mail {

class Wire;

// A server's reply: its code and its last line, as sent.
struct SmtpReply {
    int code = 0;
    QByteArray line;
    bool positive() const { return code >= 200 && code < 400; }
};

class SmtpConnection {
public:
    SmtpConnection();
    ~SmtpConnection(); // hangs up without QUIT: quit() first for a clean end
    SmtpConnection(const SmtpConnection&) = delete;
    SmtpConnection& operator=(const SmtpConnection&) = delete;

    // Called a few times a second while a send or the login waits on the network.
    void setWait(std::function<void()> wait);

    // One message (its bytes as written, any line ends) from `from` to every recipient
    // (addresses without angle brackets), on the open connection when it is to the same server
    // with the same login, otherwise on a new one. The message goes to everyone or, when the
    // server refuses the sender or any recipient, to no one; the error then carries the first
    // refusal, as curl would report it. recipientReplies, when given, receives each RCPT TO's
    // reply in order (empty when the transaction did not get that far).
    MailError send(const ServerAddress& address, const QByteArray& user, const QByteArray& password,
                   const QByteArray& from, const std::vector<QByteArray>& recipients, const QByteArray& message,
                   std::vector<SmtpReply>* recipientReplies = nullptr);

    // Sends QUIT and closes; nothing when no connection is open.
    void quit();

    // Whether the server last connected to offered PIPELINING, CHUNKING.
    bool pipelining() const { return pipelining_; }
    bool chunking() const { return chunking_; }

private:
    enum class Outcome { Sent, Refused, Broken };
    bool connect(const ServerAddress& address, const QByteArray& user, const QByteArray& password, MailError& error);
    Outcome transact(const QByteArray& from, const std::vector<QByteArray>& recipients, const QByteArray& message,
                     std::vector<SmtpReply>& replies, SmtpReply& refusal, bool& begun);
    bool command(const QByteArray& line, SmtpReply& reply);
    bool readReply(SmtpReply& reply);
    bool reset();
    void drop();

    std::function<void()> wait_;
    CURLM* multi_ = nullptr;
    CURL* curl_ = nullptr;
    ReplyLog log_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    std::unique_ptr<Wire> wire_;
    QByteArray key_; // server and login of the open connection
    bool pipelining_ = false;
    bool chunking_ = false;
    bool announcesSize_ = false;
    bool utf8_ = false;
};

} // namespace hm::mail
