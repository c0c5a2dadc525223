#pragma once

class QPushButton;
class QWidget;

namespace hm {

// The keys of a dialog, for a window that is not a QDialog: Enter in a field presses accept
// (when given), Enter on a button presses that button, Escape presses reject, or closes the
// window when there is none.
void bindDialogKeys(QWidget* window, QPushButton* accept, QPushButton* reject);

} // namespace hm
