// The module's entry: the table of the mail functions built into it.
#include "mail/mail_module.h"

extern "C" __attribute__((visibility("default"))) const hm::mail::ModuleApi* hm_mail_module(int size)
{
    using namespace hm::mail;
    static const ModuleApi api{
        &NMailInitializeWinSock, &NMailEndWinSock, &NMailSetOption, &NMailPop3Connect,
        &NMailPop3Authenticate, &NMailPop3GetMailStatus, &NMailPop3GetMailSize, &NMailPop3GetMail,
        &NMailAttachmentFileFirst, &NMailAttachmentFileClose, &NMailPop3GetUidl, &NMailPop3FetchAhead, &NMailPop3DeleteMail,
        &NMailPop3Reset, &NMailPop3Close, &NMailPop3LastRawMessage, &NMailSmtpBeginSession,
        &NMailSmtpEndSession, &NMailSetSmtpWaitCallback, &NMailSetSmtpCredentials, &NMailSmtpSendMail,
        &NMailGetMessage};
    return size == int(sizeof(ModuleApi)) ? &api : nullptr;
}
