#pragma once
#include <QString>

#include <source_location>

class QAction;
class QWidget;

namespace hm::test {

// Clicks a control as the user would: it must be visible and enabled, or the running test
// fails at the caller's line and nothing is clicked (QTest would click a hidden or disabled
// control silently, to no effect). True when clicked.
bool click(QWidget* control, const std::source_location& at = std::source_location::current());
// The same for a menu command: it must be visible and enabled, then it is triggered.
bool trigger(QAction* command, const std::source_location& at = std::source_location::current());

} // namespace hm::test
