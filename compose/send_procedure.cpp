#include "compose/send_procedure.h"

#include "common/ansi_codec.h"
#include "common/clock_text.h"
#include "common/line_ends.h"
#include "common/ui_services.h"
#include "compose/address_source.h"
#include "compose/fortune.h"
#include "compose/send_mail.h"
#include "common/atomic_file.h"
#include "store/mail_store.h"
#include "store/whole_copy.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <unistd.h>

namespace hm::compose {
namespace {

using hm::store::Store;

const QString kErrorTitle = QStringLiteral("送信エラー");

QString trimRight(const QString& text)
{
    qsizetype n = text.size();
    while (n > 0 && text.at(n - 1) == QLatin1Char(' '))
        --n;
    return text.left(n);
}

// The clock text, or the current time in its format while the clock box is empty: every
// sent record carries its date.
QString sentDate()
{
    const QString clock = hm::clockText();
    return clock.trimmed().isEmpty() ? hm::formatClockText() : clock;
}

// A message that did not go out keeps its record, with the mark after its date, so the sent
// history does not show it as sent. Empty, or why the mark could not be set.
QString markNotSent(qint16 number, const QString& date)
{
    if (hm::store::SetRecordDate(Store::Sent, number, date + kNotSentMark))
        return {};
    return QStringLiteral("\n\n送信履歴に「未送信」の印を付けられませんでした。\n") + hm::store::lastError();
}

struct Missed {
    int pass;
    QString address;
    QString reason;
    bool marked;
};

QString missedText(const QList<Missed>& missed, int skipped)
{
    QStringList addresses, reasons;
    bool allMarked = true;
    for (const Missed& m : missed) {
        addresses << m.address;
        if (!reasons.contains(m.reason))
            reasons << m.reason;
        allMarked = allMarked && m.marked;
    }
    QString text = QStringLiteral("次の%1件のあて先には送信できませんでした%2。\n"
                                  "「送信」を押すと、このあて先だけに送り直します。\n\n")
                       .arg(missed.size())
                       .arg(allMarked ? QStringLiteral("（送信履歴には「未送信」と記録しました）") : QString()) +
                   addresses.join(QLatin1Char('\n')) + QStringLiteral("\n\n理由：\n") +
                   reasons.join(QLatin1Char('\n'));
    if (skipped > 0)
        text += QStringLiteral("\n\nアドレス帳にない%1件のあて先には送信していません。").arg(skipped);
    return text;
}

// One press of "送信": the passes of one draft over one SMTP connection.
class SendRun {
public:
    SendRun(const Draft& draft, SendFeedback& feedback)
        : draft_(draft), feedback_(feedback), passes_(draft.bulk ? qMin(draft.bulkRows, 32767) : 1),
          body_(hm::withCrLf(draft.body))
    {
    }
    void sendAll();

private:
    bool readAddresses();
    QList<int> passesToSend() const;
    QString recipientOf(int pass) const;
    qint16 recordSent(const QString& to, QString& date, QString& copy);
    void stopUnrecorded(const QList<int>& notReached);
    void singleFailed(const QString& reason);
    void finish();
    QList<int> missedPasses() const;
    void box(const QString& text, const QString& title, hm::ui::Icon icon);

