#pragma once
#include "mail/mail_error.h"
#include "mail/transfer.h"

// What a failed libcurl transfer means, the same for POP3 and SMTP: one classification of the
// library's result, one sentence per kind, the server's reply decoded as every text is.
namespace hm::mail {

FailureKind classifyTransfer(CURLcode code, long osError, const QString& detail, const ServerAddress& address,
                             bool serverReplied);

// The Japanese sentence for a failure of this kind (without the server's reply).
QString describeFailure(FailureKind kind, CURLcode code, const ServerAddress& address, const QString& detail);

// A command the server refused: the sentence, then the server's line.
MailError replyFailure(FailureKind kind, const QString& sentence, const QByteArray& reply);

// The whole error: kind, sentence and the server's last error line.
MailError transferFailure(CURL* curl, CURLcode code, const ServerAddress& address, const ReplyLog& log,
                          const char* curlDetail);

} // namespace hm::mail
