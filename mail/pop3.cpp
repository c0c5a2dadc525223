#include "mail/nmail.h"

#include "mail/charset.h"
#include "mail/mime.h"
#include "mail/pop3_pipeline.h"
#include "mail/spool_file.h"
#include "mail/transfer_failure.h"
#include "mail/wire.h"
#include "common/atomic_file.h"
#include "common/fd_io.h"
#include "common/program_folder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace hm::mail {
namespace {

using Reply = Pop3Pipeline::Reply;
using Outcome = Pop3Pipeline::Outcome;

// The most a LIST or UIDL listing may take.
constexpr qint64 kListingLimit = 16 * 1024 * 1024;
// Read ahead while the caller stores, when the server pipelines: at most this many messages
// and bytes asked for and not yet taken (always one, whatever its size).
constexpr int kAheadMessages = 64;
constexpr qint64 kAheadBytes = 2 * 1024 * 1024;
// How far past its announced size a message may run: a server counts line ends as it stores
// them, and a line that ends in LF alone there arrives a byte longer.
constexpr qint64 kSizeSlack = 1024 * 1024;
constexpr qint64 kMegabyte = 1024 * 1024;
// What a big message needs on disk besides itself and what is extracted from it: the record,
// the ledger, room for the rest of the system.
constexpr qint64 kSpaceMargin = 16 * kMegabyte;

// The largest message downloaded (kOptionMaxMessageMegabytes).
qint64 g_maxMessageBytes = qint64(kDefaultMaxMessageMegabytes) * kMegabyte;

// One POP3 session: one login, one connection. Once logged in, the session never opens a
// second connection, so message numbers and pending deletions stay those of this login.
struct Pop3Session {
    ServerAddress address;
    CURL* curl = nullptr;
    ReplyLog log;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::unique_ptr<Wire> wire;
    std::unique_ptr<Pop3Pipeline> pipeline;
    bool authenticated = false;
    bool broken = false;
    bool abandon = false; // close without QUIT: pending deletions must not take effect
    std::vector<qint64> sizes;
    std::vector<QByteArray> uidls; // by number; empty until asked for
    bool uidlsAsked = false;
    quint64 uidlTicket = 0; // asked together with the listing
    int fetchedNumber = 0;
    // The message fetched: in memory, or for a big one in a file of its own (spool).
    QByteArray fetched;
    std::shared_ptr<SpoolFile> spool;
    Downloaded parsed;
    // The message the caller took last (NMailPop3GetMail).
    bool lastTaken = false;
    QByteArray lastRaw;
    std::shared_ptr<SpoolFile> lastSpool;
    QString downloadFolder = QDir::tempPath();
    ErrorRecord errors;
    // The messages the caller said it will ask for, in that order; those asked of the server
    // and not yet taken (number → ticket); deletions whose replies have not been read.
    std::deque<int> plan;
    bool planInOrder = true; // each number in the plan above the one before
    std::map<int, quint64> ahead;
    std::deque<std::pair<int, quint64>> deletions;
    quint64 quitTicket = 0; // QUIT sent, its answer not yet read

