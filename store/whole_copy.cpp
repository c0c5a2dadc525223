#include "store/whole_copy.h"

#include "common/ansi_codec.h"
#include "common/program_folder.h"
#include "store/mail_store.h"

#include <QDir>
#include <QRegularExpression>

namespace hm::store {

QString attachmentFolder()
{
    return hm::dataPath(QStringLiteral("\\添付フォルダ\\"));
}

QString sentCopyFolder()
{
    return hm::dataPath(QStringLiteral("\\送信控え\\"));
}

QString wholeCopyNote(const QString& why, const QString& fileName)
{
    return QStringLiteral("\r\n\r\n【このメールは%1ため、添付フォルダの「%2」に元のまま保存しました。】").arg(why, fileName);
}

QString sentCopyNote(const QString& fileName)
{
    return QStringLiteral("\r\n\r\n【このメールは送信記録に書けない文字を含むため、送信控えの「%1」に送ったとおり保存しました。】")
        .arg(fileName);
}

QString endingWithNote(const QString& text, const QString& note)
{
    const int room = kBodyWidth - int(hm::ansi::encode(note).size());
    return hm::ansi::decode(hm::ansi::cutBytes(hm::ansi::encode(text), room)) + note;
}

QString wholeCopyPathIn(const QString& body)
{
    // The last note counts: a quoted one earlier in the text names another message's copy.
    static const QRegularExpression note(
        QStringLiteral("【このメールは[^【】]*ため、(添付フォルダの|送信控えの)「([^「」/\\\\]+\\.eml)」に(元のまま|送ったとおり)保存しました。】\\s*$"));
    const QRegularExpressionMatch m = note.match(body);
    if (!m.hasMatch())
        return {};
    const QString folder = m.captured(1) == QStringLiteral("添付フォルダの") ? attachmentFolder() : sentCopyFolder();
    return QDir(folder).filePath(m.captured(2));
}

} // namespace hm::store
