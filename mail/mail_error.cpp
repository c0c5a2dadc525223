#include "mail/mail_error.h"

#include "mail/nmail.h"

namespace hm::mail {
namespace {

// What NMailGetMessage gives: a copy, so it outlives the session that reported it.
MailError g_reported;
quint64 g_reportedSerial = 0;
quint64 g_lastSerial = 0;
quint64 g_readSerial = 0;

void publish(const MailError& error, quint64 serial)
{
    g_reported = error;
    g_reportedSerial = serial;
}

} // namespace

int resultOf(FailureKind kind)
{
    switch (kind) {
    case FailureKind::LoginRefused:
        return kErrorLogin;
    case FailureKind::TooLarge:
        return kErrorTooLarge;
    case FailureKind::BadInput:
        return kErrorBadInput;
    case FailureKind::NoUidl:
        return kErrorNoUidl;
    case FailureKind::Files:
        return kErrorFileOpen;
    case FailureKind::PartsMissing:
        return kErrorPartsMissing;
    default:
        return kErrorFailed;
    }
}

bool ErrorRecord::holding() const
{
    return ends_ && serial_ > g_readSerial;
}

void ErrorRecord::report(MailError error, bool endsSession)
{
    if (!holding()) {
        first_ = std::move(error);
        serial_ = ++g_lastSerial;
        ends_ = endsSession;
    }
    publish(first_, serial_);
}

void reportError(MailError error)
{
    publish(error, ++g_lastSerial);
}

QString readReportedError()
{
    g_readSerial = g_reportedSerial;
    return g_reported.text;
}

} // namespace hm::mail
