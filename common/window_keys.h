#pragma once
#include <functional>

class QPushButton;
class QWidget;

// Keyboard habits of a dialog for windows that are not dialogs.
namespace hm {

// Enter or Return on a focused button presses it, as Space does.
void pressButtonsWithEnter(QWidget* window);
// Escape runs close (the window's own closing, which may ask first) wherever the focus is in
// the window.
void closeOnEscape(QWidget* window, std::function<void()> close);
// Ctrl+Tab and Ctrl+Shift+Tab move the focus on from an editor that keeps Tab for itself.
void leaveWithCtrlTab(QWidget* editor);
// All of a dialog's keys: Enter on a button presses it, Enter in a field presses accept (when
// given), Escape presses reject, or closes the window when there is none.
void bindDialogKeys(QWidget* window, QPushButton* accept, QPushButton* reject);

} // namespace hm
