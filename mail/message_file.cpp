#include "mail/nmail.h"

#include "common/small_file.h"
#include "mail/mail_error.h"
#include "mail/mime.h"

namespace hm::mail {
namespace {

// A copy read to be shown: its text is what matters, and a bigger one is most attachment.
constexpr qint64 kShownCopyLimit = 64 * 1024 * 1024;

} // namespace

int NMailReadMessageFile(const QString& path, QString& subject, QString& from, QString& to, QString& body)
{
    subject.clear();
    from.clear();
    to.clear();
    body.clear();
    QByteArray raw;
    const hm::SmallFile read = hm::readSmallFile(path, &raw, kShownCopyLimit);
    if (read != hm::SmallFile::Read) {
        reportError({FailureKind::Files, read == hm::SmallFile::Missing
                                             ? QStringLiteral("メールの全文の控え「%1」がありません。").arg(path)
                                             : hm::smallFileProblem(path, read, kShownCopyLimit)});
        return kErrorFileOpen;
    }
    const ReadableMessage message = readableMessage(raw);
    subject = message.summary.subject;
    from = message.summary.from;
    to = message.to;
    body = message.body;
    return 0;
}

} // namespace hm::mail
