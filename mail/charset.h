#pragma once
#include <QByteArray>
#include <QString>

namespace hm::mail {

// Turns bytes labelled with a MIME charset into text. Japanese labels get the tables Windows
// users write with: Shift_JIS is read as CP932, ISO-2022-JP with the Windows extensions, EUC-JP
// as EUC-JP-MS. An unknown or empty label falls back as unlabelled bytes do.
QString decodeCharset(const QByteArray& bytes, const QByteArray& charset);

// Unlabelled bytes (raw header bytes, a body without a charset): ISO-2022-JP when they carry
// its escapes, UTF-8 when they are valid UTF-8, otherwise CP932.
QString decodeUnlabelled(const QByteArray& bytes);

// Decodes RFC 2047 encoded-words in a header value; adjacent words in one charset are joined
// before conversion, so a character split across two words survives. Folding is removed.
QString decodeHeaderText(const QByteArray& raw);

} // namespace hm::mail
