#include "app/check_mail.h"

#include "app/uidl_ledger.h"
#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/fd_io.h"
#include "common/program_folder.h"
#include "common/text_search.h"
#include "common/ui_services.h"
#include "history/editor_text.h"
#include "history/history_mode.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "settings/sign_in.h"
#include "store/mail_store.h"
#include "store/whole_copy.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>

using namespace hm::mail;

namespace {

const QString kMarker = QStringLiteral("attachment");
const QString kNotice =
    QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");

bool g_running = false;
std::function<QDateTime()> g_clock;
// The server last told that it cannot keep mail: said once, not at every check.
QString g_keepRefusedFor;

QDateTime now()
{
    return g_clock ? g_clock() : QDateTime::currentDateTimeUtc();
}

QString lastLibraryMessage()
{
    QString text;
    int size = 8192;
    NMailGetMessage(0, text, size);
    return CutAtNul(text);
}

// The scratch file of a run: a file of its own, made afresh in the attachment folder under a
// hidden name that no attachment takes (their names never begin with a dot), never through a
// link. One descriptor serves the whole run, so each message costs a write and a read, not a
// file made and removed; the end of the run removes it, and only if the name is still its own.
class ScratchFile {
public:
    ~ScratchFile() { remove(); }
    void setFolder(const QString& folder) { folder_ = folder; }
    const QString& path() const { return path_; }
    // Replaces the content with bytes and reads it back into back.
    bool rewrite(const QByteArray& bytes, QByteArray& back)
    {
        if (fd_ < 0)
            fd_ = hm::createUniqueFile(folder_, QStringLiteral(".0-"), QStringLiteral(".txt"), &path_);
        if (fd_ < 0)
            return false;
        back.resize(bytes.size());
        return hm::writeFully(fd_, bytes.constData(), bytes.size(), 0) && ::ftruncate(fd_, bytes.size()) == 0
               && hm::readFully(fd_, back.data(), back.size(), 0) == back.size();
    }
    void remove()
    {
        if (fd_ < 0)
            return;
        const QByteArray name = QFile::encodeName(path_);
        struct stat mine, there;
        if (::fstat(fd_, &mine) == 0 && ::lstat(name.constData(), &there) == 0 && mine.st_dev == there.st_dev
            && mine.st_ino == there.st_ino)
            ::unlink(name.constData());
        ::close(fd_);
        fd_ = -1;
        path_.clear();
    }

private:
    QString folder_;
    QString path_;
    int fd_ = -1;
};

// Writes header and body (bodyBytes: the body in CP932) to the scratch file and reads it back
// as lines, each ended by CR LF, with a NUL at the end: the whole message as the attachment
// call expects it. The file stays in the page cache.
bool wholeMessageThroughScratch(ScratchFile& scratch, const QString& header, const QByteArray& bodyBytes, QString& whole)
{
    QByteArray written = hm::ansi::encode(header);
    written.reserve(written.size() + bodyBytes.size() + 4);
    written += "\r\n";
    written += bodyBytes;
    written += "\r\n";
    QByteArray bytes;
    if (!scratch.rewrite(written, bytes))
        return false;
    QByteArray joined;
    joined.reserve(bytes.size() + 16);
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\r', pos);
        if (end < 0)
            end = bytes.size();
        joined.append(bytes.constData() + pos, end - pos);
        joined.append("\r\n");
        pos = end + 1;
        if (pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }
    whole = hm::ansi::decode(joined) + QChar(0);
    return true;
}

// A name in the attachment folder that is not taken yet.
QString freeEmlPath(int number)
{
    const QString folder = hm::store::attachmentFolder();
    const QString stem = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = QStringLiteral("%1-%2.eml").arg(stem).arg(number);
    for (int i = 2; QFileInfo(folder + QLatin1Char('/') + name).exists(); ++i)
        name = QStringLiteral("%1-%2-%3.eml").arg(stem).arg(number).arg(i);
    return folder + QLatin1Char('/') + name;
}

// The store holds a body as it is when it fits the field, holds no NUL and CP932 can show
// every character (in its Windows form: 〜 as ～, − as －). encoded: the field's bytes. A text
// that is the downloaded body takes the scratch file's encoding: Trim drops only spaces, and
// byte 0x20 is never half of a CP932 character.
bool storeHoldsWhole(const QString& text, bool heldNul, QByteArray& encoded, const QString& downloaded,
                     const QByteArray& downloadedBytes, bool downloadedLost)
{
    bool lost = false;
    if (text == downloaded) {
        qsizetype begin = 0, end = downloadedBytes.size();
        while (begin < end && downloadedBytes[begin] == ' ')
            ++begin;
        while (end > begin && downloadedBytes[end - 1] == ' ')
            --end;
        encoded = downloadedBytes.mid(begin, end - begin);
        lost = downloadedLost;
    } else {
        encoded = hm::ansi::encode(Trim(text), &lost);
    }
    return !heldNul && !lost && encoded.size() <= hm::store::kBodyWidth;
}

// What the store keeps of a body it cannot hold whole, or of a message not taken apart to its
// end: as much as fits, and where the whole message went.
QString bodyPointingToCopy(const QString& text, const QString& copyPath, bool stoppedInside)
{
    const QString why = stoppedInside ? QStringLiteral("入れ子が深すぎて最後まで展開できなかった")
                                      : QStringLiteral("全文を保存しきれない");
    return hm::store::endingWithNote(Trim(text), hm::store::wholeCopyNote(why, QFileInfo(copyPath).fileName()));
}

// Messages that stayed on the server, counted by reason, in the order the reasons arose.
class LeftOnServer {
public:
    void add(int count, const QString& reason)
    {
        if (count <= 0)
            return;
        total_ += count;
        for (auto& [n, r] : reasons_)
            if (r == reason) {
                n += count;
                return;
            }
        reasons_.append({count, reason});
    }
    int total() const { return total_; }
    QString lines() const
    {
        QStringList out;
        for (const auto& [n, r] : reasons_)
            out << QStringLiteral("%1通: %2").arg(n).arg(r);
        return out.join(QLatin1Char('\n'));
    }

private:
    QList<std::pair<int, QString>> reasons_;
    int total_ = 0;
};

namespace reason {
QString tooLarge(int megabytes)
{
    return QStringLiteral("大きすぎるため受信しませんでした（%1 MB 超）").arg(megabytes);
}
const QString noSpace = QStringLiteral("添付フォルダの空き容量が足りないため受信しませんでした");
const QString notReceived = QStringLiteral("最後まで受信できなかったため保存していません");
const QString scratchNotWritten = QStringLiteral("作業ファイルを書き込めなかったため保存していません");
const QString attachmentsNotWritten = QStringLiteral("添付ファイルを書き込めなかったため保存していません");
const QString copyNotWritten = QStringLiteral("全文の控えを書き込めなかったため保存していません");
const QString storeRefused = QStringLiteral("受信記録に書き込めなかったため保存していません");
const QString runStopped = QStringLiteral("受信を中止したため受信していません");
const QString sessionBroken = QStringLiteral("保存しましたが、サーバーとの接続が正常に終わらなかったため削除されていません");
const QString notFlushed = QStringLiteral("保存しましたが、確実に保存できなかったためサーバーから削除していません");
const QString quitRefused = QStringLiteral("保存しましたが、サーバーが削除を確定しなかったためサーバーに残りました");
// What the next check does with such a message: delete it (it is in the ledger) or store it again.
const QString deletedNextTime = QStringLiteral("（次の受信でサーバーから削除します）");
const QString comesAgain = QStringLiteral("（次の受信でもう一度届きます）");
} // namespace reason

// One run of the mail check: log in, then per message status, size, download, attachments,
// store and deletion in that order; the first failure ends the run and leaves that message
// and every later one on the server.
class MailCheck {
public:
    explicit MailCheck(const MailCheckWindows& windows)
        : main_(windows.main), account_(windows.account), history_(windows.history)
    {
    }
    void run();

private:
    enum class Outcome { Stored, Skipped, Stopped };
    // A message on its way from the server to the store.
    struct Message {
        QString subject, date, from, header, body;
        bool heldNul = false;
        // The body as downloaded, and in CP932 (bodyLost: CP932 lost a character).
        QString downloaded;
        QByteArray bodyBytes;
        bool bodyLost = false;
        bool stoppedInside = false; // taken apart only partly (kAttachmentsIncomplete)
        // What the record holds: the text and the body field's bytes.
        QString text;
        QByteArray field;
    };

