#pragma once
#include <QByteArray>
#include <QString>

#include "mail/wire.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>

// POP3's transaction phase on the wire: commands go out as far ahead as the server allows
// (RFC 2449 PIPELINING, else one at a time) and the replies, which come back in order, are
// read as they are asked for. A reply asked for after a later one is kept until it is taken.
namespace hm::mail {

class Pop3Pipeline {
public:
    struct Command {
        QByteArray line;        // without its line end
        bool multiLine = false; // a +OK reply carries lines up to "."
        qint64 cap = 0;         // the most those lines may take
        QString what;           // for a pace message; empty: a reply that is not paced
        qint64 deadlineMs = 0;  // for the pace: the whole reply within this time (0: none)
        // Where the lines go instead of the reply's body (a big message goes to a file). Once it
        // returns false it gets nothing more, but the lines are still read to their end, so the
        // session goes on.
        std::function<bool(QByteArrayView)> sink;
        qint64 expected = 0; // the size the server gave for the lines, room for which is made at once
    };
    enum class Outcome {
        Ok,
        Refused,  // -ERR: the session decides what that means
        // Both: the connection cannot be used further; the wire's failure() says why.
        Overflow, // the lines went past the cap
        Failed,
    };
    struct Reply {
        Outcome outcome = Outcome::Failed;
        QByteArray status; // the status line
        QByteArray body;   // the lines, dot-unstuffed, CR LF kept, without the closing "."
        bool sinkFailed = false; // the command's sink refused some of the lines
    };

    Pop3Pipeline(Wire& wire, bool pipelining);

    // Returns the command's ticket; it goes out with the next push.
    quint64 queue(Command command);
    // Sends every queued command the window takes, in one write. Reading a reply sends
    // nothing: the next command waits for the caller's push or for the next read.
    bool push();
    // The reply to ticket; the replies before it are read and kept (or thrown away, see drop).
    Reply await(quint64 ticket);
    // Reads up to ticket's reply and keeps it; false when the connection failed first.
    bool wait(quint64 ticket);
    // Reads the reply of every command queued; false when the connection failed.
    bool finish();
    // Whether ticket is still waiting to be sent.
    bool queued(quint64 ticket) const
    {
        return std::any_of(queued_.begin(), queued_.end(), [ticket](const Pending& p) { return p.ticket == ticket; });
    }
    // Whether ticket's reply has been read already; take() hands it over.
    bool arrived(quint64 ticket) const { return kept_.count(ticket) != 0; }
    Reply take(quint64 ticket);
    // Nobody will ask for ticket's reply: its lines are read past, not kept.
    void drop(quint64 ticket);
    // The ticket whose reply failed or overflowed, 0 when none did.
    quint64 brokenAt() const { return brokenAt_; }

private:
    struct Pending {
        quint64 ticket = 0;
        Command command;
        bool dropped = false;
    };
    bool readNext();
    Reply readReply(const Pending& pending);
    Outcome readLines(const Pending& pending, Reply* into);

    Wire& wire_;
    int window_;
    quint64 nextTicket_ = 1;
    std::deque<Pending> queued_;
    std::deque<Pending> sent_;
    std::map<quint64, Reply> kept_;
    quint64 brokenAt_ = 0;
};

} // namespace hm::mail
