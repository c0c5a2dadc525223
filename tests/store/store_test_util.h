#pragma once
#include <QByteArray>
#include <QString>

#include "common/ansi_codec.h"

namespace hm::test {

// A MailRecord built byte by byte, independent of the store's own writer.
inline QByteArray mailRecord(const QByteArray& subject, const QByteArray& date, const QByteArray& from,
                             const QByteArray& body, qint16 live = 1)
{
    auto pad = [](QByteArray b, int width) {
        b.truncate(width);
        return b + QByteArray(width - b.size(), ' ');
    };
    QByteArray r = pad(subject, 100) + pad(date, 90) + pad(from, 90) + pad(body, 32000) + "\r\n";
    r.append(static_cast<char>(live & 0xFF));
    r.append(static_cast<char>((live >> 8) & 0xFF));
    return r;
}

inline QByteArray cp932(const QString& text)
{
    return hm::ansi::encode(text);
}

} // namespace hm::test
