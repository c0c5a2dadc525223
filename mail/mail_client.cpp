// The mail functions as the program sees them: each one hands over to the mail module, which
// is loaded when the first of them needs the network. Start-up only notes that the library
// is to be initialised, so the launch maps none of the network and MIME libraries.
#include "mail/mail_module.h"

#include "common/program_module.h"

namespace hm::mail {
namespace {

QString g_modulePath;
const ModuleApi* g_api = nullptr;
bool g_initialised = false;
QString g_problem;

// The module, loaded and initialised on first use; null when it cannot be loaded, with the
// reason kept for NMailGetMessage. A failed load is tried again by the next call, so a
// module put back in place serves the next command.
const ModuleApi* api()
{
    if (g_api)
        return g_api;
    const QString path = g_modulePath.isEmpty() ? programModulePath(QStringLiteral("hayatemail-mail.so")) : g_modulePath;
    QString reason;
    if (auto entry = reinterpret_cast<ModuleEntry>(moduleEntry(path, kModuleEntry, &reason))) {
        g_api = entry(int(sizeof(ModuleApi)));
        if (!g_api)
            reason = moduleVersionMismatch();
    }
    if (!g_api) {
        g_problem = QStringLiteral("メール機能のモジュールを読み込めないため、送受信できません。\n"
                                   "プログラムを入れ直してください。\n\n%1\n%2")
                        .arg(path, reason);
        return nullptr;
    }
    if (g_initialised)
        g_api->initializeWinSock();
    return g_api;
}

} // namespace

void setMailModulePath(const QString& path)
{
    g_modulePath = path;
}

void NMailInitializeWinSock()
{
    g_initialised = true;
    if (g_api)
        g_api->initializeWinSock();
}

void NMailEndWinSock()
{
    g_initialised = false;
    if (g_api)
        g_api->endWinSock();
}

int NMailSetOption(int option, int value)
{
    // The buffer size changes nothing, so setting it needs no module.
    if (option == kOptionBufferSize)
        return 0;
    const ModuleApi* m = api();
    return m ? m->setOption(option, value) : kErrorFailed;
}

// Without the module a connection still gets a handle, as a connection is only made at the
// login: the login then fails with the module's problem, which the caller shows.
int NMailPop3Connect(const QString& server)
{
    const ModuleApi* m = api();
    return m ? m->pop3Connect(server) : 0;
}

int NMailPop3Authenticate(int handle, const QString& id, const QString& password, int apop)
{
    const ModuleApi* m = api();
    return m ? m->pop3Authenticate(handle, id, password, apop) : kErrorFailed;
}

int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& from,
                           QString& header, int flag)
{
    const ModuleApi* m = api();
    return m ? m->pop3GetMailStatus(handle, number, subject, date, from, header, flag) : kErrorFailed;
}

int NMailPop3GetMailSize(int handle, int number)
{
    const ModuleApi* m = api();
    return m ? m->pop3GetMailSize(handle, number) : kErrorFailed;
}

int NMailPop3GetMail(int handle, int number, QString& subject, QString& date, QString& from,
                     QString& header, QString& body, int a, int b)
{
    const ModuleApi* m = api();
    return m ? m->pop3GetMail(handle, number, subject, date, from, header, body, a, b) : kErrorFailed;
}

int NMailAttachmentFileFirst(int a, QString& subject, QString& date, QString& from, QString& header,
                             QString& body, const QString& folder, const QString& scratchPath,
                             const QString& wholeMessage, int b)
{
    const ModuleApi* m = api();
    return m ? m->attachmentFileFirst(a, subject, date, from, header, body, folder, scratchPath, wholeMessage, b)
             : kErrorFailed;
}

int NMailAttachmentFileClose(int a)
{
    const ModuleApi* m = api();
    return m ? m->attachmentFileClose(a) : kErrorFailed;
}

int NMailPop3GetUidl(int handle, int number, QString& uidl)
{
    const ModuleApi* m = api();
    return m ? m->pop3GetUidl(handle, number, uidl) : kErrorFailed;
}

int NMailPop3FetchAhead(int handle, int number)
{
    const ModuleApi* m = api();
    return m ? m->pop3FetchAhead(handle, number) : kErrorFailed;
}

int NMailPop3DeleteMail(int handle, int number, int fetchAhead)
{
    const ModuleApi* m = api();
    return m ? m->pop3DeleteMail(handle, number, fetchAhead) : kErrorFailed;
}

int NMailPop3Reset(int handle)
{
    const ModuleApi* m = api();
    return m ? m->pop3Reset(handle) : kErrorFailed;
}

int NMailPop3Close(int handle)
{
    const ModuleApi* m = api();
    return m ? m->pop3Close(handle) : kErrorFailed;
}

QByteArray NMailPop3LastRawMessage(int handle)
{
    const ModuleApi* m = api();
    return m ? m->pop3LastRawMessage(handle) : QByteArray();
}

void NMailSmtpBeginSession()
{
    if (const ModuleApi* m = api())
        m->smtpBeginSession();
}

void NMailSmtpEndSession()
{
    if (const ModuleApi* m = api())
        m->smtpEndSession();
}

void NMailSetSmtpWaitCallback(std::function<void()> callback)
{
    if (const ModuleApi* m = api())
        m->setSmtpWaitCallback(std::move(callback));
}

void NMailSetSmtpCredentials(const QString& user, const QString& password)
{
    if (const ModuleApi* m = api())
        m->setSmtpCredentials(user, password);
}

int NMailSmtpSendMail(const QString& server, const QString& to, const QString& cc, const QString& bcc,
                      const QString& from, const QString& subject, const QString& body,
                      const QString& header, const QString& attachments, int flag)
{
    const ModuleApi* m = api();
    return m ? m->smtpSendMail(server, to, cc, bcc, from, subject, body, header, attachments, flag)
             : kErrorFailed;
}

int NMailGetMessage(int a, QString& message, int& size)
{
    if (const ModuleApi* m = api())
        return m->getMessage(a, message, size);
    message = g_problem;
    size = int(message.size());
    return size;
}

} // namespace hm::mail
