#include "mail/nmail.h"

#include "mail/charset.h"
#include "mail/mime.h"
#include "common/line_ends.h"
#include "mail/transfer_failure.h"
#include "common/program_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThreadPool>

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace hm::mail {
namespace {

// The most a LIST or UIDL listing may take.
constexpr qint64 kListingLimit = 16 * 1024 * 1024;

// One command's outcome (a download or a deletion) as the transfer left it; what it means for the session (broken, the error text) is decided on the caller's thread
// when the caller asks for it.
struct Download {
    int number = 0;
    bool deletion = false;
    QByteArray raw;
    CURLcode code = CURLE_OK;
    bool overflow = false;
    bool hungUp = false;
    // Not sent: an earlier command on the session's thread failed and took the connection.
    bool skipped = false;
    MailError problem; // the failure as the session's thread saw it
    // The parse, done beside the connection, which is free for the next command meanwhile.
    std::shared_future<Downloaded> read;
    bool failed() const { return overflow || code != CURLE_OK || hungUp; }
};

class Lane;

// One POP3 session: one login, one connection. Once logged in, the session never opens a
// second connection, so message numbers and pending deletions stay those of this login.
struct Pop3Session {
    ServerAddress address;
    CURL* curl = nullptr;
    ReplyLog log;
    bool authenticated = false;
    bool broken = false;
    bool allowNewSocket = true;
    bool abandon = false; // close without QUIT: pending deletions must not take effect
    std::vector<qint64> sizes;
    std::vector<QByteArray> uidls; // by number; empty until asked for
    bool uidlsAsked = false;
    int fetchedNumber = 0;
    QByteArray fetched;
    int summarizedNumber = 0;
    Downloaded parsed;
    QByteArray lastRaw;
    QString paceProblem; // why the last download was given up
    char errorBuffer[CURL_ERROR_SIZE] = {};
    ErrorRecord errors;
    // Once the caller reads ahead, the session's own thread carries out downloads and
    // deletions in the order they are asked for, back to back on the one connection. While it
    // works, the connection and what the transfer writes (curl, log, errorBuffer, paceProblem)
    // are its own; any other command waits until it is idle.
    std::unique_ptr<Lane> lane;
    std::map<int, std::shared_future<Download>> ahead; // asked for, not yet taken, by number

    ~Pop3Session();
};

std::map<int, std::unique_ptr<Pop3Session>> g_sessions;
int g_nextHandle = 1;

// What the attachment call falls back to: the last message downloaded on any handle.
QByteArray g_lastRaw;
QString g_lastHeader;
bool g_lastSingleText = false;
std::shared_ptr<const ParsedMessage> g_lastParsed;

// Converters the charset room lacks: mail would lose its Japanese text, so none is received.
QString g_converterProblem;

struct Sink {
    QByteArray* data;
    qint64 cap;
    bool overflow = false;
};

size_t writeSink(char* ptr, size_t size, size_t n, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * n;
    if (qint64(sink->data->size()) + qint64(bytes) > sink->cap) {
        sink->overflow = true;
        return 0;
    }
    sink->data->append(ptr, qsizetype(bytes));
    return bytes;
}

curl_socket_t openSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    auto* session = static_cast<Pop3Session*>(user);
    if (!session->allowNewSocket)
        return CURL_SOCKET_BAD;
    return ::socket(address->family, address->socktype, address->protocol);
}

// The server sends nothing between replies; a readable socket that reads as end-of-file
// means it hung up.
bool peerHungUp(curl_socket_t socket)
{
    pollfd p{socket, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLHUP | POLLERR))
        return true;
    char c;
    const ssize_t r = ::recv(socket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

Pop3Session* find(int handle)
{
    const auto it = g_sessions.find(handle);
    if (it == g_sessions.end()) {
        reportError({FailureKind::NoSession, QStringLiteral("POP3 の接続がありません。")});
        return nullptr;
    }
    return it->second.get();
}

// Keeps a download moving: less than slowRate bytes a second over slowTime seconds, or a
// download past its deadline, is given up. A dripping server would otherwise hold the program
// for as long as it liked.
struct Pace {
    Pop3Session* session;
    QString what;         // "メール 3", for the message
    qint64 deadlineMs;    // 0: none
    QElapsedTimer clock;
    qint64 windowStartMs = 0;
    curl_off_t windowStartBytes = 0;
};

int keepPace(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t)
{
    auto* p = static_cast<Pace*>(user);
    const TransferSettings& t = settings();
    const qint64 ms = p->clock.elapsed();
    const QString host = p->session->address.host;
    if (p->deadlineMs > 0 && ms > p->deadlineMs) {
        p->session->paceProblem = QStringLiteral("サーバー「%1」からの%2の受信が %3 秒たっても終わらないため、中止しました。")
                                      .arg(host, p->what)
                                      .arg(p->deadlineMs / 1000);
        return 1;
    }
    if (ms - p->windowStartMs < qint64(t.slowTime) * 1000)
        return 0;
    if (received - p->windowStartBytes < curl_off_t(t.slowRate) * t.slowTime) {
        p->session->paceProblem =
            QStringLiteral("サーバー「%1」からの%2の受信が止まったか遅すぎるため、中止しました（%3 秒間に %4 バイト未満）。")
                .arg(host, p->what)
                .arg(t.slowTime)
                .arg(qint64(t.slowRate) * t.slowTime);
        return 1;
    }
    p->windowStartMs = ms;
    p->windowStartBytes = received;
    return 0;
}

CURLcode perform(Pop3Session& s, const QByteArray& path, const char* command, QByteArray* body,
                 qint64 cap, bool& overflow, const QString& what = QString(), qint64 deadlineMs = 0)
{
    const QByteArray url = s.address.url() + '/' + path;
    curl_easy_setopt(s.curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(s.curl, CURLOPT_CUSTOMREQUEST, command);
    curl_easy_setopt(s.curl, CURLOPT_NOBODY, body ? 0L : 1L);
    QByteArray discard;
    Sink sink{body ? body : &discard, cap};
    curl_easy_setopt(s.curl, CURLOPT_WRITEFUNCTION, writeSink);
    curl_easy_setopt(s.curl, CURLOPT_WRITEDATA, &sink);
    s.log.lastError.clear();
    s.errorBuffer[0] = 0;
    s.paceProblem.clear();
    // Replies to commands have the server's reply timeout; what comes after a reply is paced.
    Pace pace{&s, what.isEmpty() ? QStringLiteral("メール一覧") : what, deadlineMs, {}};
    pace.clock.start();
    curl_easy_setopt(s.curl, CURLOPT_XFERINFOFUNCTION, body ? keepPace : nullptr);
    curl_easy_setopt(s.curl, CURLOPT_XFERINFODATA, body ? &pace : nullptr);
    curl_easy_setopt(s.curl, CURLOPT_NOPROGRESS, body ? 0L : 1L);
    const CURLcode code = curl_easy_perform(s.curl);
    curl_easy_setopt(s.curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(s.curl, CURLOPT_XFERINFODATA, nullptr);
    overflow = sink.overflow;
    return code;
}

MailError failureOf(Pop3Session& s, CURLcode code)
{
    if (code == CURLE_ABORTED_BY_CALLBACK && !s.paceProblem.isEmpty())
        return {FailureKind::TooSlow, s.paceProblem};
    return transferFailure(s.curl, code, s.address, s.log, s.errorBuffer);
}

// An error after which the connection cannot be used: it stays the session's error until read.
int breakSession(Pop3Session& s, MailError error)
{
    s.broken = true;
    const int result = resultOf(error.kind);
    s.errors.report(std::move(error), true);
    return result;
}

// An error the session goes on after.
int refuse(Pop3Session& s, FailureKind kind, const QString& text)
{
    s.errors.report({kind, text}, s.broken);
    return resultOf(kind);
}

int fail(Pop3Session& s, CURLcode code)
{
    return breakSession(s, failureOf(s, code));
}

int tooLargeToReceive(Pop3Session& s, int number)
{
    return refuse(s, FailureKind::TooLarge, QStringLiteral("メール %1 は大きすぎるため受信しません（%2 バイト、上限 %3 バイト）。")
                                                .arg(number)
                                                .arg(s.sizes[size_t(number - 1)])
                                                .arg(kMaxMessageBytes));
}

bool usable(Pop3Session& s)
{
    if (!s.authenticated) {
        refuse(s, FailureKind::NoSession, QStringLiteral("POP3 サーバーにログインしていません。"));
        return false;
    }
    if (s.broken) {
        refuse(s, FailureKind::NoSession,
               QStringLiteral("POP3 サーバー「%1」との接続が切れています。もう一度受信して下さい。").arg(s.address.host));
        return false;
    }
    return true;
}

bool validNumber(Pop3Session& s, int number)
{
    if (number < 1 || number > int(s.sizes.size())) {
        refuse(s, FailureKind::BadInput, QStringLiteral("メール番号 %1 はサーバーにありません。").arg(number));
        return false;
    }
    return true;
}

// Runs on either thread; touches nothing of the session but the transfer's own state.
Download download(Pop3Session& s, int number)
{
    Download d;
    d.number = number;
    d.raw.reserve(qsizetype(s.sizes[size_t(number - 1)]) + 1024);
    // However slow the line, a message comes at slowRate bytes a second or better.
    const TransferSettings& t = settings();
    const qint64 deadlineMs = (qint64(t.slowTime) + s.sizes[size_t(number - 1)] / t.slowRate) * 1000;
    d.code = perform(s, QByteArray::number(number), nullptr, &d.raw, kMaxMessageBytes, d.overflow,
                     QStringLiteral("メール %1").arg(number), deadlineMs);
    if (d.overflow || d.code != CURLE_OK)
        return d;
    // curl ends a download quietly when the server hangs up before the closing dot; a
    // message is whole only if the connection that carried it is still there.
    curl_socket_t socket = CURL_SOCKET_BAD;
    curl_easy_getinfo(s.curl, CURLINFO_ACTIVESOCKET, &socket);
    d.hungUp = socket == CURL_SOCKET_BAD || peerHungUp(socket);
    return d;
}

// What a finished download or deletion means for the session, on the caller's thread.
int settle(Pop3Session& s, const Download& d)
{
    if (d.overflow)
        return breakSession(s, {FailureKind::TooLarge,
                                QStringLiteral("メール %1 はサーバーが知らせた大きさを超えたため受信を中止しました（上限 %2 バイト）。")
                                    .arg(d.number)
                                    .arg(kMaxMessageBytes)});
    if (d.code != CURLE_OK)
        return d.problem.kind == FailureKind::None ? fail(s, d.code) : breakSession(s, d.problem);
    if (d.hungUp)
        return breakSession(s, {FailureKind::ConnectionLost, QStringLiteral("サーバー「%1」との接続がメール %2 の受信中に切れました。")
                                                                 .arg(s.address.host)
                                                                 .arg(d.number)});
    if (d.deletion)
        return 0;
    s.fetchedNumber = d.number;
    s.fetched = d.raw;
    if (d.read.valid()) {
        s.parsed = d.read.get();
        if (s.parsed.bodyIsHtml) {
            s.parsed.body = toCrLf(htmlToText(s.parsed.body));
            s.parsed.bodyIsHtml = false;
        }
        s.summarizedNumber = d.number;
    }
    return 0;
}

// The session's own thread: a queue of downloads and deletions, carried out in order. A
// download is handed to a second thread to be parsed, so the next command goes out at once.
// After a command fails, the connection is gone: every later one is skipped.
class Lane {
public:
    enum class Kind { Download, Delete };

    explicit Lane(Pop3Session& s) : s_(s), thread_([this] { run(); })
    {
        parser_.setMaxThreadCount(1);
        parser_.setExpiryTimeout(-1);
    }
    ~Lane()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
        parser_.waitForDone();
    }

    std::shared_future<Download> add(Kind kind, int number)
    {
        auto job = std::make_unique<Job>();
        job->kind = kind;
        job->number = number;
        auto result = job->done.get_future().share();
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
        return result;
    }

    // Leaves the connection to the caller: downloads not yet begun are dropped, the command
    // under way is finished.
    void quiesce()
    {
        std::unique_lock lock(mutex_);
        std::erase_if(jobs_, [](const std::unique_ptr<Job>& job) { return job->kind == Kind::Download; });
        idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
    }

    // The command that failed first, if one did.
    std::optional<Download> failure()
    {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    struct Job {
        Kind kind = Kind::Download;
        int number = 0;
        std::promise<Download> done;
    };

    void run()
    {
        for (;;) {
            std::unique_ptr<Job> job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (stopping_)
                    return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
                running_ = true;
            }
            Download d = dead_ ? Download{} : carryOut(*job);
            d.number = job->number;
            d.skipped = dead_;
            if (!dead_ && d.failed()) {
                dead_ = true;
                std::lock_guard lock(mutex_);
                failure_ = d;
            }
            job->done.set_value(d);
            {
                std::lock_guard lock(mutex_);
                running_ = false;
            }
            idle_.notify_all();
        }
    }

    Download carryOut(const Job& job)
    {
        Download d;
        if (job.kind == Kind::Delete) {
            d.deletion = true;
            d.code = perform(s_, QByteArray::number(job.number), "DELE", nullptr, 0, d.overflow);
        } else {
            d = download(s_, job.number);
            if (!d.failed()) {
                auto read = std::make_shared<std::promise<Downloaded>>();
                d.read = read->get_future().share();
                parser_.start([raw = d.raw, read] { read->set_value(readDownloaded(raw, HtmlBody::AsHtml)); });
            }
        }
        if (d.code != CURLE_OK)
            d.problem = failureOf(s_, d.code);
        return d;
    }

    Pop3Session& s_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::unique_ptr<Job>> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    bool dead_ = false; // the session's thread only
    std::optional<Download> failure_;
    QThreadPool parser_;
    std::thread thread_; // last: it starts once the rest is in place
};

Pop3Session::~Pop3Session()
{
    lane.reset();
    if (curl)
        curl_easy_cleanup(curl);
}

// A command the session's thread skipped: the session is broken for the reason the earlier one
// failed.
int settleSkipped(Pop3Session& s)
{
    const std::optional<Download> failed = s.lane->failure();
    if (failed)
        settle(s, *failed);
    return kErrorAheadFailed;
}

// The connection is this thread's again. False when the session's thread lost it.
bool takeConnection(Pop3Session& s)
{
    if (!s.lane)
        return true;
    s.lane->quiesce();
    s.ahead.clear();
    if (s.lane->failure()) {
        settleSkipped(s);
        return false;
    }
    return true;
}

bool tooLarge(Pop3Session& s, int number)
{
    return s.sizes[size_t(number - 1)] > kMaxMessageBytes;
}

void readAhead(Pop3Session& s, int number)
{
    if (number < 1 || number > int(s.sizes.size()) || s.sizes[size_t(number - 1)] > kMaxReadAheadBytes
        || s.fetchedNumber == number || s.ahead.count(number))
        return;
    if (!s.lane)
        s.lane = std::make_unique<Lane>(s);
    s.ahead[number] = s.lane->add(Lane::Kind::Download, number);
}

int fetch(Pop3Session& s, int number)
{
    if (!usable(s) || !validNumber(s, number))
        return kErrorBadInput;
    if (s.fetchedNumber == number)
        return 0;
    if (tooLarge(s, number))
        return tooLargeToReceive(s, number);
    if (!s.lane) {
        const Download d = download(s, number);
        return settle(s, d);
    }
    const auto it = s.ahead.find(number);
    const std::shared_future<Download> result = it != s.ahead.end() ? it->second : s.lane->add(Lane::Kind::Download, number);
    // Messages before this one that were read ahead are not wanted any more.
    s.ahead.erase(s.ahead.begin(), s.ahead.upper_bound(number));
    const Download& d = result.get();
    return d.skipped ? settleSkipped(s) : settle(s, d);
}

// curl logs in with APOP whenever the greeting carries a timestamp; a plain login is sent by
// hand, on a connection where curl itself logs in with nothing.
CURLcode loginWithUserPass(Pop3Session& s, const QByteArray& user, const QByteArray& pass)
{
    const auto escaped = [&](const QByteArray& text) {
        char* e = curl_easy_escape(s.curl, text.constData(), int(text.size()));
        const QByteArray out(e ? e : "");
        curl_free(e);
        return out;
    };
    bool overflow = false;
    CURLcode code = perform(s, escaped(user), "USER", nullptr, 0, overflow);
    if (code == CURLE_OK)
        code = perform(s, escaped(pass), "PASS", nullptr, 0, overflow);
    // A refusal of either is a refused login.
    if (code != CURLE_OK && !s.log.lastError.isEmpty())
        code = CURLE_LOGIN_DENIED;
    return code;
}

void rememberDownload(Pop3Session& s, const QString& header)
{
    s.lastRaw = s.fetched;
    g_lastRaw = s.fetched;
    g_lastHeader = header;
    g_lastSingleText = s.parsed.singleText;
    g_lastParsed = s.parsed.message;
}

// LIST: "n size" per message, in order; numbering is the server's.
std::vector<qint64> messageSizes(const QByteArray& list)
{
    std::vector<qint64> sizes;
    for (const QByteArray& line : list.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        bool okNumber = false, okSize = false;
        const long long number = fields[0].toLongLong(&okNumber);
        const long long size = fields[1].toLongLong(&okSize);
        if (!okNumber || !okSize || number < 1 || size < 0 || number > 1000000)
            continue;
        if (size_t(number) > sizes.size())
            sizes.resize(size_t(number), 0);
        sizes[size_t(number - 1)] = size;
    }
    return sizes;
}

QString attachmentFolder(const QString& given)
{
    QString folder = given;
    const qsizetype nul = folder.indexOf(QChar(0));
    if (nul >= 0)
        folder.truncate(nul);
    if (folder.startsWith(QLatin1Char('\\')))
        folder = hm::dataPath(folder);
    while (folder.size() > 1 && (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))))
        folder.chop(1);
    return folder;
}

} // namespace

