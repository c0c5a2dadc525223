#pragma once
#include "compose/draft.h"

#include <QList>
#include <QString>

class QWidget;

namespace hm::compose {

inline const QString kSendingText = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
inline const QString kSentText = QStringLiteral("送信完了です。");
// After the date of a sent record whose message did not go out.
inline const QString kNotSentMark = QStringLiteral("  ※未送信");

// What the send procedure tells the window whose draft it sends. The compose window
// implements it; the procedure knows nothing else of the window.
class SendFeedback {
public:
    virtual ~SendFeedback() = default;
    // The parent of the procedure's boxes.
    virtual QWidget* BoxParent() = 0;
    // The send begins: a second "送信" and attachment changes wait until it is over.
    virtual void SendStarted() = 0;
    // The status line, painted at once: the send blocks the window.
    virtual void ShowStatus(const QString& text) = 0;
    // Bulk pass `pass` of `passes` goes out; `missed` passes have failed so far.
    virtual void ShowProgress(int pass, int passes, int missed) = 0;
    // Refused for want of a recipient, before anything was written.
    virtual void AskForRecipient() = 0;
    // Not every message went out: the draft stays for another try, which (bulk) sends only
    // to passesLeft, or to every row when that is empty.
    virtual void KeepDraft(const QList<int>& passesLeft) = 0;
    // Every message went out: the draft is done with.
    virtual void AllSent() = 0;
};

// The status line during bulk pass `pass` of `passes`.
QString ProgressText(int pass, int passes, int missed);

// "送信" of the compose window: one pass per recipient (each recorded in the sent store
// before it goes out, and marked when it did not), then, when every one went out, AllSent;
// otherwise KeepDraft.
void RunSendProcedure(const Draft& draft, SendFeedback& feedback);

// "送信" of the reply window: the same send call and error report, nothing recorded.
void SendReply(const Draft& draft, QWidget* parent);

} // namespace hm::compose
