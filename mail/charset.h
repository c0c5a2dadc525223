#pragma once
#include <QByteArray>
#include <QString>

#include <span>

namespace hm::mail {

// How a labelled text is read. Japanese labels get the tables Windows users write with.
enum class CharsetDecoder {
    Unlabelled, // as decodeUnlabelled
    Utf8,       // UTF-8 when valid, otherwise as unlabelled
    Cp932,      // Shift_JIS and its aliases, read as CP932
    Iso2022jp,  // with the Windows extensions
    EucJp,      // as EUC-JP-MS
    Latin1,     // as Windows-1252, unless the bytes are Japanese text mislabelled
    Iconv,      // any other label: the system's converter, or as unlabelled when it has none
};

// One label of the table: matched without regard to case (and, for prefix, as a beginning).
struct CharsetLabel {
    const char* name;
    CharsetDecoder decoder;
    bool prefix = false;
};
std::span<const CharsetLabel> charsetLabels();

// Empty when every converter the room relies on is there; otherwise the message naming those
// that are missing.
QString missingCharsetConverters();

// Turns bytes labelled with a MIME charset into text, through the decoder the label table
// names. An unknown label the system cannot convert, or an empty one, falls back as unlabelled
// bytes do.
QString decodeCharset(const QByteArray& bytes, const QByteArray& charset);

// Unlabelled bytes (raw header bytes, a body without a charset): ISO-2022-JP when they carry
// its escapes, UTF-8 when they are valid UTF-8, otherwise CP932.
QString decodeUnlabelled(const QByteArray& bytes);

// Decodes RFC 2047 encoded-words in a header value; adjacent words in one charset are joined
// before conversion, so a character split across two words survives. Folding is removed.
QString decodeHeaderText(const QByteArray& raw);

} // namespace hm::mail