void NMailInitializeWinSock()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ensureMimeReady();
    g_converterProblem = missingCharsetConverters();
}

void NMailEndWinSock()
{
    g_sessions.clear();
    g_lastRaw.clear();
    g_lastHeader.clear();
    g_lastParsed.reset();
}

namespace {
int setAtLeastOne(int& setting, int value)
{
    if (value < 1)
        return kErrorBadInput;
    setting = value;
    return 0;
}
} // namespace

int NMailSetOption(int option, int value)
{
    switch (option) {
    case kOptionBufferSize:
        return 0;
    case kOptionConnectTimeout:
        return setAtLeastOne(settings().connectTimeout, value);
    case kOptionIdleTimeout:
        return setAtLeastOne(settings().idleTimeout, value);
    case kOptionSlowRate:
        return setAtLeastOne(settings().slowRate, value);
    case kOptionSlowTime:
        return setAtLeastOne(settings().slowTime, value);
    default:
        return kErrorBadInput;
    }
}

int NMailPop3Connect(const QString& server)
{
    if (!g_converterProblem.isEmpty()) {
        reportError({FailureKind::Other, g_converterProblem});
        return -1;
    }
    ServerAddress address;
    MailError problem;
    if (!acceptServer(server, Protocol::Pop3, address, problem)) {
        reportError(problem);
        return -1;
    }
    auto session = std::make_unique<Pop3Session>();
    session->address = address;
    session->curl = curl_easy_init();
    if (!session->curl) {
        reportError({FailureKind::Other, QStringLiteral("通信の準備ができません。")});
        return -1;
    }
    configureHandle(session->curl, address, Protocol::Pop3, &session->log);
    // Downloads keep their own pace (perform); replies have the reply timeout.
    curl_easy_setopt(session->curl, CURLOPT_LOW_SPEED_LIMIT, 0L);
    curl_easy_setopt(session->curl, CURLOPT_ERRORBUFFER, session->errorBuffer);
    curl_easy_setopt(session->curl, CURLOPT_OPENSOCKETFUNCTION, openSocket);
    curl_easy_setopt(session->curl, CURLOPT_OPENSOCKETDATA, session.get());
    curl_easy_setopt(session->curl, CURLOPT_MAXCONNECTS, 1L);
    const int handle = g_nextHandle++;
    if (g_nextHandle <= 0)
        g_nextHandle = 1;
    g_sessions[handle] = std::move(session);
    return handle;
}

int NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (s->authenticated)
        return s->broken ? kErrorFailed : int(s->sizes.size());
    const QByteArray user = id.section(QChar(0), 0, 0).toUtf8();
    const QByteArray pass = password.section(QChar(0), 0, 0).toUtf8();
    if (user.contains('\r') || user.contains('\n') || pass.contains('\r') || pass.contains('\n'))
        return refuse(*s, FailureKind::BadInput, QStringLiteral("ユーザーIDまたはパスワードに改行が含まれています。"));
    // APOP never sends the password itself.
    useTls(s->curl, s->address, apop == 0);
    QByteArray list;
    bool overflow = false;
    CURLcode code = CURLE_OK;
    if (apop != 0) {
        curl_easy_setopt(s->curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(s->curl, CURLOPT_PASSWORD, pass.constData());
        curl_easy_setopt(s->curl, CURLOPT_LOGIN_OPTIONS, "AUTH=+APOP");
    } else {
        code = loginWithUserPass(*s, user, pass);
    }
    if (code == CURLE_OK)
        code = perform(*s, QByteArray(), nullptr, &list, kListingLimit, overflow);
    if (overflow)
        return breakSession(*s, {FailureKind::TooLarge,
                                 QStringLiteral("POP3 サーバー「%1」のメール一覧が大きすぎます。").arg(s->address.host)});
    if (code != CURLE_OK) {
        MailError failure = failureOf(*s, code);
        if (failure.kind == FailureKind::LoginRefused && apop != 0 && s->log.lastError.isEmpty()
            && !s->log.greeting.contains('<'))
            failure.text = QStringLiteral("POP3 サーバー「%1」は APOP に対応していません。APOP を使わない設定で受信して下さい。")
                               .arg(s->address.host);
        return breakSession(*s, std::move(failure));
    }
    s->sizes = messageSizes(list);
    s->authenticated = true;
    s->allowNewSocket = false;
    s->log.dropOnError = true;
    curl_socket_t socket = CURL_SOCKET_BAD;
    curl_easy_getinfo(s->curl, CURLINFO_ACTIVESOCKET, &socket);
    s->log.socket = socket;
    return int(s->sizes.size());
}