    ~Pop3Session()
    {
        // Nothing more goes out: not curl's own QUIT after ours, nor one after an abandon.
        if (wire)
            wire->shutDown();
        if (curl)
            curl_easy_cleanup(curl);
    }
};

std::map<int, std::unique_ptr<Pop3Session>> g_sessions;
int g_nextHandle = 1;

// What the attachment call falls back to: the last message downloaded on any handle, until
// the attachment call is closed or that handle is.
bool g_lastAtHand = false;
int g_lastHandle = 0;
QString g_lastHeader;
bool g_lastSingleText = false;
std::shared_ptr<const ParsedMessage> g_lastParsed;

// Converters the charset room lacks: mail would lose its Japanese text, so none is received.
QString g_converterProblem;

Pop3Session* find(int handle)
{
    const auto it = g_sessions.find(handle);
    if (it == g_sessions.end()) {
        reportError({FailureKind::NoSession, QStringLiteral("POP3 の接続がありません。")});
        return nullptr;
    }
    return it->second.get();
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

qint64 sizeOf(const Pop3Session& s, int number)
{
    return s.sizes[size_t(number - 1)];
}

bool tooLarge(const Pop3Session& s, int number)
{
    return sizeOf(s, number) > g_maxMessageBytes;
}

int tooLargeToReceive(Pop3Session& s, int number)
{
    return refuse(s, FailureKind::TooLarge, QStringLiteral("メール %1 は大きすぎるため受信しません（%2 バイト、上限 %3 MB）。")
                                                .arg(number)
                                                .arg(sizeOf(s, number))
                                                .arg(g_maxMessageBytes / kMegabyte));
}

// A message too big to be read ahead is not held in memory either: it goes to a file.
bool downloadedToFile(const Pop3Session& s, int number)
{
    return sizeOf(s, number) > kMaxReadAheadBytes;
}

qint64 megabytesAbove(qint64 bytes)
{
    return (bytes + kMegabyte - 1) / kMegabyte;
}

// The file a big message goes to, once the download folder is known to have room for the
// message and what is extracted from it; kErrorNoSpace or kErrorFileOpen when not.
int makeSpool(Pop3Session& s, int number, std::shared_ptr<SpoolFile>& spool)
{
    const qint64 needed = 2 * sizeOf(s, number) + kSpaceMargin;
    struct statvfs fs;
    if (::statvfs(QFile::encodeName(s.downloadFolder).constData(), &fs) == 0
        && qint64(fs.f_bavail) * qint64(fs.f_frsize) < needed) {
        refuse(s, FailureKind::Files,
               QStringLiteral("メール %1（%2 MB）は、「%3」の空き容量が足りないため受信しません（空き %4 MB、必要 %5 MB）。")
                   .arg(number)
                   .arg(megabytesAbove(sizeOf(s, number)))
                   .arg(QDir::toNativeSeparators(s.downloadFolder))
                   .arg(qint64(fs.f_bavail) * qint64(fs.f_frsize) / kMegabyte)
                   .arg(megabytesAbove(needed)));
        return kErrorNoSpace;
    }
    spool = SpoolFile::create(s.downloadFolder);
    if (!spool)
        return refuse(s, FailureKind::Files, QStringLiteral("メール %1 を受信するための作業ファイルを「%2」に作れません（%3）。")
                                                 .arg(number)
                                                 .arg(QDir::toNativeSeparators(s.downloadFolder),
                                                      QString::fromLocal8Bit(strerror(errno))));
    return 0;
}

// A download whose file could not take it all: the lines were still read to their end, so the
// session goes on.
int spoolFailed(Pop3Session& s, int number, const SpoolFile& spool)
{
    const int why = spool.error();
    if (why == ENOSPC || why == EDQUOT) {
        refuse(s, FailureKind::Files, QStringLiteral("メール %1 は、受信中に「%2」の空き容量が足りなくなったため受信しませんでした。")
                                          .arg(number)
                                          .arg(QDir::toNativeSeparators(s.downloadFolder)));
        return kErrorNoSpace;
    }
    return refuse(s, FailureKind::Files, QStringLiteral("メール %1 を「%2」の作業ファイルに書き込めません（%3）。")
                                             .arg(number)
                                             .arg(QDir::toNativeSeparators(s.downloadFolder),
                                                  QString::fromLocal8Bit(strerror(why))));
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

qint64 messageCap(const Pop3Session& s, int number)
{
    return std::min(g_maxMessageBytes, 2 * sizeOf(s, number) + kSizeSlack);
}

// spool: where the message goes, for a big one.
Pop3Pipeline::Command retrieval(const Pop3Session& s, int number, SpoolFile* spool = nullptr)
{
    // However slow the line, a message comes at slowRate bytes a second or better.
    const TransferSettings& t = settings();
    const qint64 deadlineMs = (qint64(t.slowTime) + sizeOf(s, number) / t.slowRate) * 1000;
    Pop3Pipeline::Command c{"RETR " + QByteArray::number(number), true, messageCap(s, number),
                            QStringLiteral("メール %1").arg(number), deadlineMs, {}, sizeOf(s, number)};
    if (spool)
        c.sink = [spool](QByteArrayView bytes) { return spool->append(bytes); };
    return c;
}

MailError refusal(FailureKind kind, const QString& sentence, const Reply& reply)
{
    return replyFailure(kind, sentence, reply.status);
}

// Reads off the deletions whose replies have come in. A refused one ends the session: the
// close then sends no QUIT, so no deletion of this session takes effect.
bool settleDeletions(Pop3Session& s)
{
    while (!s.broken && !s.deletions.empty() && s.pipeline->arrived(s.deletions.front().second)) {
        const int number = s.deletions.front().first;
        const Reply reply = s.pipeline->take(s.deletions.front().second);
        s.deletions.pop_front();
        if (reply.outcome != Outcome::Ok)
            breakSession(s, reply.outcome == Outcome::Refused
                                ? refusal(FailureKind::ServerRefused, QStringLiteral("POP3 サーバー「%1」がメール %2 の削除を受け付けませんでした。")
                                                 .arg(s.address.host)
                                                 .arg(number),
                                          reply)
                                : s.wire->failure());
    }
    return !s.broken;
}

// The reply to ticket. 0 when it came (refused or not); kErrorAheadFailed when a command sent
// before it failed and took the connection; otherwise the negative result of its own failure,
// whose text overflow gives when the reply outgrew its cap (made only then: it is asked of every
// message).
int awaitReply(Pop3Session& s, quint64 ticket, Reply& reply, const std::function<QString()>& overflow = {})
{
    // A deletion refused before it ends the session before this command goes out, when the
    // server takes one command at a time.
    while (!s.deletions.empty() && s.deletions.front().second < ticket && s.pipeline->wait(s.deletions.front().second))
        if (!settleDeletions(s))
            return kErrorAheadFailed;
    reply = s.pipeline->await(ticket);
    const bool ownFailure = s.pipeline->brokenAt() == ticket;
    if (!settleDeletions(s))
        return kErrorAheadFailed;
    if (reply.outcome == Outcome::Ok || reply.outcome == Outcome::Refused)
        return 0;
    if (!ownFailure) {
        breakSession(s, s.wire->failure());
        return kErrorAheadFailed;
    }
    if (reply.outcome == Outcome::Overflow && overflow)
        return breakSession(s, {FailureKind::TooLarge, overflow(), QString()});
    return breakSession(s, s.wire->failure());
}

// Asks the server for the next messages of the plan, as far ahead as it takes them. A server
// that pipelines gets them in batches: the window is filled again once half of it has been
// taken, and what is queued goes out with the next download asked for (fetch).
bool readAhead(Pop3Session& s)
{
    const bool pipelining = s.log.offersPipelining;
    const int most = pipelining ? kAheadMessages : 1;
    if (pipelining && int(s.ahead.size()) > most / 2)
        return false;
    bool queued = false;
    qint64 bytes = 0;
    for (const auto& [number, ticket] : s.ahead)
        bytes += sizeOf(s, number);
    while (!s.plan.empty()) {
        const int number = s.plan.front();
        // A big message is asked for only when it is wanted: it would be held twice, and a
        // close would wait for it.
        if (number <= s.fetchedNumber || s.ahead.count(number) || sizeOf(s, number) > kMaxReadAheadBytes
            || tooLarge(s, number)) {
            s.plan.pop_front();
            continue;
        }
        if (int(s.ahead.size()) >= most || (!s.ahead.empty() && bytes + sizeOf(s, number) > kAheadBytes))
            break;
        s.plan.pop_front();
        s.ahead[number] = s.pipeline->queue(retrieval(s, number));
        bytes += sizeOf(s, number);
        queued = true;
    }
    // A failed send shows at the next reply awaited.
    if (!pipelining)
        s.pipeline->push();
    return queued;
}

void plan(Pop3Session& s, int number)
{
    if (number < 1 || number > int(s.sizes.size()) || number == s.fetchedNumber || s.ahead.count(number))
        return;
    // A check announces its messages in order: each goes past the plan's last, and the
    // announcements stay linear however many there are.
    const bool afterLast = s.plan.empty() || number > s.plan.back();
    if ((s.planInOrder && afterLast) || std::find(s.plan.begin(), s.plan.end(), number) == s.plan.end()) {
        s.planInOrder = s.planInOrder && afterLast;
        s.plan.push_back(number);
    }
}

int fetch(Pop3Session& s, int number)
{
    if (!usable(s) || !validNumber(s, number))
        return kErrorBadInput;
    if (s.fetchedNumber == number)
        return 0;
    if (tooLarge(s, number))
        return tooLargeToReceive(s, number);
    // The message before goes first: a big one is never held beside another, in memory or on
    // the disk.
    s.fetchedNumber = 0;
    s.fetched.clear();
    s.spool.reset();
    s.parsed = {};
    s.lastTaken = false;
    s.lastRaw.clear();
    s.lastSpool.reset();
    std::shared_ptr<SpoolFile> spool;
    if (downloadedToFile(s, number))
        if (const int r = makeSpool(s, number, spool))
            return r;
    // Messages before this one that were read ahead are not wanted any more.
    for (auto it = s.ahead.begin(); it != s.ahead.end() && it->first < number; it = s.ahead.erase(it))
        s.pipeline->drop(it->second);
    if (s.planInOrder)
        while (!s.plan.empty() && s.plan.front() <= number)
            s.plan.pop_front();
    else
        std::erase_if(s.plan, [number](int n) { return n <= number; });
    quint64 ticket = 0;
    if (const auto it = s.ahead.find(number); it != s.ahead.end()) {
        ticket = it->second;
        s.ahead.erase(it);
    } else {
        ticket = s.pipeline->queue(retrieval(s, number, spool.get()));
    }
    // The next messages travel behind it while it is read and stored. A server that takes one
    // command at a time gets the next only once this one has come whole. Deletions queued
    // meanwhile wait for the next batch of downloads, or for a download not yet asked for.
    const bool refilled = s.log.offersPipelining && readAhead(s);
    if (refilled || s.pipeline->queued(ticket))
        s.pipeline->push();
    Reply reply;
    if (const int r = awaitReply(s, ticket, reply, [&s, number] {
            return QStringLiteral("メール %1 はサーバーが知らせた大きさを超えたため受信を中止しました（上限 %2 バイト）。")
                .arg(number)
                .arg(messageCap(s, number));
        }))
        return r;
    if (reply.outcome == Outcome::Refused)
        return breakSession(s, refusal(FailureKind::ServerRefused, describeFailure(FailureKind::ServerRefused, CURLE_OK, s.address, QString()), reply));
    if (spool && (reply.sinkFailed || !spool->finish())) {
        readAhead(s);
        return spoolFailed(s, number, *spool);
    }
    s.fetchedNumber = number;
    if (spool) {
        s.spool = std::move(spool);
        s.parsed = readDownloaded(std::shared_ptr<const SpoolFile>(s.spool));
    } else {
        s.fetched = std::move(reply.body);
        s.parsed = readDownloaded(s.fetched);
    }
    readAhead(s);
    return 0;
}

// A command whose reply is awaited at once; 0 when the server accepted it.
int command(Pop3Session& s, const QByteArray& line)
{
    Reply reply;
    if (const int r = awaitReply(s, s.pipeline->queue({line}), reply))
        return r;
    if (reply.outcome == Outcome::Refused)
        return breakSession(s, refusal(FailureKind::ServerRefused, describeFailure(FailureKind::ServerRefused, CURLE_OK, s.address, QString()), reply));
    return 0;
}

// Throws away what was read ahead and not taken.
void forgetAhead(Pop3Session& s)
{
    for (const auto& [number, ticket] : s.ahead)
        s.pipeline->drop(ticket);
    s.ahead.clear();
    s.plan.clear();
    s.planInOrder = true;
}

MailError failureOf(Pop3Session& s, CURLcode code)
{
    return transferFailure(s.curl, code, s.address, s.log, s.errorBuffer);
}

// curl logs in with APOP whenever the greeting carries a timestamp; a plain login goes out
// here, on a connection where curl itself logs in with nothing.
int loginWithUserPass(Pop3Session& s, const QByteArray& user, const QByteArray& pass)
{
    for (const QByteArray& line : {"USER " + user, "PASS " + pass}) {
        Reply reply;
        if (const int r = awaitReply(s, s.pipeline->queue({line}), reply))
            return r;
        if (reply.outcome == Outcome::Refused)
            return breakSession(s, refusal(FailureKind::LoginRefused,
                                           describeFailure(FailureKind::LoginRefused, CURLE_OK, s.address, QString()), reply));
    }
    return 0;
}

void rememberDownload(int handle, Pop3Session& s, const QString& header)
{
    s.lastTaken = true;
    s.lastRaw = s.fetched;
    s.lastSpool = s.spool;
    g_lastAtHand = true;
    g_lastHandle = handle;
    g_lastHeader = header;
    g_lastSingleText = s.parsed.singleText;
    g_lastParsed = s.parsed.message;
}

// The parse goes, and with it the file of a big message.
void forgetDownload()
{
    g_lastAtHand = false;
    g_lastHandle = 0;
    g_lastHeader.clear();
    g_lastParsed.reset();
}

// A new file at path holding bytes, on disk; nothing at path when it failed.
bool writeNewFile(const QString& path, const QByteArray& bytes)
{
    const int fd = hm::openOwnFile(path, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0)
        return false;
    bool ok = hm::writeFully(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && hm::syncDirectoryOf(path))
        return true;
    ::unlink(QFile::encodeName(path).constData());
    return false;
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
    forgetDownload();
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
    case kOptionMaxMessageMegabytes:
        if (value < 1)
            return kErrorBadInput;
        g_maxMessageBytes = qint64(value) * kMegabyte;
        return 0;
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
    curl_easy_setopt(session->curl, CURLOPT_ERRORBUFFER, session->errorBuffer);
    // curl connects and logs in; the session's commands go out on the wire (Wire).
    curl_easy_setopt(session->curl, CURLOPT_CONNECT_ONLY, 1L);
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
    if (s->wire)
        return kErrorFailed; // a login that failed is not tried again on its connection
    const QByteArray user = id.section(QChar(0), 0, 0).toUtf8();
    const QByteArray pass = password.section(QChar(0), 0, 0).toUtf8();
    if (user.contains('\r') || user.contains('\n') || pass.contains('\r') || pass.contains('\n'))
        return refuse(*s, FailureKind::BadInput, QStringLiteral("ユーザーIDまたはパスワードに改行が含まれています。"));
    // APOP never sends the password itself; a token login goes through curl like APOP.
    const bool bearer = !accessToken().isEmpty();
    useTls(s->curl, s->address, apop == 0 || bearer);
    if (bearer) {
        useAccessToken(s->curl, s->address, user);
    } else if (apop != 0) {
        curl_easy_setopt(s->curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(s->curl, CURLOPT_PASSWORD, pass.constData());
        curl_easy_setopt(s->curl, CURLOPT_LOGIN_OPTIONS, "AUTH=+APOP");
    }
    const QByteArray url = s->address.url() + '/';
    curl_easy_setopt(s->curl, CURLOPT_URL, url.constData());
    const CURLcode code = curl_easy_perform(s->curl);
    if (code != CURLE_OK) {
        MailError failure = failureOf(*s, code);
        if (failure.kind == FailureKind::LoginRefused && apop != 0 && !bearer && s->log.lastError.isEmpty()
            && !s->log.greeting.contains('<'))
            failure.text = QStringLiteral("POP3 サーバー「%1」は APOP に対応していません。APOP を使わない設定で受信して下さい。")
                               .arg(s->address.host);
        return breakSession(*s, std::move(failure));
    }
    s->wire = std::make_unique<Wire>(s->curl, s->address, s->log.openSsl);
    s->pipeline = std::make_unique<Pop3Pipeline>(*s->wire, s->log.offersPipelining);
    if (apop == 0 && !bearer)
        if (const int r = loginWithUserPass(*s, user, pass))
            return r == kErrorAheadFailed ? kErrorFailed : r;
    const quint64 listing = s->pipeline->queue({"LIST", true, kListingLimit});
    // A server that pipelines gets the ids in the same round trip.
    if (s->log.offersPipelining && s->log.offersUidl)
        s->uidlTicket = s->pipeline->queue({"UIDL", true, kListingLimit});
    Reply list;
    if (const int r = awaitReply(*s, listing, list,
                                 [s] { return QStringLiteral("POP3 サーバー「%1」のメール一覧が大きすぎます。").arg(s->address.host); }))
        return r == kErrorAheadFailed ? kErrorFailed : r;
    if (list.outcome == Outcome::Refused)
        return breakSession(*s, refusal(FailureKind::ServerRefused,
                                        describeFailure(FailureKind::ServerRefused, CURLE_OK, s->address, QString()), list));
    s->sizes = messageSizes(list.body);
    s->authenticated = true;
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
    rememberDownload(handle, *s, header);
    return 0;
}

int NMailAttachmentFileFirst(int, QString&, QString&, QString&, QString& header, QString& body,
                             const QString& folder, const QString&, const QString& wholeMessage, int)
{
    QByteArray raw;
    std::shared_ptr<const ParsedMessage> parsed;
    if (NMailAttachmentHasDownload(header)) {
        // The download parsed it already: one text part holds nothing to extract.
        if (g_lastSingleText)
            return 0;
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

int NMailAttachmentHasDownload(const QString& header)
{
    if (!g_lastAtHand)
        return 0;
    // The header up to its first NUL, looked at where it lies.
    const qsizetype nul = header.indexOf(QChar(0));
    return QStringView(header).first(nul < 0 ? header.size() : nul) == g_lastHeader ? 1 : 0;
}

int NMailAttachmentFileClose(int)
{
    forgetDownload();
    return 0;
}

namespace {

// The ids of every message, by number.
int readUidls(Pop3Session& s)
{
    if (!s.uidlTicket) {
        forgetAhead(s);
        s.uidlTicket = s.pipeline->queue({"UIDL", true, kListingLimit});
    }
    Reply reply;
    const int r = awaitReply(s, s.uidlTicket, reply, [&s] {
        return QStringLiteral("POP3 サーバー「%1」のメールの識別番号（UIDL）の一覧が大きすぎるため（%2 MB 超）、受信できません。"
                              "サーバーに残っているメールを減らして下さい。")
            .arg(s.address.host)
            .arg(kListingLimit / (1024 * 1024));
    });
    if (r)
        return r;
    if (reply.outcome == Outcome::Refused)
        return breakSession(s, refusal(FailureKind::ServerRefused,
                                       describeFailure(FailureKind::ServerRefused, CURLE_OK, s.address, QString()), reply));
    s.uidlsAsked = true;
    s.uidls.assign(s.sizes.size(), QByteArray());
    for (const QByteArray& line : reply.body.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2)
            continue;
        bool ok = false;
        const long long n = fields[0].toLongLong(&ok);
        const QByteArray& id = fields[1];
        // RFC 1939: 1 to 70 characters from 0x21 to 0x7E.
        const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
        if (ok && n >= 1 && size_t(n) <= s.uidls.size() && id.size() <= 70 && printable)
            s.uidls[size_t(n - 1)] = id;
    }
    return 0;
}

} // namespace

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
    if (!s->uidlsAsked)
        if (const int r = readUidls(*s))
            return r == kErrorAheadFailed ? kErrorFailed : r;
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
    // Asked of the server with the next command the caller sends.
    plan(*s, number);
    return 0;
}

int NMailPop3DeleteMail(int handle, int number, int fetchAhead)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!usable(*s) || !validNumber(*s, number))
        return kErrorBadInput;
    // The reply is read with a later one; a refusal then ends the session before QUIT.
    s->deletions.emplace_back(number, s->pipeline->queue({"DELE " + QByteArray::number(number)}));
    plan(*s, fetchAhead);
    readAhead(*s);
    return 0;
}

int NMailPop3Reset(int handle)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    // Whatever stops the reset also stops the deletions: the close then sends no QUIT.
    if (!usable(*s)) {
        s->abandon = true;
        return kErrorFailed;
    }
    forgetAhead(*s);
    if (const int r = command(*s, "RSET")) {
        s->abandon = true;
        return r == kErrorAheadFailed ? kErrorFailed : r;
    }
    s->deletions.clear();
    return 0;
}

namespace {

// Every deletion must be known to have been accepted before QUIT commits them, and QUIT goes
// out alone: what it answers is then what became of them. 0 when QUIT may go out.
int readyToQuit(Pop3Session& s)
{
    if (s.authenticated && !s.broken && !s.abandon && s.quitTicket == 0) {
        forgetAhead(s);
        if (!s.pipeline->finish())
            breakSession(s, s.wire->failure());
        settleDeletions(s);
    }
    return s.broken || s.abandon ? kErrorFailed : 0;
}

} // namespace

int NMailPop3Quit(int handle)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!s->authenticated || readyToQuit(*s) != 0)
        return kErrorFailed;
    if (s->quitTicket == 0) {
        s->quitTicket = s->pipeline->queue({"QUIT"});
        s->pipeline->push(); // a failed send shows when the close reads the answer
    }
    return 0;
}

