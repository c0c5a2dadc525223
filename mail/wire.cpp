#include "mail/wire.h"

#include "mail/transfer_failure.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <algorithm>

namespace hm::mail {
namespace {

constexpr qsizetype kReadChunk = 256 * 1024;
// What one drain leaves unread at most: a server that sends without end is read a MiB at a time,
// so that the caller's cap on the reply is checked before memory fills.
constexpr qsizetype kDrainEnough = 4 * kReadChunk;

} // namespace

Wire::Wire(CURL* curl, const ServerAddress& address, void* openSsl) : curl_(curl), address_(address)
{
    curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket_);
    if (socket_ == CURL_SOCKET_BAD)
        fallen(FailureKind::ConnectionLost);
    // OpenSSL reads each TLS record in two system calls, its header and then its body, and
    // servers send records of a few KB: a message of 10 KB took six. Reading ahead takes what
    // the socket holds in one. Only from here on: curl's own reads ask SSL_pending whether more
    // is buffered, which does not count records read ahead; drain() reads until curl has none
    // or a MiB waits, and every read drains before it waits on the socket.
    if (openSsl)
        SSL_set_read_ahead(static_cast<SSL*>(openSsl), 1);
}

bool Wire::fallen(FailureKind kind)
{
    if (!failed())
        failure_ = {kind, describeFailure(kind, CURLE_OK, address_, QString()), QString()};
    return false;
}

void Wire::fail(MailError error)
{
    if (!failed())
        failure_ = std::move(error);
}

void Wire::shutDown()
{
    if (socket_ != CURL_SOCKET_BAD)
        ::shutdown(socket_, SHUT_RDWR);
}

bool Wire::wait(short events, int timeoutMs)
{
    // With a hook the wait is cut short; every caller waits again for what is left.
    if (waitHook_)
        timeoutMs = std::min(timeoutMs, 100);
    pollfd p{socket_, events, 0};
    int r;
    do
        r = ::poll(&p, 1, timeoutMs);
    while (r < 0 && errno == EINTR);
    if (waitHook_)
        waitHook_();
    return r > 0;
}

bool Wire::drain(bool& gotSome)
{
    gotSome = false;
    // curl may hold decrypted bytes the socket no longer shows: read until it has none, or
    // until enough waits unread.
    for (;;) {
        if (taken_ > 0 && taken_ == in_.size()) {
            in_.truncate(0); // the buffer stays for the next read
            taken_ = 0;
        } else if (taken_ > kReadChunk && taken_ * 2 > in_.size()) {
            in_.remove(0, taken_);
            taken_ = 0;
        }
        const qsizetype old = in_.size();
        in_.resize(old + kReadChunk);
        size_t n = 0;
        const CURLcode code = curl_easy_recv(curl_, in_.data() + old, size_t(kReadChunk), &n);
        in_.resize(old + qsizetype(code == CURLE_OK ? n : 0));
        if (code == CURLE_AGAIN)
            return true;
        // The server hung up, or the connection failed: what came before it is still read.
        if (code != CURLE_OK || n == 0) {
            if (gotSome)
                return true;
            return fallen(FailureKind::ConnectionLost);
        }
        received_ += qint64(n);
        gotSome = true;
        if (in_.size() - taken_ >= kDrainEnough)
            return true;
    }
}

void Wire::startPace(Pace& pace, const QString& what, qint64 deadlineMs) const
{
    pace.what = what;
    pace.deadlineMs = deadlineMs;
    pace.startedBytes = received_ - buffered().size();
    pace.windowStartMs = 0;
    pace.windowStartBytes = pace.startedBytes;
    pace.clock.start();
}

bool Wire::keepsPace(Pace& pace)
{
    const TransferSettings& t = settings();
    const qint64 ms = pace.clock.elapsed();
    if (pace.deadlineMs > 0 && ms > pace.deadlineMs) {
        fail({FailureKind::TooSlow,
              QStringLiteral("サーバー「%1」からの%2の受信が %3 秒たっても終わらないため、中止しました。")
                  .arg(address_.host, pace.what)
                  .arg(pace.deadlineMs / 1000),
              QString()});
        return false;
    }
    if (ms - pace.windowStartMs < qint64(t.slowTime) * 1000)
        return true;
    if (received_ - pace.windowStartBytes < qint64(t.slowRate) * t.slowTime) {
        fail({FailureKind::TooSlow,
              QStringLiteral("サーバー「%1」からの%2の受信が止まったか遅すぎるため、中止しました（%3 秒間に %4 バイト未満）。")
                  .arg(address_.host, pace.what)
                  .arg(t.slowTime)
                  .arg(qint64(t.slowRate) * t.slowTime),
              QString()});
        return false;
    }
    pace.windowStartMs = ms;
    pace.windowStartBytes = received_;
    return true;
}

bool Wire::receiveMore(Pace* pace)
{
    if (failed())
        return false;
    const TransferSettings& t = settings();
    QElapsedTimer idle;
    idle.start();
    for (;;) {
        if (pace && !keepsPace(*pace))
            return false;
        bool gotSome = false;
        if (!drain(gotSome))
            return false;
        if (gotSome)
            return true;
        qint64 timeoutMs = qint64(t.idleTimeout) * 1000 - idle.elapsed();
        if (pace) {
            // A paced download has no reply timeout of its own: the pace decides.
            const qint64 ms = pace->clock.elapsed();
            timeoutMs = qint64(t.slowTime) * 1000 - (ms - pace->windowStartMs);
            if (pace->deadlineMs > 0)
                timeoutMs = std::min(timeoutMs, pace->deadlineMs - ms + 1);
        } else if (timeoutMs <= 0) {
            return fallen(FailureKind::Timeout);
        }
        wait(POLLIN, int(std::max<qint64>(timeoutMs, 1)));
    }
}

void Wire::take(qsizetype bytes)
{
    taken_ += bytes;
}

bool Wire::readLine(QByteArray& line, qsizetype maxLength)
{
    for (;;) {
        const QByteArrayView have = buffered();
        const qsizetype end = have.indexOf('\n');
        if (end >= 0) {
            const qsizetype length = end > 0 && have[end - 1] == '\r' ? end - 1 : end;
            if (length > maxLength)
                return fallen(FailureKind::BadReply);
            line = have.first(length).toByteArray();
            take(end + 1);
            return true;
        }
        if (have.size() > maxLength)
            return fallen(FailureKind::BadReply);
        if (!receiveMore())
            return false;
    }
}

bool Wire::send(QByteArrayView data)
{
    if (failed())
        return false;
    QElapsedTimer idle;
    idle.start();
    while (!data.isEmpty()) {
        size_t n = 0;
        const CURLcode code = curl_easy_send(curl_, data.data(), size_t(data.size()), &n);
        if (code == CURLE_OK && n > 0) {
            data = data.sliced(qsizetype(n));
            idle.restart();
            continue;
        }
        if (code != CURLE_OK && code != CURLE_AGAIN)
            return fallen(FailureKind::ConnectionLost);
        // The server may be waiting for its replies to be read before it reads more.
        bool gotSome = false;
        if (!drain(gotSome))
            return false;
        if (gotSome)
            idle.restart();
        const qint64 left = qint64(settings().idleTimeout) * 1000 - idle.elapsed();
        if (left <= 0)
            return fallen(FailureKind::Timeout);
        wait(POLLIN | POLLOUT, int(left));
    }
    return true;
}

} // namespace hm::mail