int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& from,
                           QString& header, int)
{
    subject.clear();
    date.clear();
    from.clear();
    header.clear();
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    const int r = fetch(*s, number);
    if (r < 0)
        return r;
    if (s->summarizedNumber != number) {
        s->parsed = readDownloaded(s->fetched);
        s->summarizedNumber = number;
    }
    const HeaderSummary& summary = s->parsed.summary;
    subject = summary.subject;
    date = summary.date;
    from = summary.from;
    header = summary.header;
    return 0;
}

int NMailPop3GetMailSize(int handle, int number)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!usable(*s) || !validNumber(*s, number))
        return kErrorBadInput;
    if (tooLarge(*s, number))
        return tooLargeToReceive(*s, number);
    return int(s->sizes[size_t(number - 1)]);
}

int NMailPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from,
                     QString& header, QString& body, int, int)
{
    body.clear();
    const int r = NMailPop3GetMailStatus(handle, number, subject, date, from, header, 0);
    if (r < 0)
        return r;
    Pop3Session* s = find(handle);
    body = s->parsed.body;
    rememberDownload(*s, header);
    return 0;
}

int NMailAttachmentFileFirst(int, QString&, QString&, QString&, QString& header, QString& body,
                             const QString& folder, const QString&, const QString& wholeMessage, int)
{
    QByteArray raw;
    std::shared_ptr<const ParsedMessage> parsed;
    if (!g_lastRaw.isEmpty() && header.section(QChar(0), 0, 0) == g_lastHeader) {
        // The download parsed it already: one text part holds nothing to extract.
        if (g_lastSingleText)
            return 0;
        raw = g_lastRaw;
        parsed = g_lastParsed;
    } else {
        // Without the download at hand, the text given is the message; a single text part in
        // it was decoded already and holds nothing to extract.
        raw = wholeMessage.section(QChar(0), 0, 0).toUtf8();
        if (isSingleTextPart(raw))
            return 0;
    }
    const QString target = attachmentFolder(folder);
    if (target.isEmpty() || !QDir(target).exists()) {
        reportError({FailureKind::Files, QStringLiteral("添付フォルダ「%1」がありません。").arg(target)});
        return kErrorFileOpen;
    }
    const Extraction e = parsed ? extractAttachments(*parsed, target) : extractAttachments(raw, target);
    // A message without any text (a scanner's PDF sent alone) keeps no raw MIME as its body;
    // a fragment of a split message keeps what the download gave until it is whole.
    if (e.bodyFound)
        body = e.body;
    else if (e.result != kErrorPartsMissing)
        body.clear();
    if (e.result == kErrorFileOpen)
        reportError({FailureKind::Files, QStringLiteral("添付ファイルを添付フォルダ「%1」に書き込めません。").arg(target)});
    else if (e.result == kErrorPartsMissing)
        reportError({FailureKind::PartsMissing, QStringLiteral("分割されたメールが全て揃っていません。")});
    if (e.result >= 0 && e.stoppedInside)
        return kAttachmentsIncomplete;
    return e.result;
}

