#pragma once
#include <QString>

// What went wrong in the mail room, as a value: one kind, the Japanese text NMailGetMessage
// gives, and the server's own reply when it sent one.
namespace hm::mail {

enum class FailureKind {
    None,
    BadInput,          // what the caller gave cannot be used (a server name, an address, a number)
    NoSession,         // no connection, not logged in, or the connection is gone
    HostNotFound,
    ConnectionRefused,
    Unreachable,
    Timeout,
    TooSlow,           // a download that stalled or outlasted its deadline
    Untrusted,         // the server's certificate
    NoStartTls,        // a password would go out unencrypted
    TlsFailed,
    LoginRefused,
    ServerRefused,     // the server answered a command with an error
    ConnectionLost,
    BadReply,
    TooLarge,
    NoUidl,
    Files,             // the attachment folder or an attachment file
    PartsMissing,      // a split message not yet whole
    Other,
};

struct MailError {
    FailureKind kind = FailureKind::None;
    QString text;
    QString serverReply; // the server's error line, decoded; empty when it sent none
};

// The negative result a caller sees for a failure of this kind.
int resultOf(FailureKind kind);

// The errors one session reports. Once an error has ended the session, a later failing call
// (a reset, a close, anything on the dead connection) reports that first error again until
// NMailGetMessage has read it; an error that leaves the session usable gives way to the next.
class ErrorRecord {
public:
    // endsSession: the session is unusable from now on.
    void report(MailError error, bool endsSession);

private:
    bool holding() const;
    MailError first_;
    quint64 serial_ = 0;
    bool ends_ = false;
};

// Errors outside any session: an unknown handle, a folder that is not there.
void reportError(MailError error);

// The error the last failing call reported; marks it read, so its session may report anew.
QString readReportedError();

} // namespace hm::mail