int NMailPop3Close(int handle)
{
    const auto it = g_sessions.find(handle);
    if (it == g_sessions.end())
        return kErrorBadHandle;
    Pop3Session& s = *it->second;
    int result = readyToQuit(s);
    // The deletions take effect only when the server answers QUIT with +OK. A dead connection
    // sends nothing, and neither does an abandoned one.
    if (result == 0 && s.authenticated) {
        const Reply reply = s.pipeline->await(s.quitTicket != 0 ? s.quitTicket : s.pipeline->queue({"QUIT"}));
        if (reply.outcome != Outcome::Ok) {
            MailError failure = reply.outcome == Outcome::Refused ? refusal(FailureKind::ServerRefused,
                                                                            describeFailure(FailureKind::ServerRefused, CURLE_OK,
                                                                                            s.address, QString()),
                                                                            reply)
                                                                  : s.wire->failure();
            failure.text = QStringLiteral("POP3 サーバー「%1」が終了の命令（QUIT）を受け付けなかったため、削除したメールはサーバーに残りました。\r\n")
                               .arg(s.address.host)
                           + failure.text;
            breakSession(s, std::move(failure));
            result = kErrorQuitRefused;
        }
    }
    if (g_lastHandle == handle)
        forgetDownload();
    g_sessions.erase(it);
    return result;
}

int NMailPop3SetDownloadFolder(int handle, const QString& folder)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    s->downloadFolder = attachmentFolder(folder);
    return 0;
}

QByteArray NMailPop3LastRawMessage(int handle)
{
    const auto it = g_sessions.find(handle);
    if (it == g_sessions.end())
        return QByteArray();
    const Pop3Session& s = *it->second;
    return s.lastSpool ? s.lastSpool->read(0, s.lastSpool->size()) : s.lastRaw;
}

int NMailPop3SaveLastMessage(int handle, const QString& path)
{
    Pop3Session* s = find(handle);
    if (!s)
        return kErrorBadHandle;
    if (!s->lastTaken)
        return refuse(*s, FailureKind::BadInput, QStringLiteral("保存するメールがありません。"));
    if (!(s->lastSpool ? s->lastSpool->saveAs(path) : writeNewFile(path, s->lastRaw)))
        return refuse(*s, FailureKind::Files, QStringLiteral("メールの全文を「%1」に書き込めません。").arg(QDir::toNativeSeparators(path)));
    return 0;
}

int NMailGetMessage(int, QString& message, int& size)
{
    message = readReportedError();
    size = int(message.size());
    return size;
}

} // namespace hm::mail
