#pragma once

namespace hm {

// Screen readers ask text editors for offsets just past the text (the caret at the end, the
// text before the first character) and for ranges of a text that has since changed. Qt's own
// editor interface sets its cursor to such offsets unchecked, which prints
// "QTextCursor::setPosition: Position … out of range" and answers with garbage; this one keeps
// every offset inside the text. Install once, after the application object exists and before
// any window is built.
void installTextAccessibility();

} // namespace hm
