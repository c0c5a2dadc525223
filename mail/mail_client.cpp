// The mail functions as the program sees them: each one hands over to the mail module, which
// is taken up when the first of them needs the network (mapped ahead once the main window has
// painted). Start-up only notes that the library is to be initialised, so the launch maps none
// of the network and MIME libraries.
#include "mail/mail_module.h"

#include "common/program_module.h"

#include <future>

namespace hm::mail {
namespace {

QString g_modulePath;
const ModuleApi* g_api = nullptr;
bool g_initialised = false;
QString g_problem;

QString modulePath()
{
    return g_modulePath.isEmpty() ? programModulePath(QStringLiteral("hayatemail-mail.so")) : g_modulePath;
}

// The module, loaded and initialised on first use; null when it cannot be loaded, with the
// reason kept for NMailGetMessage. A failed load is tried again by the next call, so a
// module put back in place serves the next command. A load under way on the preload thread
// holds the loader's lock: this one waits for it and finds the module mapped.
const ModuleApi* api()
{
    if (g_api)
        return g_api;
    const QString path = modulePath();
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
        g_api->NMailInitializeWinSock();
    return g_api;
}

} // namespace

void setMailModulePath(const QString& path)
{
    g_modulePath = path;
}

void preloadMailModule()
{
    static std::future<void> preload;
    if (g_api || preload.valid())
        return;
    preload = std::async(std::launch::async, [path = modulePath()] { moduleEntry(path, kModuleEntry, nullptr); });
}

void NMailInitializeWinSock()
{
    g_initialised = true;
    if (g_api)
        g_api->NMailInitializeWinSock();
}

void NMailEndWinSock()
{
    g_initialised = false;
    if (g_api)
        g_api->NMailEndWinSock();
}

int NMailSetOption(int option, int value)
{
    // The buffer size changes nothing, so setting it needs no module.
    if (option == kOptionBufferSize)
        return 0;
    const ModuleApi* m = api();
    return m ? m->NMailSetOption(option, value) : kErrorFailed;
}

// Every other function hands its call to the module, or answers as the list says without it.
#define HM_MAIL_FUNCTION(result, name, parameters, arguments, withoutModule) \
    result name parameters                                                  \
    {                                                                       \
        if (const ModuleApi* m = api())                                     \
            return m->name arguments;                                       \
        return withoutModule;                                               \
    }
#define HM_MAIL_FUNCTION_BY_HAND(result, name, parameters, arguments, withoutModule)
#include "mail/mail_functions.inc"

int NMailGetMessage(int a, QString& message, int& size)
{
    if (const ModuleApi* m = api())
        return m->NMailGetMessage(a, message, size);
    message = g_problem;
    size = int(message.size());
    return size;
}

} // namespace hm::mail
