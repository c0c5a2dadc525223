#include "common/text_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <utility>

namespace {

// Both editor classes offer the same calls without a common base.
class EditorAccessible : public QAccessibleWidget,
                         public QAccessibleTextInterface,
                         public QAccessibleEditableTextInterface {
public:
    explicit EditorAccessible(QWidget* w)
        : QAccessibleWidget(w, QAccessible::EditableText),
          rich_(qobject_cast<QTextEdit*>(w)),
          plain_(qobject_cast<QPlainTextEdit*>(w))
    {
    }

    void* interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        if (t == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return rich_ ? rich_->toPlainText() : plain_->toPlainText();
        return QAccessibleWidget::text(t);
    }

    void setText(QAccessible::Text t, const QString& text) override
    {
        if (t != QAccessible::Value) {
            QAccessibleWidget::setText(t, text);
            return;
        }
        if (readOnly())
            return;
        rich_ ? rich_->setPlainText(text) : plain_->setPlainText(text);
    }

    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        st.readOnly = readOnly();
        st.editable = !st.readOnly;
        st.multiLine = true;
        st.selectableText = true;
        return st;
    }

    // --- selection and caret
    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        const QTextCursor c = cursor();
        if (index != 0 || !c.hasSelection())
            return;
        *start = c.selectionStart();
        *end = c.selectionEnd();
    }
    int selectionCount() const override { return cursor().hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index != 0)
            return;
        QTextCursor c = cursor();
        c.clearSelection();
        setCursor(c);
    }
    void setSelection(int index, int start, int end) override
    {
        if (index != 0)
            return;
        QTextCursor c = cursor();
        c.setPosition(clamped(start));
        c.setPosition(clamped(end), QTextCursor::KeepAnchor);
        setCursor(c);
    }
    int cursorPosition() const override { return cursor().position(); }
    void setCursorPosition(int position) override
    {
        QTextCursor c = cursor();
        c.setPosition(clamped(position));
        setCursor(c);
    }

    // --- text
    int characterCount() const override { return document()->characterCount() - 1; }

    QString text(int start, int end) const override
    {
        start = clamped(start);
        end = end < 0 ? characterCount() : clamped(end);
        if (end <= start)
            return QString();
        QTextCursor c(document());
        c.setPosition(start);
        c.setPosition(end, QTextCursor::KeepAnchor);
        QString s = c.selectedText();
        // Paragraph and line separators read as the line ends the rest of the text uses.
        s.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
        return s;
    }

    // Qt's fallbacks for these loop forever on some offsets past the text, so all three are
    // answered here. A line is what the reader sees on the screen, where it is laid out.
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        *start = *end = -1;
        const int n = characterCount();
        if (offset == -1)
            offset = n;
        if (offset < 0 || offset > n || n == 0 || (offset == n && type == QAccessible::CharBoundary))
            return QString();
        const auto [s, e] = unitAt(type, std::min(offset, n - 1));
        *start = s;
        *end = e;
        return text(s, e);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        *start = *end = -1;
        const int n = characterCount();
        if (offset == -1)
            offset = n;
        if (offset <= 0 || offset > n)
            return QString();
        // At the end the caret stands in the last line, word or sentence, but after the last character.
        const int s = offset == n && type == QAccessible::CharBoundary ? n : unitAt(type, std::min(offset, n - 1)).first;
        return s > 0 ? textAtOffset(s - 1, type, start, end) : QString();
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const override
    {
        *start = *end = -1;
        if (offset < 0 || offset >= characterCount())
            return QString();
        const int e = unitAt(type, offset).second;
        return e < characterCount() ? textAtOffset(e, type, start, end) : QString();
    }

    // --- geometry, in screen coordinates
    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset > characterCount())
            return QRect();
        QRect r = caretRect(offset);
        if (offset < characterCount()) {
            const QRect next = caretRect(offset + 1);
            if (next.top() == r.top() && next.left() > r.left())
                r.setRight(next.left() - 1);
            else
                r.setWidth(QFontMetrics(widget()->font()).horizontalAdvance(document()->characterAt(offset)));
        }
        return QRect(viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = viewport()->mapFromGlobal(point);
        if (!viewport()->rect().contains(local))
            return -1;
        return (rich_ ? rich_->cursorForPosition(local) : plain_->cursorForPosition(local)).position();
    }

    void scrollToSubstring(int start, int end) override
    {
        // The plain editor scrolls by lines, not pixels; moving the caret is the one sure way.
        if (!rich_) {
            QTextCursor c = cursor();
            c.setPosition(clamped(start));
            setCursor(c);
            return;
        }
        const QRect r = caretRect(clamped(start)).united(caretRect(clamped(end)));
        QScrollBar* v = rich_->verticalScrollBar();
        if (r.top() < 0)
            v->setValue(v->value() + r.top());
        else if (r.bottom() > viewport()->height())
            v->setValue(v->value() + r.bottom() - viewport()->height());
    }

    QString attributes(int offset, int* start, int* end) const override
    {
        *start = *end = -1;
        if (offset == -2)
            offset = cursorPosition();
        if (offset == -1 || offset == characterCount())
            offset = characterCount() - 1;
        if (offset < 0 || offset >= characterCount())
            return QString();
        const QTextBlock block = document()->findBlock(offset);
        QTextCharFormat format = block.charFormat();
        *start = block.position();
        *end = block.position() + block.length();
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.isValid() && offset >= f.position() && offset < f.position() + f.length()) {
                format = f.charFormat();
                *start = f.position();
                *end = f.position() + f.length();
                break;
            }
        }
        const QFont font = format.font().resolve(widget()->font());
        QString a = QStringLiteral("font-family:\"%1\";").arg(font.family());
        if (font.pointSizeF() > 0)
            a += QStringLiteral("font-size:%1pt;").arg(font.pointSizeF());
        a += font.bold() ? QStringLiteral("font-weight:bold;") : QStringLiteral("font-weight:normal;");
        if (font.italic())
            a += QStringLiteral("font-style:italic;");
        if (font.underline())
            a += QStringLiteral("text-underline-style:solid;text-underline-type:single;");
        return a;
    }

    // --- editing
    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override
    {
        if (readOnly())
            return;
        QTextCursor c(document());
        c.setPosition(clamped(start));
        c.setPosition(clamped(end), QTextCursor::KeepAnchor);
        c.insertText(text);
    }

