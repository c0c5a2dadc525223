#pragma once
#include <QString>

class WriteForm;

namespace hm::compose {

inline const QString kSendingText = QStringLiteral("メールを送信中です。しばらくお待ち下さい。");
inline const QString kSentText = QStringLiteral("送信完了です。");

// "送信" of the compose window: one pass per recipient (each recorded in the sent store
// before it goes out), then the window is cleared and closed.
void RunSendProcedure(WriteForm& form);

} // namespace hm::compose
