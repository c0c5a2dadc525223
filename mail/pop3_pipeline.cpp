#include "mail/pop3_pipeline.h"

#include "mail/transfer_failure.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hm::mail {
namespace {

// Commands in flight at once when the server pipelines: enough to keep a long line busy,
// few enough that the server's reads never wait on ours.
constexpr int kPipelineWindow = 128;
constexpr qsizetype kStatusLineLimit = 4096;
// The most room made ahead for a reply on the server's word alone.
constexpr qint64 kRoomTrusted = 8 * 1024 * 1024;

// Where the first line after from that begins with a dot begins; -1 when none does in bytes.
qsizetype dotLineAfter(QByteArrayView bytes, qsizetype from)
{
    const char* p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype k = from;
#if defined(__SSE2__)
    // Sixteen bytes at a time: a LF with a dot after it.
    for (; k + 17 <= n; k += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k + 1));
        const __m128i lf = _mm_cmpeq_epi8(here, _mm_set1_epi8('\n'));
        const __m128i dot = _mm_cmpeq_epi8(next, _mm_set1_epi8('.'));
        if (const int hit = _mm_movemask_epi8(_mm_and_si128(lf, dot)))
            return k + __builtin_ctz(unsigned(hit)) + 1;
    }
#endif
    for (; k + 1 < n; ++k)
        if (p[k] == '\n' && p[k + 1] == '.')
            return k + 1;
    return -1;
}

} // namespace

Pop3Pipeline::Pop3Pipeline(Wire& wire, bool pipelining) : wire_(wire), window_(pipelining ? kPipelineWindow : 1) {}

quint64 Pop3Pipeline::queue(Command command)
{
    const quint64 ticket = nextTicket_++;
    queued_.push_back({ticket, std::move(command), false});
    return ticket;
}

bool Pop3Pipeline::push()
{
    QByteArray out;
    while (!queued_.empty() && int(sent_.size()) < window_) {
        out += queued_.front().command.line + "\r\n";
        sent_.push_back(std::move(queued_.front()));
        queued_.pop_front();
    }
    return out.isEmpty() || wire_.send(out);
}

void Pop3Pipeline::drop(quint64 ticket)
{
    kept_.erase(ticket);
    for (Pending& p : sent_)
        if (p.ticket == ticket)
            p.dropped = true;
    std::erase_if(queued_, [ticket](const Pending& p) { return p.ticket == ticket; });
}

Pop3Pipeline::Reply Pop3Pipeline::take(quint64 ticket)
{
    const auto it = kept_.find(ticket);
    if (it == kept_.end())
        return {};
    Reply reply = std::move(it->second);
    kept_.erase(it);
    return reply;
}

bool Pop3Pipeline::readNext()
{
    if (brokenAt_ != 0)
        return false;
    // A failed send shows in the reply read next.
    if (sent_.empty())
        push();
    if (sent_.empty())
        return false;
    const Pending pending = std::move(sent_.front());
    sent_.pop_front();
    Reply reply = readReply(pending);
    if (reply.outcome == Outcome::Failed || reply.outcome == Outcome::Overflow)
        brokenAt_ = pending.ticket;
    if (!pending.dropped)
        kept_[pending.ticket] = std::move(reply);
    return brokenAt_ == 0;
}

bool Pop3Pipeline::wait(quint64 ticket)
{
    while (!arrived(ticket))
        if (!readNext())
            return arrived(ticket);
    return true;
}

Pop3Pipeline::Reply Pop3Pipeline::await(quint64 ticket)
{
    wait(ticket);
    return take(ticket);
}

bool Pop3Pipeline::finish()
{
    while (!sent_.empty() || !queued_.empty())
        if (!readNext())
            return false;
    return true;
}

Pop3Pipeline::Reply Pop3Pipeline::readReply(const Pending& pending)
{
    Reply reply;
    if (!wire_.readLine(reply.status, kStatusLineLimit))
        return reply;
    if (reply.status.startsWith("-ERR")) {
        reply.outcome = Outcome::Refused;
        return reply;
    }
    if (!reply.status.startsWith("+OK")) {
        wire_.fail({FailureKind::BadReply, describeFailure(FailureKind::BadReply, CURLE_OK, wire_.address(), QString()),
                    QString()});
        return reply;
    }
    reply.outcome = pending.command.multiLine ? readLines(pending, pending.dropped ? nullptr : &reply) : Outcome::Ok;
    return reply;
}

// The lines of a multi-line reply up to the lone ".", a leading dot taken off each line that
// has one (RFC 1939, 3).
Pop3Pipeline::Outcome Pop3Pipeline::readLines(const Pending& pending, Reply* into)
{
    const Command& c = pending.command;
    Pace pace;
    wire_.startPace(pace, c.what.isEmpty() ? QStringLiteral("メール一覧") : c.what, c.deadlineMs);
    qint64 length = 0;
    bool lineStart = true;
    // A message grown piece by piece is copied as it grows.
    if (into && !c.sink && c.expected > 0)
        into->body.reserve(qsizetype(std::min({c.expected, c.cap, kRoomTrusted})));
    for (;;) {
        const QByteArrayView have = wire_.buffered();
        // What lies between stuffed dots goes on in one piece, not a line at a time.
        qsizetype i = 0, piece = 0;
        const auto pass = [&](qsizetype to) {
            if (into && to > piece) {
                if (!c.sink)
                    into->body.append(have.data() + piece, to - piece);
                else if (!into->sinkFailed && !c.sink(have.sliced(piece, to - piece)))
                    into->sinkFailed = true;
            }
            piece = to;
        };
        while (i < have.size()) {
            if (lineStart && have[i] == '.') {
                if (i + 2 >= have.size())
                    break; // whether this is the end shows with the next bytes
                if (have[i + 1] == '\r' && have[i + 2] == '\n') {
                    pass(i);
                    wire_.take(i + 3);
                    return Outcome::Ok;
                }
                pass(i);
                piece = ++i; // the stuffed dot
            }
            // While the rest of what came fits under the cap, only a line that begins with a dot
            // needs a look: the lines before it go by in one scan.
            if (length + (have.size() - i) <= c.cap) {
                const qsizetype dot = dotLineAfter(have, i);
                const qsizetype end = dot < 0 ? have.size() : dot;
                length += end - i;
                lineStart = dot >= 0 || have[end - 1] == '\n';
                i = end;
                continue;
            }
            const qsizetype newline = have.indexOf('\n', i);
            const qsizetype end = newline < 0 ? have.size() : newline + 1;
            length += end - i;
            if (length > c.cap) {
                pass(i);
                wire_.take(i);
                wire_.fail({FailureKind::TooLarge,
                            QStringLiteral("サーバー「%1」からの%2が上限（%3 バイト）を超えたため、受信を中止しました。")
                                .arg(wire_.address().host, pace.what)
                                .arg(c.cap),
                            QString()});
                return Outcome::Overflow;
            }
            i = end;
            lineStart = newline >= 0;
        }
        pass(i);
        wire_.take(i);
        if (!wire_.receiveMore(&pace))
            return Outcome::Failed;
    }
}

} // namespace hm::mail
