#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// The mail-transfer functions the program calls: POP3 sessions by handle, SMTP sending,
// attachment extraction and the text of the last error. Nothing above this room sees the
// network or MIME libraries.
namespace hm::mail {

// Timeouts in seconds: a dead or silent server ends an operation with an error, never a hang.
constexpr int kConnectTimeoutSeconds = 30;
constexpr int kIdleTimeoutSeconds = 60;
// The slowest download that is waited for: 1 KB a second, measured over a minute.
constexpr int kSlowRateBytes = 1024;
constexpr int kSlowTimeSeconds = 60;
// The largest message that is downloaded unless NMailSetOption says otherwise; a bigger one is
// refused with an error message (kErrorTooLarge) and the session goes on.
constexpr int kDefaultMaxMessageMegabytes = 1024;
// The largest attachment total that is sent.
constexpr qint64 kMaxSendBytes = 64 * 1024 * 1024;

// Options for NMailSetOption. Option 1 is the program's buffer size and changes nothing here.
constexpr int kOptionBufferSize = 1;
constexpr int kOptionConnectTimeout = 2; // seconds, 1 or more
constexpr int kOptionIdleTimeout = 3;    // seconds, 1 or more
// A download slower than this many bytes a second over kOptionSlowTime seconds is given up, and
// so is a message that takes longer than kOptionSlowTime seconds plus one second for every
// kOptionSlowRate bytes of its announced size.
constexpr int kOptionSlowRate = 4; // bytes a second, 1 or more
constexpr int kOptionSlowTime = 5; // seconds, 1 or more
constexpr int kOptionMaxMessageMegabytes = 6; // the largest message downloaded, in MiB, 1 or more

// Negative results. NMailGetMessage gives the Japanese text of the last one.
constexpr int kErrorFailed = -1;
constexpr int kErrorLogin = -2;
constexpr int kErrorTooLarge = -3;
constexpr int kErrorBadHandle = -4;
constexpr int kErrorFileOpen = -5;
constexpr int kErrorPartsMissing = -6;
constexpr int kErrorBadInput = -7;
constexpr int kErrorNoUidl = -8;
// The call could not use the connection: a command sent before its own (a deletion, or a
// download read ahead and not taken) failed and took the connection with it; NMailGetMessage
// tells why that command failed.
constexpr int kErrorAheadFailed = -9;

// The results of NMailAttachmentFileFirst also include kAttachmentsIncomplete: the message
// nests deeper than it is taken apart, so what lies below is saved nowhere and only the message
// itself holds it.
constexpr int kAttachmentsIncomplete = 2;
// After the login the session's commands go out as far ahead as the server allows (all the
// messages announced with NMailPop3FetchAhead, within a window, when it offers PIPELINING;
// otherwise the next one while the caller stores the last) and the replies are read in order
// as they are asked for. A deletion's reply is read with a later one: a refusal then ends the
// session, and the close sends no QUIT. A command there that fails breaks the session: later
// calls give kErrorAheadFailed or their own error. Only messages up to kMaxReadAheadBytes are
// read ahead: a big one gains little from it, and a close would wait for it.
constexpr qint64 kMaxReadAheadBytes = 1024 * 1024;
// NMailPop3Close: the server refused QUIT or never answered it, so the deletions did not take
// effect; NMailGetMessage says how the server answered.
constexpr int kErrorQuitRefused = -10;
// A message above kMaxReadAheadBytes is downloaded to a file in the download folder
// (NMailPop3SetDownloadFolder), not to memory, and parsed and copied from there. When that
// folder's file system lacks the room for it (the message, what is extracted from it and a
// margin) or runs out while it arrives, the status and download calls give kErrorNoSpace and
// the session goes on with the next message.
constexpr int kErrorNoSpace = -11;

#define HM_MAIL_FUNCTION(result, name, parameters, arguments, withoutModule) result name parameters;
#include "mail/mail_functions.inc"

// Default arguments, which the list cannot carry.
int NMailPop3DeleteMail(int handle, int number, int fetchAhead = 0);

inline QString NMailAttachmentList(const QStringList& paths)
{
    QString list;
    for (const QString& path : paths)
        list += path + QChar(0);
    return list;
}

} // namespace hm::mail