    const Draft& draft_;
    SendFeedback& feedback_;
    const int passes_;
    const QString body_;
    QStringList addresses_;
    QList<Missed> missed_;
    int skipped_ = 0;
};

void SendRun::box(const QString& text, const QString& title, hm::ui::Icon icon)
{
    hm::ui::message(feedback_.BoxParent(), text, title, hm::ui::Buttons::Ok, icon);
}

// The address book is read once for all passes; false after a box saying it cannot be.
bool SendRun::readAddresses()
{
    if (!draft_.bulk || passes_ == 0)
        return true;
    QString error;
    if (ReadBookAddresses(addresses_, error))
        return true;
    box(QStringLiteral("アドレス帳を読めないため、一括送信を中止しました。\n") + error, kErrorTitle,
        hm::ui::Icon::Critical);
    feedback_.ShowStatus(QStringLiteral("送信を中止しました。"));
    feedback_.KeepDraft(draft_.passesLeft);
    return false;
}

// A bulk send that did not reach everyone goes only to those it missed.
QList<int> SendRun::passesToSend() const
{
    QList<int> todo;
    if (draft_.bulk)
        todo = draft_.passesLeft;
    todo.removeIf([&](int i) { return i < 1 || i > passes_; });
    if (todo.isEmpty())
        for (int i = 1; i <= passes_; ++i)
            todo << i;
    return todo;
}

// Pass i of a bulk send goes to address-book entry i.
QString SendRun::recipientOf(int pass) const
{
    if (!draft_.bulk)
        return draft_.to;
    return pass <= addresses_.size() ? trimRight(addresses_.at(pass - 1)) : QString();
}

// A new file in the sent-copy folder for a message kept whole; empty when none can be made.
QString newSentCopy(const QString& stamp)
{
    const QString folder = hm::store::sentCopyFolder();
    QString path;
    const int fd = QDir().mkpath(folder) ? hm::createUniqueFile(folder, stamp + QLatin1Char('-'), QStringLiteral(".eml"), &path)
                                         : -1;
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

bool cp932Loses(const QString& text)
{
    bool lost = false;
    hm::ansi::encode(text, &lost);
    return lost;
}

// The sent record, durable before the message goes out: its number and date, or 0 after a box
// saying why it could not be written. A message with characters the record cannot hold is
// also kept whole as it goes out: copy names the file, which the record's note names too.
qint16 SendRun::recordSent(const QString& to, QString& date, QString& copy)
{
    const qint16 r = hm::store::NextRecordNumber(Store::Sent);
    date = sentDate();
    QString body = Trim(body_);
    copy.clear();
    if (cp932Loses(draft_.subject) || cp932Loses(body) || cp932Loses(to)) {
        copy = newSentCopy(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        if (copy.isEmpty()) {
            box(QStringLiteral("送信記録に書けない文字を含むメールの控えを「%1」に作れないため、送信を中止しました。")
                    .arg(QDir::toNativeSeparators(hm::store::sentCopyFolder())),
                kErrorTitle, hm::ui::Icon::Critical);
            return 0;
        }
        body = hm::store::endingWithNote(body, hm::store::sentCopyNote(QFileInfo(copy).fileName()));
    }
    // A full store gives 0; AppendRecord refuses it and says why.
    if (hm::store::AppendRecord(Store::Sent, r, Trim(draft_.subject), Trim(to), date, body) &&
        hm::store::FlushStore(Store::Sent))
        return hm::store::CurrentRecordNumber();
    if (!copy.isEmpty())
        QFile::remove(copy);
    const QString reason = hm::store::lastError();
    box(QStringLiteral("送信済みメールを保存できないため、送信を中止しました。") +
            (reason.isEmpty() ? QString() : QStringLiteral("\n") + reason),
        kErrorTitle, hm::ui::Icon::Critical);
    return 0;
}

void SendRun::sendAll()
{
    if (!readAddresses())
        return;
    const QList<int> todo = passesToSend();
    SendSession session;
    for (qsizetype k = 0; k < todo.size(); ++k) {
        const int i = todo.at(k);
        const QString to = recipientOf(i);
        if (to.trimmed().isEmpty()) {
            ++skipped_;
            continue;
        }
        if (draft_.bulk) {
            feedback_.ShowProgress(i, passes_, int(missed_.size()));
            session.serveEvents();
        }
        QString date, copy;
        const qint16 r = recordSent(to, date, copy);
        if (r == 0) {
            stopUnrecorded(todo.mid(k));
            return;
        }
        // Each message carries one fortune of its own; the draft's body stays without.
        const QString sent = draft_.fortune ? WithFortune(body_, DrawFortuneNumber()) : body_;
        if (session.send(to, draft_.subject, sent, draft_.attachments, copy) >= 0)
            continue;
        const QString reason = LastSendError();
        const QString markProblem = markNotSent(r, date);
        if (!draft_.bulk) {
            singleFailed(reason + markProblem);
            return;
        }
        missed_.append({i, to, reason + markProblem, markProblem.isEmpty()});
    }
    finish();
}

QList<int> SendRun::missedPasses() const
{
    QList<int> passes;
    for (const Missed& m : missed_)
        passes << m.pass;
    return passes;
}

// Nothing of the message is lost: the draft stays for another try, which sends only to those
// not reached.
void SendRun::stopUnrecorded(const QList<int>& notReached)
{
    if (!draft_.bulk) {
        feedback_.ShowStatus(QStringLiteral("送信を中止しました。"));
        feedback_.KeepDraft(draft_.passesLeft);
        return;
    }
    const QList<int> left = missedPasses() + notReached;
    feedback_.ShowStatus(QStringLiteral("送信を中止しました（%1 / %2 件送信済み）。「送信」で残りを送ります。")
                             .arg(passes_ - left.size())
                             .arg(passes_));
    feedback_.KeepDraft(left);
}

void SendRun::singleFailed(const QString& reason)
{
    box(reason, kErrorTitle, hm::ui::Icon::None);
    feedback_.ShowStatus(QStringLiteral("送信できませんでした。入力した内容はそのまま残っています。"));
    feedback_.KeepDraft(draft_.passesLeft);
}

void SendRun::finish()
{
    if (!missed_.isEmpty()) {
        feedback_.ShowStatus(QStringLiteral("%1件のあて先に送信できませんでした。「送信」で送り直します。")
                                 .arg(missed_.size()));
        box(missedText(missed_, skipped_), kErrorTitle, hm::ui::Icon::Warning);
        feedback_.KeepDraft(missedPasses());
        return;
    }
    if (skipped_ > 0) {
        feedback_.ShowStatus(kSentText + QStringLiteral("（アドレス帳にない%1件は送信していません）").arg(skipped_));
        // The window closes next, so the status line alone would go unseen.
        box(QStringLiteral("アドレス帳にない%1件のあて先には送信していません。").arg(skipped_),
            QStringLiteral("一括送信"), hm::ui::Icon::Information);
    } else {
        feedback_.ShowStatus(kSentText);
    }
    feedback_.AllSent();
}

} // namespace

QString ProgressText(int pass, int passes, int missed)
{
    QString text = kSendingText + QStringLiteral("　%1 / %2").arg(pass).arg(passes);
    if (missed > 0)
        text += QStringLiteral("（未送信 %1件）").arg(missed);
    return text;
}

void RunSendProcedure(const Draft& draft, SendFeedback& feedback)
{
    // A message without a recipient goes nowhere: nothing is recorded, nothing changes.
    if (!draft.bulk && draft.to.trimmed().isEmpty()) {
        hm::ui::message(feedback.BoxParent(),
                        QStringLiteral("宛先が入力されていません。宛先を入力してから送信して下さい。"),
                        kErrorTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
        feedback.AskForRecipient();
        return;
    }
    feedback.SendStarted();
    feedback.ShowStatus(kSendingText);
    SendRun(draft, feedback).sendAll();
}

void SendReply(const Draft& draft, QWidget* parent)
{
    SendSession session;
    if (session.send(draft.to, draft.subject, hm::withCrLf(draft.body), draft.attachments) < 0)
        ReportSendError(parent);
}

} // namespace hm::compose
