#include "history/editor_text.h"

#include "common/ansi_codec.h"
#include "common/atomic_file.h"

#include <QFile>

namespace hm::history {

EditorState& editorState()
{
    static EditorState state;
    return state;
}

QString EditorPlainText(const QString& text)
{
    QString t = withLf(text);
    for (QChar& c : t) {
        switch (c.unicode()) {
        case 0xFDD0: // frame markers, paragraph and line separators come back as line ends
        case 0xFDD1:
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
            c = QLatin1Char('\n');
            break;
        case QChar::Nbsp:
            c = QLatin1Char(' ');
            break;
        default:
            break;
        }
    }
    return withCrLf(t);
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
