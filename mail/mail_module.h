#pragma once
#include "mail/nmail.h"

// The mail room is also built as a module of its own (hayatemail-mail.so), so that the program
// loads libcurl, GMime and what they pull in only when it first talks to a server. The
// executable reaches the module's functions through this table.
namespace hm::mail {

// One member per line of mail_functions.inc, named as the function.
struct ModuleApi {
#define HM_MAIL_FUNCTION(result, name, parameters, arguments, withoutModule) decltype(&::hm::mail::name) name;
#include "mail/mail_functions.inc"
};

// The module's one exported symbol: extern "C" const ModuleApi* hm_mail_module(int size),
// null when the caller was built against another shape of the table.
inline constexpr char kModuleEntry[] = "hm_mail_module";
using ModuleEntry = const ModuleApi* (*)(int size);

// The module file loaded on first use: empty for the one beside the program, in the
// library folder (hm::programModulePath). Tests point it elsewhere.
void setMailModulePath(const QString& path);

// Maps the module and its libraries on a thread of its own, so that the first mail command
// finds them in place; the module itself is still taken up by that command.
void preloadMailModule();

} // namespace hm::mail
