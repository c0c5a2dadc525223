#pragma once
#include <QString>

class WriteForm;

namespace hm::compose {

inline const QString kSendingText = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
inline const QString kSentText = QStringLiteral("送信完了です。");
// After the date of a sent record whose message did not go out.
inline const QString kNotSentMark = QStringLiteral("  ※未送信");

// "送信" of the compose window: one pass per recipient (each recorded in the sent store
// before it goes out, and marked when it did not), then, when every one went out, the window
// is cleared and closed; otherwise it stays as it was for another try.
void RunSendProcedure(WriteForm& form);

} // namespace hm::compose