    void setSizeLimit();
    void readKeepSetting();
    void logIn();
    bool openLedger();
    QString whyIdsCannotKeep(const QStringList& uidls) const;
    bool dueForDeletion(int n) const;
    int notStoredFrom(int n) const;
    Outcome receive(int n);
    std::optional<Outcome> download(int n, Message& m);
    std::optional<Outcome> extractAttachments(int n, Message& m);
    std::optional<Outcome> fitToStore(int n, Message& m);
    Outcome append(int n, const Message& m);
    Outcome markForDeletion(int n, bool keptBefore = false);
    Outcome stop(int n, const QString& message, const QString& why);
    void close();
    void report();
    QString resultText() const;
    void showProblems();
    void announceNewMail();
    void showProgress(int n);
    qint16 nextRecordNumber() const;
    void announceDownloads();

    MailCheckDisplay& main_;
    AccountPrompt& account_;
    hm::history::MessageStaging& history_;
    int handle_ = -1;
    int count_ = 0;
    int attachmentFlag_ = 0;
    int maxMegabytes_ = kDefaultMaxMessageMegabytes;
    bool missingCredentials_ = false;
    // Mail stays on the server, and what was stored more than that many days ago goes (0: never).
    bool keep_ = false;
    int deleteAfterDays_ = 0;
    int stored_ = 0;
    int appended_ = 0; // stored_ counts too what an earlier check stored (the ledger's)
    int deleted_ = 0;
    // Messages kept on the server by earlier checks: how many, how many of them were marked for
    // deletion, and how many of those stayed all the same. They are no new mail.
    int keptBefore_ = 0;
    int oldDeleted_ = 0;
    int oldLeft_ = 0;
    // Of the stored messages, those the ledger knows; whether the last one stored is.
    int ledgered_ = 0;
    bool lastLedgered_ = false;
    UidlLedger ledger_;
    LeftOnServer left_;
    QString stopMessage_;
    QString quitMessage_; // why the server did not carry out the deletions at QUIT
    // Why the run never reached the mailbox: the connection or the login failed.
    QString failure_;
    QString soundProblem_;
    QElapsedTimer sinceProgress_;
    // Resolved once a run: the paths do not move while it lasts.
    ScratchFile scratch_;
    QString attachmentFolder_;
    hm::store::AppendRun appendRun_{hm::store::Store::Received};

