// The module's entry: the table of the mail functions built into it, filled by name from the
// one list, so no entry can land in another's place.
#include "mail/mail_module.h"

extern "C" __attribute__((visibility("default"))) const hm::mail::ModuleApi* hm_mail_module(int size)
{
    using namespace hm::mail;
    static const ModuleApi api{
#define HM_MAIL_FUNCTION(result, name, parameters, arguments, withoutModule) .name = &name,
#include "mail/mail_functions.inc"
    };
    return size == int(sizeof(ModuleApi)) ? &api : nullptr;
}