int NMailAttachmentFileClose(int)
{
    return 0;
}

int NMailPop3GetUidl(int handle, int number, QString& uidl)
{
    uidl.clear();
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!usable(*s) || !validNumber(*s, number))
        return kErrorBadInput;
    const QString none = QStringLiteral("POP3 サーバー「%1」はメールの識別番号（UIDL）を知らせません。").arg(s->address.host);
    // Only a server that names UIDL among its capabilities is asked: a refusal would end the
    // session.
    if (!s->log.offersUidl)
        return refuse(*s, FailureKind::NoUidl, none);
    if (!s->uidlsAsked) {
        if (!takeConnection(*s))
            return kErrorAheadFailed;
        QByteArray list;
        bool overflow = false;
        const CURLcode code = perform(*s, QByteArray(), "UIDL", &list, kListingLimit, overflow);
        if (overflow)
            return breakSession(*s, {FailureKind::TooLarge,
                                     QStringLiteral("POP3 サーバー「%1」のメールの識別番号（UIDL）の一覧が大きすぎるため（%2 MB 超）、受信できません。"
                                                    "サーバーに残っているメールを減らして下さい。")
                                         .arg(s->address.host)
                                         .arg(kListingLimit / (1024 * 1024))});
        if (code != CURLE_OK)
            return fail(*s, code);
        s->uidlsAsked = true;
        s->uidls.assign(s->sizes.size(), QByteArray());
        for (const QByteArray& line : list.split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() != 2)
                continue;
            bool ok = false;
            const long long n = fields[0].toLongLong(&ok);
            const QByteArray& id = fields[1];
            // RFC 1939: 1 to 70 characters from 0x21 to 0x7E.
            const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
            if (ok && n >= 1 && size_t(n) <= s->uidls.size() && id.size() <= 70 && printable)
                s->uidls[size_t(n - 1)] = id;
        }
    }
    uidl = QString::fromLatin1(s->uidls[size_t(number - 1)]);
    if (uidl.isEmpty())
        return refuse(*s, FailureKind::NoUidl, none);
    return 0;
}

