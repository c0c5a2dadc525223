#include "history/editor_text.h"

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/line_ends.h"

#include <QFile>

namespace hm::history {

EditorState& editorState()
{
    static EditorState state;
    return state;
}

QString EditorPlainText(const QString& text)
{
    // A text with nothing to change, as a received body mostly is, is returned as it is.
    if (onlyCrLf(text, true))
        return text;
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    const qsizetype n = text.size();
    // One pass: every line end the editor knows (CR LF, CR, LF, frame markers, paragraph and
    // line separators) comes back as CR LF, a no-break space as a space.
    QString out(n * 2, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        switch (c) {
        case u'\r':
            if (i + 1 < n && s[i + 1] == u'\n')
                ++i;
            [[fallthrough]];
        case u'\n':
        case 0xFDD0:
        case 0xFDD1:
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
            *o++ = u'\r';
            *o++ = u'\n';
            break;
        case QChar::Nbsp:
            *o++ = u' ';
            break;
        default:
            *o++ = c;
            break;
        }
    }
    out.truncate(o - reinterpret_cast<char16_t*>(out.data()));
    return out;
}

QString FolderOf(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return cut < 0 ? path : path.left(cut + 1);
}

bool SavePlainText(const QString& path, const QString& editorText)
{
    if (path.isEmpty())
        return false;
    return hm::writeFileAtomically(path, hm::ansi::encode(withCrLf(editorText)));
}

bool SaveEditorText(const QString& path, const QString& editorText)
{
    return SavePlainText(path, editorText + QLatin1Char('\n'));
}

QString ReadPlainText(const QString& path, bool* ok)
{
    QFile f(path);
    *ok = !path.isEmpty() && f.open(QIODevice::ReadOnly);
    if (!*ok)
        return {};
    const QByteArray bytes = f.readAll();
    *ok = f.error() == QFileDevice::NoError;
    return withLf(hm::ansi::decode(bytes));
}

QString ReadTextLines(const QString& path, bool* ok)
{
    QString text = ReadPlainText(path, ok);
    if (*ok && !text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text;
}

} // namespace hm::history
