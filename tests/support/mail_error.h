#pragma once
// The mail room's error text as a test reads it: taken, so the next step cannot pass on a
// text a step before it left.
#include "mail/mail_error.h"
#include "mail/nmail.h"

namespace hm::test {

inline QString takeMailError()
{
    QString text;
    int size = 0;
    hm::mail::NMailGetMessage(0, text, size); // marks it read, as the program's reading does
    hm::mail::reportError({});
    return text;
}

} // namespace hm::test
