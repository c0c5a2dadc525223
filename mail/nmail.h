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
// The largest message that is downloaded; a bigger one is refused with an error message.
constexpr qint64 kMaxMessageBytes = 64 * 1024 * 1024;
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

// Negative results. NMailGetMessage gives the Japanese text of the last one.
constexpr int kErrorFailed = -1;
constexpr int kErrorLogin = -2;
constexpr int kErrorTooLarge = -3;
constexpr int kErrorBadHandle = -4;
constexpr int kErrorFileOpen = -5;
constexpr int kErrorPartsMissing = -6;
constexpr int kErrorBadInput = -7;
constexpr int kErrorNoUidl = -8;
// The call could not use the connection: the download running ahead (NMailPop3FetchAhead)
// failed and took it with it; NMailGetMessage tells why that download failed.
constexpr int kErrorAheadFailed = -9;

void NMailInitializeWinSock();
void NMailEndWinSock();
int NMailSetOption(int option, int value);

// The connection itself is made by NMailPop3Authenticate, so that a refused connection, an
// unknown host or an untrusted certificate reaches the user as a message. -1 only for a
// server text that cannot name a server.
int NMailPop3Connect(const QString& server);
// apop: -1 APOP, 0 USER and PASS. Returns the number of waiting messages or a negative error.
int NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop);
int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& from,
                           QString& header, int flag);
int NMailPop3GetMailSize(int handle, int number);
int NMailPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from,
                     QString& header, QString& body, int, int);
// The attachment call's results: 1 attachments saved, 0 none, kErrorFileOpen, kErrorPartsMissing,
// or kAttachmentsIncomplete: the message nests deeper than it is taken apart, so what lies
// below is saved nowhere and only the message itself holds it.
constexpr int kAttachmentsIncomplete = 2;
int NMailAttachmentFileFirst(int, QString& subject, QString& date, QString& from, QString& header,
                             QString& body, const QString& folder, const QString& scratchPath,
                             const QString& wholeMessage, int);
int NMailAttachmentFileClose(int);
// The server's unique id of message number (RFC 1939 UIDL), asked for once per session.
// kErrorNoUidl when the server does not offer UIDL or gave none usable for that message.
int NMailPop3GetUidl(int handle, int number, QString& uidl);
// Queues the download of message number on the session's own thread, so it is at hand (and
// parsed) when asked for. From the first such call the session's downloads and deletions go
// out from that thread, back to back in the order they are asked for; any other call waits
// until it is idle, dropping downloads not yet begun. A command there that fails breaks the
// session: later calls give kErrorAheadFailed, with that command's error, or that download's own
// error when they ask for that message. Only messages up to kMaxReadAheadBytes are read ahead: a
// big one gains little from it, would be held twice, and a close would wait for it.
constexpr qint64 kMaxReadAheadBytes = 1024 * 1024;
int NMailPop3FetchAhead(int handle, int number);
// Marks message number for deletion at QUIT. fetchAhead, when not 0, is read ahead as by
// NMailPop3FetchAhead, starting as soon as the deletion has gone out.
int NMailPop3DeleteMail(int handle, int number, int fetchAhead = 0);
// Unmarks every deletion of this session. When that cannot be done, the close that follows
// drops the connection without QUIT, so the deletions are void all the same.
int NMailPop3Reset(int handle);
// Sends QUIT, so deletions take effect; a dead or abandoned connection deletes nothing and
// gives kErrorFailed. kErrorQuitRefused when the server refused QUIT or never answered it: the
// deletions did not take effect, and NMailGetMessage says how the server answered.
constexpr int kErrorQuitRefused = -10;
int NMailPop3Close(int handle);
// The bytes of the message last downloaded on this handle.
QByteArray NMailPop3LastRawMessage(int handle);

// Between these two, sends reuse one SMTP connection (reconnecting when the server has closed
// it); the end sends QUIT. Outside them every send connects and quits on its own.
void NMailSmtpBeginSession();
void NMailSmtpEndSession();
// Called a few times a second while a send waits on the network.
void NMailSetSmtpWaitCallback(std::function<void()> callback);

// Credentials for SMTP AUTH, used when the server offers AUTH; empty user means none.
void NMailSetSmtpCredentials(const QString& user, const QString& password);
// attachments: file paths separated by ","; a text that holds a NUL is read as paths each
// followed by a NUL instead, so that a path with a comma in it goes as it is (no path can hold
// a NUL). NMailAttachmentList writes that form.
int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc, const QString& bcc,
                      const QString& from, const QString& subject, const QString& body,
                      const QString& header, const QString& attachments, int flag);
inline QString NMailAttachmentList(const QStringList& paths)
{
    QString list;
    for (const QString& path : paths)
        list += path + QChar(0);
    return list;
}

// message = the Japanese text of the last error; size = its length in characters.
int NMailGetMessage(int, QString& message, int& size);

} // namespace hm::mail