int NMailPop3FetchAhead(int handle, int number)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!usable(*s) || !validNumber(*s, number))
        return kErrorBadInput;
    readAhead(*s, number);
    return 0;
}

int NMailPop3DeleteMail(int handle, int number, int fetchAhead)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!usable(*s) || !validNumber(*s, number))
        return kErrorBadInput;
    if (!s->lane) {
        bool overflow = false;
        const CURLcode code = perform(*s, QByteArray::number(number), "DELE", nullptr, 0, overflow);
        if (code != CURLE_OK)
            return fail(*s, code);
        readAhead(*s, fetchAhead);
        return 0;
    }
    // The deletion goes out after what is under way; the next download follows it at once,
    // while this thread learns how the deletion went.
    const std::shared_future<Download> result = s->lane->add(Lane::Kind::Delete, number);
    readAhead(*s, fetchAhead);
    const Download& d = result.get();
    if (d.skipped)
        return settleSkipped(*s);
    return settle(*s, d);
}

int NMailPop3Reset(int handle)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    // Whatever stops the reset also stops the deletions: the close then sends no QUIT.
    if (!takeConnection(*s) || !usable(*s)) {
        s->abandon = true;
        return kErrorFailed;
    }
    bool overflow = false;
    const CURLcode code = perform(*s, QByteArray(), "RSET", nullptr, 0, overflow);
    if (code != CURLE_OK) {
        s->abandon = true;
        return fail(*s, code);
    }
    return 0;
}