private:
    bool readOnly() const { return rich_ ? rich_->isReadOnly() : plain_->isReadOnly(); }
    QTextDocument* document() const { return rich_ ? rich_->document() : plain_->document(); }
    QTextCursor cursor() const { return rich_ ? rich_->textCursor() : plain_->textCursor(); }
    void setCursor(const QTextCursor& c) { rich_ ? rich_->setTextCursor(c) : plain_->setTextCursor(c); }
    QWidget* viewport() const { return rich_ ? rich_->viewport() : plain_->viewport(); }
    int clamped(int offset) const { return std::clamp(offset, 0, characterCount()); }

    QRect caretRect(int offset) const
    {
        QTextCursor c(document());
        c.setPosition(offset);
        return rich_ ? rich_->cursorRect(c) : plain_->cursorRect(c);
    }

    // The piece of the given kind holding the character at offset, 0 <= offset < characterCount().
    std::pair<int, int> unitAt(QAccessible::TextBoundaryType type, int offset) const
    {
        const int n = characterCount();
        int s = 0, e = n;
        if (type == QAccessible::LineBoundary && screenLine(offset, &s, &e) && e > s)
            return {s, e};
        if (type == QAccessible::NoBoundary)
            return {0, n};
        const QString all = text(0, n);
        if (type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary) {
            s = offset == 0 ? 0 : int(all.lastIndexOf(QLatin1Char('\n'), offset - 1)) + 1;
            e = int(all.indexOf(QLatin1Char('\n'), offset));
            return {s, e < 0 ? n : e + 1};
        }
        const auto kind = type == QAccessible::CharBoundary   ? QTextBoundaryFinder::Grapheme
                          : type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                              : QTextBoundaryFinder::Sentence;
        QTextBoundaryFinder f(kind, all);
        f.setPosition(offset);
        s = f.isAtBoundary() ? offset : int(f.toPreviousBoundary());
        f.setPosition(offset);
        e = int(f.toNextBoundary());
        return {std::max(s, 0), e <= offset ? n : e};
    }

    // The screen line holding offset, where the editor has laid it out.
    bool screenLine(int offset, int* start, int* end) const
    {
        if (offset < 0 || offset > characterCount())
            return false;
        const QTextBlock block = document()->findBlock(offset);
        const QTextLayout* layout = block.isValid() ? block.layout() : nullptr;
        if (!layout || layout->lineCount() == 0)
            return false;
        const QTextLine line = layout->lineForTextPosition(offset - block.position());
        if (!line.isValid())
            return false;
        *start = block.position() + line.textStart();
        // A paragraph's last line ends with its line end, as in the paragraph reading.
        const bool last = line.lineNumber() == layout->lineCount() - 1;
        *end = std::min(*start + line.textLength() + (last ? 1 : 0), characterCount());
        return true;
    }

    QTextEdit* rich_;
    QPlainTextEdit* plain_;
};

QAccessibleInterface* editorFactory(const QString& key, QObject* object)
{
    if (key != QLatin1String("QTextEdit") && key != QLatin1String("QPlainTextEdit"))
        return nullptr;
    // Qt's text browser reads as static text; leave it to Qt.
    if (object->inherits("QTextBrowser") || !object->isWidgetType())
        return nullptr;
    return new EditorAccessible(static_cast<QWidget*>(object));
}

} // namespace

void hm::installTextAccessibility()
{
    static bool installed = false;
    if (!installed)
        QAccessible::installFactory(editorFactory);
    installed = true;
}