    // The four header buffers live for the whole run.
    QString subject_, date_, from_, header_;
    // The history window's boxes are the staging area of each record; only the last
    // message's texts stay visible there, so they are filled once, at the end.
    struct {
        QString subject, from, date, body;
        bool any = false;
    } shown_;
};

void MailCheck::run()
{
    auto& account = hm::settings::account();
    if (!account.Pop3Server.isEmpty()) {
        setSizeLimit();
        readKeepSetting();
        handle_ = NMailPop3Connect(account.Pop3Server);
        if (handle_ == -1)
            failure_ = lastLibraryMessage();
        main_.showHelp(QStringLiteral("メールのチェックをしています。"));
    }
    if (handle_ != -1) {
        const QString folder = hm::store::attachmentFolder();
        attachmentFolder_ = folder + QLatin1Char('/');
        scratch_.setFolder(folder);
        // A big message goes to a file there, beside the .eml copy made of it.
        NMailPop3SetDownloadFolder(handle_, folder);
        logIn();
        if (openLedger()) {
            announceDownloads();
            for (int n = 1; n <= count_; ++n)
                if (receive(n) == Outcome::Stopped)
                    break;
        }
        close();
    }
    report();
}

// The largest message downloaded: the user's own setting, 1 GB when there is none.
void MailCheck::setSizeLimit()
{
    QString text;
    const int megabytes = hm::settings::MaxMessageMegabytes(&text);
    maxMegabytes_ = megabytes > 0 ? megabytes : kDefaultMaxMessageMegabytes;
    if (megabytes < 0)
        hm::ui::message(main_.boxParent(),
                        QStringLiteral("アカウントファイル（iniIdPass.ini）の [%1] %2=「%3」は、受信するメールの大きさの上限"
                                       "（1 以上の整数、MB 単位）として使えないため、%4 MB までのメールを受信します。")
                            .arg(hm::settings::kOwnSection, QString::fromLatin1(hm::settings::kMaxMessageKey), text)
                            .arg(maxMegabytes_),
                        hm::ui::programName());
    NMailSetOption(kOptionMaxMessageMegabytes, maxMegabytes_);
}

void MailCheck::readKeepSetting()
{
    QString badDays;
    const hm::settings::KeepOnServer k = hm::settings::ReadKeepOnServer(&badDays);
    keep_ = k.keep;
    deleteAfterDays_ = k.deleteAfterDays;
    if (keep_ && !badDays.isEmpty())
        hm::ui::message(main_.boxParent(),
                        QStringLiteral("アカウントファイル（iniIdPass.ini）の [%1] %2=「%3」は、受信後にサーバーから削除するまでの日数"
                                       "（0 以上の整数）として使えないため、サーバーに残したメールを削除しません。")
                            .arg(hm::settings::kOwnSection, QString::fromLatin1(hm::settings::kDeleteAfterDaysKey), badDays),
                        hm::ui::programName());
}

void MailCheck::logIn()
{
    auto& account = hm::settings::account();
    const QString id = hm::settings::ReadAccountValue(QStringLiteral("NAME"));
    const QString password = hm::settings::ReadAccountValue(QStringLiteral("NAME2"));
    account_.holdAccount(id, password);
    account.UserId = id;
    account.UserPassword = password;
    // An account that signs in through the browser logs in with a token, not the password.
    const bool signIn = hm::settings::LoadSignInSettings().browserSignIn;
    if (id.isEmpty() || (password.isEmpty() && !signIn)) {
        missingCredentials_ = true;
        account_.askForAccount();
        return;
    }
    QString token;
    if (signIn) {
        token = hm::settings::AccountAccessToken(main_.boxParent());
        if (token.isEmpty()) {
            // The user was told why; the check stops before it connects.
            failure_ = QStringLiteral("ブラウザでのサインインができなかったため、受信を中止しました。");
            return;
        }
    }
    NMailSetAccessToken(token);
    count_ = NMailPop3Authenticate(handle_, id, password, account.ApopFlag != 0 ? -1 : 0);
    if (count_ < 0) {
        // A token the server refused is not tried again: the next check gets a fresh one.
        if (signIn && count_ == kErrorLogin)
            hm::settings::ForgetAccessToken();
        failure_ = lastLibraryMessage();
        hm::ui::message(main_.boxParent(), failure_, QStringLiteral("エラー"));
    }
}

// False when the run cannot go on: the server's UIDL listing failed the session.
bool MailCheck::openLedger()
{
    if (count_ < 1)
        return true;
    QStringList uidls;
    QList<qint64> sizes;
    for (int n = 1; n <= count_; ++n) {
        QString uidl;
        const int r = NMailPop3GetUidl(handle_, n, uidl);
        if (r < 0 && r != kErrorNoUidl) {
            stop(1, lastLibraryMessage(), QString());
            return false;
        }
        uidls << uidl;
        sizes << std::max(-1, NMailPop3GetMailSize(handle_, n));
    }
    if (keep_) {
        const QString why = whyIdsCannotKeep(uidls);
        const QString server = hm::settings::account().Pop3Server;
        if (!why.isEmpty()) {
            keep_ = false;
            if (g_keepRefusedFor != server)
                hm::ui::message(main_.boxParent(),
                                QStringLiteral("POP3 サーバー「%1」は%2ため、「サーバーにメールを残す」を使えません。"
                                               "受信したメールはこれまでどおりサーバーから削除します。")
                                    .arg(server, why),
                                hm::ui::programName());
            g_keepRefusedFor = server;
        } else if (g_keepRefusedFor == server) {
            g_keepRefusedFor.clear();
        }
    }
    QString notice;
    ledger_.open(uidls, sizes, &notice);
    if (!notice.isEmpty())
        hm::ui::message(main_.boxParent(), notice, hm::ui::programName());
    for (int n = 1; n <= count_; ++n)
        keptBefore_ += ledger_.storedOn(n).isValid() ? 1 : 0;
    return true;
}

// Mail kept on the server is known by its UIDL alone, so every message needs one of its own
// that stays with it. A server whose every id is its message number (Dovecot's "%u" on a
// mailbox nothing was ever deleted from looks the same) would, once another client deletes a
// message, hand a known id to another message, which would then never be stored: the listing
// alone has to decide, since a mailbox that only grows looks the same under both. Empty when the
// ids will do, otherwise why not.
QString MailCheck::whyIdsCannotKeep(const QStringList& uidls) const
{
    bool none = true, numbers = true;
    QSet<QString> seen;
    for (qsizetype i = 0; i < uidls.size(); ++i) {
        if (!uidls[i].isEmpty())
            none = false;
        if (uidls[i] != QString::number(i + 1))
            numbers = false;
    }
    if (none)
        return QStringLiteral("メールの識別子（UIDL）を返さない");
    if (numbers)
        return QStringLiteral("メールの識別子（UIDL）としてメールの番号しか返さない");
    for (const QString& uidl : uidls) {
        if (uidl.isEmpty() || seen.contains(uidl))
            return QStringLiteral("識別子（UIDL）のないメールや、同じ識別子のメールを返す");
        seen.insert(uidl);
    }
    return {};
}

// Kept on the server and stored more than the days set ago.
bool MailCheck::dueForDeletion(int n) const
{
    const QDateTime storedOn = ledger_.storedOn(n);
    return deleteAfterDays_ > 0 && storedOn.isValid() && storedOn.addDays(deleteAfterDays_) < now();
}

// Messages from n on that this check would have stored: with mail kept, those never stored
// before; otherwise all but those kept by earlier checks.
int MailCheck::notStoredFrom(int n) const
{
    int waiting = 0;
    for (int i = std::max(n, 1); i <= count_; ++i)
        waiting += (keep_ ? ledger_.alreadyStored(i) : ledger_.storedOn(i).isValid()) ? 0 : 1;
    return waiting;
}

MailCheck::Outcome MailCheck::receive(int n)
{
    showProgress(n);
    if (ledger_.storedOn(n).isValid()) {
        // Kept on the server by an earlier check: it stays until its days are up.
        if (keep_ && !dueForDeletion(n))
            return Outcome::Skipped;
        return markForDeletion(n, true);
    }
    // Stored by a check that never reached QUIT: only the deletion is left to do, or with mail
    // kept, nothing.
    if (ledger_.alreadyStored(n)) {
        ++stored_;
        ++ledgered_;
        lastLedgered_ = true;
        if (keep_) {
            ledger_.noteKeeping(n);
            return Outcome::Stored;
        }
        return markForDeletion(n);
    }
    Message m;
    if (const auto ended = download(n, m))
        return *ended;
    if (const auto ended = extractAttachments(n, m))
        return *ended;
    if (const auto ended = fitToStore(n, m))
        return *ended;
    return append(n, m);
}

// Status, size and the message itself; an outcome when the message goes no further.
std::optional<MailCheck::Outcome> MailCheck::download(int n, Message& m)
{
    const int status = NMailPop3GetMailStatus(handle_, n, subject_, date_, from_, header_, 0);
    const QString statusError = status < 0 ? lastLibraryMessage() : QString();
    // A size beyond the cap leaves the message on the server and the run goes on; the status
    // call refuses such a message too.
    const int size = NMailPop3GetMailSize(handle_, n);
    if (size == kErrorTooLarge) {
        left_.add(1, reason::tooLarge(maxMegabytes_));
        return Outcome::Skipped;
    }
    // Too big for the disk as it is: the next one may fit.
    if (status == kErrorNoSpace) {
        left_.add(1, reason::noSpace);
        return Outcome::Skipped;
    }
    // A command sent before this message's (a deletion) failed: it was never asked for.
    if (status == kErrorAheadFailed)
        return stop(n, statusError, reason::runStopped);
    if (status < 0)
        return stop(n, statusError, reason::notReceived);
    if (size < 0)
        return stop(n, lastLibraryMessage(), reason::notReceived);
    if (NMailPop3GetMail(handle_, n, subject_, date_, from_, header_, m.body, 0, 0) < 0)
        return stop(n, lastLibraryMessage(), reason::notReceived);
    m.subject = CutAtNul(subject_);
    m.date = CutAtNul(date_);
    m.from = CutAtNul(from_);
    m.header = CutAtNul(header_);
    // One look for a NUL: the text stops there.
    const qsizetype nul = m.body.indexOf(QChar(0));
    m.heldNul = nul >= 0;
    if (m.heldNul)
        m.body.truncate(nul);
    attachmentFlag_ = hm::holdsText(m.body, kMarker) ? 1 : 0;
    return std::nullopt;
}

// The attachment call writes the attachments and gives back the message's text.
std::optional<MailCheck::Outcome> MailCheck::extractAttachments(int n, Message& m)
{
    // The body in CP932, for the record when the stored text is that body.
    m.bodyBytes = hm::ansi::encode(m.body, &m.bodyLost);
    // The attachment call reads the message from the scratch file only when it lacks the
    // download; the round trip would cost a write, a read and two conversions a message.
    QString whole;
    if (!NMailAttachmentHasDownload(header_)
        && !wholeMessageThroughScratch(scratch_, m.header, m.bodyBytes, whole)) {
        scratch_.remove();
        return stop(n, QStringLiteral("添付フォルダに作業ファイルを書き込めません。"), reason::scratchNotWritten);
    }
    m.downloaded = m.body;
    const int result = NMailAttachmentFileFirst(0, subject_, date_, from_, header_, m.body, attachmentFolder_,
                                                scratch_.path(), whole, 0);
    NMailAttachmentFileClose(0);
    if (result == kErrorFileOpen) {
        hm::ui::message(main_.boxParent(), QStringLiteral("添付ファイルをオープンできません"),
                        hm::ui::programName());
        return stop(n, lastLibraryMessage(), reason::attachmentsNotWritten);
    }
    if (result == kErrorPartsMissing)
        hm::ui::message(main_.boxParent(), QStringLiteral("分割されたメールが全て揃っていません"),
                        hm::ui::programName());
    // The message's text, read again by the attachment call; the download was cut at its NUL.
    const bool same = m.body.constData() == m.downloaded.constData() && m.body.size() == m.downloaded.size();
    if (!same && m.body != m.downloaded) {
        m.heldNul = m.body.contains(QChar(0));
        m.body = CutAtNul(m.body);
    }
    if (attachmentFlag_ == 1)
        m.body += QStringLiteral("\r\n") + kNotice;
    m.stoppedInside = result == kAttachmentsIncomplete;
    return std::nullopt;
}

// The record's text and body field: the text itself when the store holds it whole, otherwise
// as much as fits with a pointer to a whole copy in the attachment folder.
std::optional<MailCheck::Outcome> MailCheck::fitToStore(int n, Message& m)
{
    m.text = hm::history::EditorPlainText(m.body);
    // A subject or sender with characters CP932 lacks is kept whole in the copy too.
    bool headersLost = false;
    hm::ansi::encode(m.subject, &headersLost);
    if (!headersLost)
        hm::ansi::encode(m.from, &headersLost);
    if (!m.stoppedInside && !headersLost && storeHoldsWhole(m.text, m.heldNul, m.field, m.downloaded, m.bodyBytes, m.bodyLost))
        return std::nullopt;
    const QString copy = freeEmlPath(n);
    // Once this is done the message may be deleted from the server: the copy is on disk.
    if (NMailPop3SaveLastMessage(handle_, copy) < 0)
        return stop(n, QStringLiteral("メールの全文を添付フォルダの「%1」に書き込めません。").arg(QFileInfo(copy).fileName()),
                    reason::copyNotWritten);
    m.text = bodyPointingToCopy(m.text, copy, m.stoppedInside);
    m.field = hm::ansi::encode(Trim(m.text));
    return std::nullopt;
}

MailCheck::Outcome MailCheck::append(int n, const Message& m)
{
    const qint16 number = nextRecordNumber();
    bool noted = false;
    const auto note = [&](qint16 at, const QByteArray& checksum) { noted = ledger_.noteStoring(n, at, checksum); };
    if (!hm::store::AppendRecord(hm::store::Store::Received, number, m.subject, m.from, m.date, m.text, m.field, note))
        return stop(n, hm::store::lastError(), reason::storeRefused);
    ++stored_;
    ++appended_;
    lastLedgered_ = noted;
    ledgered_ += noted ? 1 : 0;
    shown_ = {m.subject, m.from, m.date, m.text, true};
    // Kept only when the ledger knows it: the next check would store it again otherwise.
    if (keep_ && noted) {
        ledger_.noteKeeping(n);
        return Outcome::Stored;
    }
    return markForDeletion(n);
}
// Marked here, deleted at QUIT: only after the store is flushed (close()).
MailCheck::Outcome MailCheck::markForDeletion(int n, bool keptBefore)
{
    const int r = NMailPop3DeleteMail(handle_, n);
    if (r < 0)
        return stop(n + 1, lastLibraryMessage(), QString());
    ++(keptBefore ? oldDeleted_ : deleted_);
    ledger_.noteDeleted(n);
    return Outcome::Stored;
}

// Every message to be downloaded, in order: the library reads ahead as far as the server
// allows while each one is stored. Messages stored by an earlier check are only deleted.
void MailCheck::announceDownloads()
{
    for (int n = 1; n <= count_; ++n)
        if (!ledger_.alreadyStored(n))
            NMailPop3FetchAhead(handle_, n);
}

// What NextRecordNumber gives: after an append of this run the store holds whole records only,
// so the number follows the one written, without a look at the file.
qint16 MailCheck::nextRecordNumber() const
{
    if (appended_ == 0)
        return hm::store::NextRecordNumber(hm::store::Store::Received);
    const qint16 last = hm::store::CurrentRecordNumber();
    return last >= std::numeric_limits<qint16>::max() ? 0 : qint16(last + 1);
}

// Ends the run at message n: n stays on the server for the reason given, and so does every
// later message.
MailCheck::Outcome MailCheck::stop(int n, const QString& message, const QString& why)
{
    stopMessage_ = message;
    if (n <= count_ && !why.isEmpty()) {
        left_.add(1, why);
        attachmentFlag_ = 0; // the last message handled was not stored
        ++n;
    }
    left_.add(notStoredFrom(n), reason::runStopped);
    return Outcome::Stopped;
}

void MailCheck::close()
{
    scratch_.remove();

    // Deletions happen at QUIT: they may only go ahead once the stored copies are on disk.
    bool flushed = true;
    if (stored_ > 0 && !hm::store::FlushStore(hm::store::Store::Received)) {
        flushed = false;
        NMailPop3Reset(handle_);
        const QString why = hm::store::lastError()
                            + QStringLiteral("\n受信したメールを確実に保存できなかったため、サーバーから削除しませんでした。");
        stopMessage_ = stopMessage_.isEmpty() ? why : stopMessage_ + QStringLiteral("\n\n") + why;
    }
    // A date says the record is on disk: written only after the store's flush.
    if (keep_ && flushed && stored_ > 0)
        ledger_.writeDates(now());
    // A ledger that did not reach the disk may not be there for the next check.
    if (ledgered_ > 0 && !ledger_.flush()) {
        ledgered_ = 0;
        lastLedgered_ = false;
    }
    // The last message is staged while the server carries out the deletions.
    NMailPop3Quit(handle_);
    if (shown_.any)
        history_.StageMessage(shown_.subject, shown_.from, shown_.date, shown_.body);
    const int closed = NMailPop3Close(handle_);
    const bool quit = closed == 0;
    if (closed == kErrorQuitRefused && deleted_ + oldDeleted_ > 0)
        quitMessage_ = lastLibraryMessage();
    // The messages deleted are gone: the server may give their UIDLs to new mail.
    if (quit && flushed)
        ledger_.forgetDeleted();
    // Stored but still on the server: all of them when the deletions were void, otherwise the
    // one whose deletion was refused. Mail kept on purpose is not among them.
    const bool allStay = !flushed || !quit;
    const int staying = keep_ ? 0 : allStay ? stored_ : stored_ - deleted_;
    const int known = keep_ ? 0 : allStay ? ledgered_ : (lastLedgered_ ? staying : 0);
    const QString& why = !flushed ? reason::notFlushed : closed == kErrorQuitRefused ? reason::quitRefused : reason::sessionBroken;
    left_.add(known, why + reason::deletedNextTime);
    left_.add(staying - known, why + reason::comesAgain);
    // Older mail due for deletion stays dated in the ledger: the next check deletes it.
    oldLeft_ = allStay ? oldDeleted_ : 0;
    left_.add(oldLeft_, why + reason::deletedNextTime);
}

void MailCheck::report()
{
    if (attachmentFlag_ == 1 && stored_ > 0) {
        main_.showStatus(QStringLiteral("添付ファイルメール。"));
        announceNewMail();
    }
    QString status = resultText();
    main_.showStatus(status);
    if (count_ >= 1 && stored_ > 0)
        announceNewMail();
    if (!soundProblem_.isEmpty())
        status += QStringLiteral("（新着音を鳴らせません: %1）").arg(soundProblem_.section(QLatin1Char('\n'), 0, 0).trimmed());
    main_.showResult(status);
    showProblems();
}

// Only a check that reached the mailbox may say there is no mail.
QString MailCheck::resultText() const
{
    // Mail kept on the server by earlier checks is not new.
    const int arrived = count_ - keptBefore_;
    if (arrived >= 1) {
        QString text = QString::number(arrived) + QStringLiteral("の新着メール有り。");
        if (left_.total() > oldLeft_)
            text += QStringLiteral("（%1通を保存、%2通はサーバーに残しました）").arg(stored_).arg(left_.total() - oldLeft_);
        return text;
    }
    if (!failure_.isEmpty())
        return QStringLiteral("受信できませんでした: ") + failure_.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (hm::settings::account().Pop3Server.isEmpty())
        return QStringLiteral("POP3 サーバーが設定されていません。");
    return missingCredentials_ ? QStringLiteral("IDとパスワードが保存されていません。")
                               : QStringLiteral("新着メール無し。");
}

// One box for what went wrong and what stayed on the server; none when all went well.
void MailCheck::showProblems()
{
    if (stopMessage_.isEmpty() && quitMessage_.isEmpty() && left_.total() == 0)
        return;
    const QString list = left_.total() > 0 ? QStringLiteral("サーバーに残したメール:\n") + left_.lines() : QString();
    QStringList problems;
    if (!stopMessage_.isEmpty())
        problems << stopMessage_ + QStringLiteral("\n\n受信を中止しました。");
    if (!quitMessage_.isEmpty())
        problems << quitMessage_;
    if (problems.isEmpty()) {
        hm::ui::message(main_.boxParent(), list, hm::ui::programName(), hm::ui::Buttons::Ok,
                        hm::ui::Icon::Information);
        return;
    }
    QString text = problems.join(QStringLiteral("\n\n"));
    if (!list.isEmpty())
        text += QStringLiteral("\n") + list;
    hm::ui::message(main_.boxParent(), text, QStringLiteral("エラー"));
}

// The new-mail picture and sound. Without a sound device every play fails: the status line
// says so once, and no box stops the user after each check.
void MailCheck::announceNewMail()
{
    main_.showNewMailPicture();
    const QString problem = main_.playNewMailSound();
    if (!problem.isEmpty())
        soundProblem_ = problem;
}

// The run holds the window's thread. A few times a second it shows how far it got and serves
// what is pending except the user's input: the desktop's ping is answered, windows repaint and
// the clock ticks, while clicks wait until the run is over.
void MailCheck::showProgress(int n)
{
    if (sinceProgress_.isValid() && sinceProgress_.elapsed() < 100 && n != count_)
        return;
    sinceProgress_.start();
    main_.showStatus(QStringLiteral("%1 / %2").arg(n).arg(count_));
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

bool MailCheckRunning()
{
    return g_running;
}

void SetMailCheckClock(std::function<QDateTime()> clock)
{
    g_clock = std::move(clock);
}

void CheckMail(const MailCheckWindows& windows)
{
    if (g_running)
        return;
    g_running = true;
    // The receive command looks unavailable while it runs.
    const bool enabled = windows.main.receiveEnabled();
    windows.main.setReceiveEnabled(false);
    MailCheck(windows).run();
    // A big message passed through; the heap it used goes back to the system.
    ::malloc_trim(0);
    // Clicks queued while the run blocked arrive now and find it still running.
    QCoreApplication::processEvents();
    windows.main.setReceiveEnabled(enabled);
    g_running = false;
}
