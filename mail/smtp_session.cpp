#include "mail/smtp_session.h"

#include "mail/transfer_failure.h"
#include "mail/wire.h"

#include <algorithm>

namespace hm::mail {
namespace {

// RFC 5321 allows 512 bytes; some servers write longer texts.
constexpr qsizetype kMaxReplyLine = 4096;
// A chunk up to this size goes out with its commands; a bigger one after them, not copied again.
constexpr qsizetype kOneWrite = 256 * 1024;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A refusal as curl's transfer reported it: the sentence and the server's line.
MailError refusedBy(const ServerAddress& address, const SmtpReply& reply)
{
    ReplyLog log;
    log.lastError = reply.line;
    return transferFailure(nullptr, CURLE_SEND_ERROR, address, log, nullptr);
}

// The message with every line ending in CRLF; forData: as it goes after DATA, a line starting
// with "." doubled and the closing "." added.
QByteArray messageLines(const QByteArray& message, bool forData)
{
    QByteArray out;
    out.reserve(message.size() + message.size() / 32 + 8);
    for (qsizetype start = 0; start < message.size();) {
        qsizetype end = message.indexOf('\n', start);
        const qsizetype next = end < 0 ? message.size() : end + 1;
        if (end < 0)
            end = message.size();
        else if (end > start && message[end - 1] == '\r')
            --end;
        if (forData && message[start] == '.')
            out += '.';
        out.append(message.constData() + start, end - start);
        out += "\r\n";
        start = next;
    }
    if (forData)
        out += ".\r\n";
    return out;
}

} // namespace

SmtpConnection::SmtpConnection() = default;

SmtpConnection::~SmtpConnection()
{
    drop();
}

void SmtpConnection::setWait(std::function<void()> wait)
{
    wait_ = std::move(wait);
    if (wire_)
        wire_->setWaitHook(wait_);
}

void SmtpConnection::drop()
{
    // curl's clean-up would say QUIT on a connection whose state only the wire knows.
    if (wire_)
        wire_->shutDown();
    wire_.reset();
    if (multi_ && curl_)
        curl_multi_remove_handle(multi_, curl_);
    if (curl_)
        curl_easy_cleanup(curl_);
    if (multi_)
        curl_multi_cleanup(multi_);
    curl_ = nullptr;
    multi_ = nullptr;
    key_.clear();
}

void SmtpConnection::quit()
{
    if (wire_ && !wire_->failed()) {
        SmtpReply reply;
        command("QUIT\r\n", reply);
    }
    drop();
}

bool SmtpConnection::connect(const ServerAddress& address, const QByteArray& user, const QByteArray& password,
                             MailError& error)
{
    drop();
    multi_ = curl_multi_init();
    curl_ = curl_easy_init();
    if (!multi_ || !curl_) {
        drop();
        error = {FailureKind::BadInput, QStringLiteral("通信の準備ができません。"), QString()};
        return false;
    }
    log_ = ReplyLog{};
    errorBuffer_[0] = 0;
    configureHandle(curl_, address, Protocol::Smtp, &log_);
    useTls(curl_, address, !user.isEmpty());
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
    const QByteArray url = address.url();
    curl_easy_setopt(curl_, CURLOPT_URL, url.constData());
    if (!user.isEmpty() && !accessToken().isEmpty()) {
        useAccessToken(curl_, address, user);
    } else if (!user.isEmpty()) {
        curl_easy_setopt(curl_, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl_, CURLOPT_PASSWORD, password.constData());
    }
    // curl's connect phase: greeting, EHLO, STARTTLS, EHLO, AUTH; then the connection is ours.
    curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 1L);

    // On a multi handle, so that the waiting goes to the wait callback a few times a second.
    // The handle stays on it: the connection lives in the multi handle's cache.
    CURLcode code = CURLE_FAILED_INIT;
    if (curl_multi_add_handle(multi_, curl_) == CURLM_OK) {
        int running = 1;
        CURLMcode m = CURLM_OK;
        while (m == CURLM_OK) {
            m = curl_multi_perform(multi_, &running);
            if (m != CURLM_OK || running == 0)
                break;
            m = curl_multi_poll(multi_, nullptr, 0, 100, nullptr);
            if (wait_)
                wait_();
        }
        code = m == CURLM_OK ? CURLE_OK : CURLE_FAILED_INIT;
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi_, &left))
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == curl_)
                code = msg->data.result;
    }
    if (code != CURLE_OK) {
        error = transferFailure(curl_, code, address, log_, errorBuffer_);
        drop();
        return false;
    }
    wire_ = std::make_unique<Wire>(curl_, address, log_.openSsl);
    if (wire_->failed()) {
        error = wire_->failure();
        drop();
        return false;
    }
    wire_->setWaitHook(wait_);
    const QList<QByteArray>& offered = log_.smtpExtensions;
    pipelining_ = offered.contains("PIPELINING");
    chunking_ = offered.contains("CHUNKING");
    announcesSize_ = offered.contains("SIZE");
    utf8_ = offered.contains("SMTPUTF8");
    return true;
}

bool SmtpConnection::readReply(SmtpReply& reply)
{
    QByteArray line;
    for (;;) {
        if (!wire_->readLine(line, kMaxReplyLine))
            return false;
        if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])
            || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
            wire_->fail({FailureKind::BadReply,
                         describeFailure(FailureKind::BadReply, CURLE_OK, wire_->address(), QString()), QString()});
            return false;
        }
        reply.code = line.left(3).toInt();
        reply.line = line;
        if (line.size() == 3 || line[3] == ' ')
            return true;
    }
}

