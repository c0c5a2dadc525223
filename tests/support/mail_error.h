#pragma once
// The mail room's error text as a test reads it: taken, so the next step cannot pass on a
// text a step before it left.
#include "mail/nmail.h"
#include "mail/transfer.h"

namespace hm::test {

inline QString takeMailError()
{
    QString text;
    int size = 0;
    hm::mail::NMailGetMessage(0, text, size);
    hm::mail::setLastError(QString());
    return text;
}

} // namespace hm::test
