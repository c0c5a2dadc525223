#pragma once
#include <QtGlobal>

class TyakuForm;

namespace hm::history {

// Which store the history window shows; every command of the window follows it.
enum class HistoryMode : qint16 { Received = 1, Sent = 2 };

// Program-wide; set only when the window is opened from the main window.
HistoryMode& CurrentHistoryMode();

// The main window's "着信履歴" / "送信履歴": shows the single history window (building it
// if needed), puts it into the mode and fills its list from that store.
TyakuForm* OpenHistory(HistoryMode mode);

// The history window for the mail check to stage a message in, loaded hidden if it is not
// there yet (it stays hidden until the user opens it).
TyakuForm* StagingWindow();

} // namespace hm::history