bool SmtpConnection::command(const QByteArray& line, SmtpReply& reply)
{
    return wire_->send(line) && readReply(reply);
}

bool SmtpConnection::reset()
{
    SmtpReply reply;
    return command("RSET\r\n", reply) && reply.code == 250;
}

SmtpConnection::Outcome SmtpConnection::transact(const QByteArray& from, const std::vector<QByteArray>& recipients,
                                                 const QByteArray& message, std::vector<SmtpReply>& replies,
                                                 SmtpReply& refusal, bool& begun)
{
    replies.clear();
    refusal = {};
    begun = false;
    // The parameters curl gave MAIL FROM: the size, and SMTPUTF8 for an address in other scripts.
    QByteArray parameters;
    if (announcesSize_)
        parameters += " SIZE=" + QByteArray::number(message.size());
    auto ascii = [](const QByteArray& text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return uchar(c) < 0x80; });
    };
    if (utf8_ && !(ascii(from) && std::all_of(recipients.begin(), recipients.end(), ascii)))
        parameters += " SMTPUTF8";
    std::vector<QByteArray> lines;
    lines.push_back("MAIL FROM:<" + from + '>' + parameters + "\r\n");
    for (const QByteArray& to : recipients)
        lines.push_back("RCPT TO:<" + to + ">\r\n");
    // Pipelined, everything up to DATA goes at once and the replies are read in order. A message
    // to one recipient follows its commands at once where the server takes chunks (RFC 3030
    // BDAT): it reaches that recipient or no one, so nothing needs taking back.
    const bool ahead = pipelining_;
    const bool chunked = ahead && chunking_ && recipients.size() == 1;
    QByteArray chunk;
    if (chunked) {
        chunk = messageLines(message, false);
        lines.push_back("BDAT " + QByteArray::number(chunk.size()) + " LAST\r\n");
    } else {
        lines.push_back("DATA\r\n");
    }
    if (ahead) {
        QByteArray all;
        for (const QByteArray& line : lines)
            all += line;
        // A small chunk goes in the same write: sent apart, the server answers in two writes, and
        // its second small one waits for our delayed acknowledgement (Nagle's rule), 40 ms a message.
        const bool apart = chunk.size() > kOneWrite;
        if (!apart)
            all += chunk;
        if (!wire_->send(all) || (apart && !wire_->send(chunk)))
            return Outcome::Broken;
    }
    SmtpReply reply;
    auto exchange = [&](const QByteArray& line) { return ahead ? readReply(reply) : command(line, reply); };
    auto noteRefusal = [&] {
        if (refusal.code == 0 && !reply.positive())
            refusal = reply;
    };
    // 421: the server is closing the connection; nothing more will be answered.
    auto closedByServer = [&] {
        refusal = reply;
        drop();
        return Outcome::Refused;
    };

    if (!exchange(lines.front()))
        return Outcome::Broken;
    begun = reply.positive();
    if (reply.code == 421)
        return closedByServer();
    noteRefusal();
    for (size_t i = 1; i + 1 < lines.size() && (ahead || begun); ++i) {
        if (!exchange(lines[i]))
            return Outcome::Broken;
        if (reply.code == 421)
            return closedByServer();
        replies.push_back(reply);
        noteRefusal();
    }
    bool dataOpen = false;
    if (ahead || refusal.code == 0) {
        if (!exchange(lines.back()))
            return Outcome::Broken;
        if (reply.code == 421)
            return closedByServer();
        if (chunked && refusal.code == 0 && reply.code / 100 == 2)
            return Outcome::Sent;
        dataOpen = !chunked && reply.code == 354;
        if (!dataOpen && refusal.code == 0)
            refusal = reply;
    }
    if (refusal.code != 0) {
        // Once DATA is open the message can only be taken back by hanging up: the server drops
        // a message that never got its final dot.
        if (dataOpen || !reset())
            drop();
        return Outcome::Refused;
    }
    if (!wire_->send(messageLines(message, true)) || !readReply(reply))
        return Outcome::Broken;
    if (reply.code / 100 == 2)
        return Outcome::Sent;
    if (reply.code == 421)
        return closedByServer();
    refusal = reply;
    return Outcome::Refused;
}

MailError SmtpConnection::send(const ServerAddress& address, const QByteArray& user, const QByteArray& password,
                               const QByteArray& from, const std::vector<QByteArray>& recipients,
                               const QByteArray& message, std::vector<SmtpReply>* recipientReplies)
{
    const QByteArray key = address.url() + '\n' + user + '\n' + password;
    if (wire_ && key != key_)
        quit();
    for (int attempt = 0;; ++attempt) {
        const bool kept = wire_ != nullptr;
        MailError error;
        if (!kept) {
            if (!connect(address, user, password, error))
                return error;
            key_ = key;
        }
        std::vector<SmtpReply> replies;
        SmtpReply refusal;
        bool begun = false;
        const Outcome outcome = transact(from, recipients, message, replies, refusal, begun);
        if (recipientReplies)
            *recipientReplies = replies;
        if (outcome == Outcome::Sent)
            return {};
        if (outcome == Outcome::Broken) {
            error = wire_->failure();
            drop();
        } else {
            error = refusedBy(address, refusal);
        }
        // A kept connection the server closed while idle (a hang-up, or a 421 waiting in the
        // socket) gets one fresh try: no transaction had begun, so nothing can have been taken.
        const bool stale = kept && attempt == 0 && !begun && (outcome == Outcome::Broken || refusal.code == 421);
        if (!stale)
            return error;
        drop();
    }
}

} // namespace hm::mail
