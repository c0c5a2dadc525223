// Linked into the program itself (tests, benchmarks), the mail room is there from the start:
// there is no module to map ahead.
#include "mail/mail_module.h"

namespace hm::mail {

void preloadMailModule() {}

} // namespace hm::mail
