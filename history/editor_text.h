#pragma once
#include "common/line_ends.h"

#include <QString>

// Text-file helpers of the history window's body editor, and the editor's program-wide state.
namespace hm::history {

struct EditorState {
    QString currentFile;   // empty until "新規作成" names one
    bool modified = false; // follows every change of the editor's text
    int lastMatch = 0;     // 1-based position of the last search match, 0 after a miss
    qint16 boldCount = 0;
    qint16 italicCount = 0;
    qint16 underlineCount = 0;
};
EditorState& editorState();

using hm::withCrLf;
using hm::withLf;
// The text as the body editor gives it back after holding it (CR LF line ends): what the
// mail check stores without passing every message through the widget.
QString EditorPlainText(const QString& text);

// The path up to and including its last separator ("\" or "/"); the whole path without one.
QString FolderOf(const QString& path);

// Creates or replaces path with text followed by CR LF, in CP932. False when it failed
// (the former file is then untouched).
bool SaveEditorText(const QString& path, const QString& editorText);
// Writes text as it is (CP932, CR LF line ends), replacing the file.
bool SavePlainText(const QString& path, const QString& editorText);

// Reads a CP932 file as LF text; ok is false when it cannot be read.
QString ReadPlainText(const QString& path, bool* ok);
// Reads a CP932 file line by line (CR LF, LF or CR end a line) and gives every line with a
// line end behind it, the last one too.
QString ReadTextLines(const QString& path, bool* ok);

} // namespace hm::history
