#pragma once
#include <QString>

class TyakuForm;

namespace hm::history {

// Which store the history window shows; every command of the window follows it.
enum class HistoryMode : qint16 { Received = 1, Sent = 2 };

// Program-wide; set only when the window is opened from the main window.
HistoryMode& CurrentHistoryMode();

// The main window's "着信履歴" / "送信履歴": shows the single history window (building it
// if needed), puts it into the mode and fills its list from that store.
TyakuForm* OpenHistory(HistoryMode mode);

// Where the mail check puts the last message it stored: the history window's subject,
// sender, date and body boxes.
class MessageStaging {
public:
    virtual ~MessageStaging() = default;
    virtual void StageMessage(const QString& subject, const QString& from, const QString& date,
                              const QString& body) = 0;
};

// The history window as the staging area; a message staged loads it hidden if it is not there
// yet (it stays hidden until the user opens it).
MessageStaging& StagingWindow();

} // namespace hm::history