int NMailPop3Close(int handle)
{
    const auto it = g_sessions.find(handle);
    if (it == g_sessions.end())
        return kErrorBadHandle;
    Pop3Session& s = *it->second;
    // QUIT waits for a download under way: cutting it short would drop the connection.
    takeConnection(s);
    int result = s.broken || s.abandon ? kErrorFailed : 0;
    // The deletions take effect only when the server answers QUIT with +OK, so QUIT is sent
    // here and its reply read; curl's clean-up would send it without telling how it went. A
    // dead connection sends nothing, and neither does an abandoned one.
    if (result == 0 && s.authenticated) {
        bool overflow = false;
        const CURLcode code = perform(s, QByteArray(), "QUIT", nullptr, 0, overflow);
        if (code != CURLE_OK) {
            MailError failure = failureOf(s, code);
            failure.text = QStringLiteral("POP3 サーバー「%1」が終了の命令（QUIT）を受け付けなかったため、削除したメールはサーバーに残りました。\r\n")
                               .arg(s.address.host)
                           + failure.text;
            breakSession(s, std::move(failure));
            result = kErrorQuitRefused;
        }
    }
    // Nothing more goes out on this connection: not curl's own QUIT after ours, nor after an
    // abandon.
    if ((s.abandon || s.authenticated) && s.curl) {
        curl_socket_t socket = CURL_SOCKET_BAD;
        curl_easy_getinfo(s.curl, CURLINFO_ACTIVESOCKET, &socket);
        if (socket != CURL_SOCKET_BAD)
            ::shutdown(socket, SHUT_RDWR);
    }
    g_sessions.erase(it);
    return result;
}

QByteArray NMailPop3LastRawMessage(int handle)
{
    const auto it = g_sessions.find(handle);
    return it == g_sessions.end() ? QByteArray() : it->second->lastRaw;
}

int NMailGetMessage(int, QString& message, int& size)
{
    message = readReportedError();
    size = int(message.size());
    return size;
}

} // namespace hm::mail
