#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QString>

#include <functional>

#include "mail/mail_error.h"
#include "mail/transfer.h"

// The connection curl logged in on, taken over for the commands that follow. curl opened it,
// checked the certificate and did the login (a CONNECT_ONLY transfer); it keeps the TLS layer,
// so bytes go through curl_easy_send and curl_easy_recv. curl sends one command per round trip;
// on the wire the sessions send as many as the server allows and read the replies as they come.
namespace hm::mail {

// Keeps a download moving: less than `rate` bytes a second over `window` seconds, or a
// download past its deadline, is given up. A dripping server would otherwise hold the program
// for as long as it liked.
struct Pace {
    QString what;         // "メール 3", for the message
    qint64 deadlineMs = 0; // 0: none
    qint64 startedBytes = 0;
    qint64 windowStartMs = 0;
    qint64 windowStartBytes = 0;
    QElapsedTimer clock;
};

class Wire {
public:
    // curl: a handle whose CONNECT_ONLY transfer has just logged in; openSsl: the TLS session it
    // logged in over (ReplyLog), if any.
    Wire(CURL* curl, const ServerAddress& address, void* openSsl = nullptr);

    // All of data goes out; what the server sends meanwhile is kept for the reads. A server
    // that takes nothing for the reply timeout, or a lost connection, fails the wire.
    bool send(QByteArrayView data);

    // The next line, without its line end; a line longer than maxLength fails the wire.
    bool readLine(QByteArray& line, qsizetype maxLength);

    // What has arrived and not been taken, and taking it: for readers of their own (a POP3
    // message body).
    QByteArrayView buffered() const { return QByteArrayView(in_).sliced(taken_); }
    void take(qsizetype bytes);
    // Waits for more bytes: at most the reply timeout without any, or as the pace allows.
    bool receiveMore(Pace* pace = nullptr);
    // Starts a pace for a download from now.
    void startPace(Pace& pace, const QString& what, qint64 deadlineMs) const;

    bool failed() const { return failure_.kind != FailureKind::None; }
    const MailError& failure() const { return failure_; }
    // A failure of the session's own (a refused command) ends the wire too.
    void fail(MailError error);

    // Nothing more goes out on this connection, not even the QUIT curl's clean-up would send.
    void shutDown();

    const ServerAddress& address() const { return address_; }

    // Called at least a few times a second while the wire waits on the network (a window
    // repainting meanwhile).
    void setWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }

private:
    bool wait(short events, int timeoutMs);
    // Reads what curl has, without waiting; false when the connection is gone or failed.
    bool drain(bool& gotSome);
    bool fallen(FailureKind kind);
    bool keepsPace(Pace& pace);

    CURL* curl_;
    ServerAddress address_;
    curl_socket_t socket_ = CURL_SOCKET_BAD;
    QByteArray in_;
    qsizetype taken_ = 0;
    qint64 received_ = 0; // bytes ever read, for the pace
    MailError failure_;
    std::function<void()> waitHook_;
};

} // namespace hm::mail
