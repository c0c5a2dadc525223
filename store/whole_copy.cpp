#include "store/whole_copy.h"

#include "common/program_folder.h"

#include <QRegularExpression>

namespace hm::store {

QString attachmentFolder()
{
    return hm::dataPath(QStringLiteral("\\添付フォルダ\\"));
}

QString wholeCopyNote(const QString& why, const QString& fileName)
{
    return QStringLiteral("\r\n\r\n【このメールは%1ため、添付フォルダの「%2」に元のまま保存しました。】").arg(why, fileName);
}

QString wholeCopyNamedIn(const QString& body)
{
    // The last note counts: a quoted one earlier in the text names another message's copy.
    static const QRegularExpression note(QStringLiteral("【このメールは[^【】]*ため、添付フォルダの「([^「」/\\\\]+\\.eml)」に元のまま保存しました。】\\s*$"));
    const QRegularExpressionMatch m = note.match(body);
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace hm::store
