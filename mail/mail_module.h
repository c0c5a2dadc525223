#pragma once
#include "mail/nmail.h"

// The mail room is also built as a module of its own (hayatemail-mail.so), so that the program
// loads libcurl, GMime and what they pull in only when it first talks to a server. The
// executable reaches the module's functions through this table.
namespace hm::mail {

struct ModuleApi {
    decltype(&NMailInitializeWinSock) initializeWinSock;
    decltype(&NMailEndWinSock) endWinSock;
    decltype(&NMailSetOption) setOption;
    decltype(&NMailPop3Connect) pop3Connect;
    decltype(&NMailPop3Authenticate) pop3Authenticate;
    decltype(&NMailPop3GetMailStatus) pop3GetMailStatus;
    decltype(&NMailPop3GetMailSize) pop3GetMailSize;
    decltype(&NMailPop3GetMail) pop3GetMail;
    decltype(&NMailAttachmentFileFirst) attachmentFileFirst;
    decltype(&NMailAttachmentFileClose) attachmentFileClose;
    decltype(&NMailPop3GetUidl) pop3GetUidl;
    decltype(&NMailPop3FetchAhead) pop3FetchAhead;
    decltype(&NMailPop3DeleteMail) pop3DeleteMail;
    decltype(&NMailPop3Reset) pop3Reset;
    decltype(&NMailPop3Close) pop3Close;
    decltype(&NMailPop3LastRawMessage) pop3LastRawMessage;
    decltype(&NMailSmtpBeginSession) smtpBeginSession;
    decltype(&NMailSmtpEndSession) smtpEndSession;
    decltype(&NMailSetSmtpWaitCallback) setSmtpWaitCallback;
    decltype(&NMailSetSmtpCredentials) setSmtpCredentials;
    decltype(&NMailSmtpSendMail) smtpSendMail;
    decltype(&NMailGetMessage) getMessage;
};

// The module's one exported symbol: extern "C" const ModuleApi* hm_mail_module(int size),
// null when the caller was built against another shape of the table.
inline constexpr char kModuleEntry[] = "hm_mail_module";
using ModuleEntry = const ModuleApi* (*)(int size);

// The module file loaded on first use: empty for the one beside the program, in the
// library folder (hm::programModulePath). Tests point it elsewhere.
void setMailModulePath(const QString& path);

} // namespace hm::mail
