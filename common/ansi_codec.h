#pragma once
#include <QByteArray>
#include <QString>

#include <initializer_list>

// The one room for the system code page: every text that goes to or comes from a file, a
// fixed-width record field or the settings files passes through here as CP932 (Windows-31J).
namespace hm::ansi {

// Characters CP932 cannot hold become '?'; lost, when given, tells whether any did. Characters
// CP932 holds in their Windows form (〜 as ～, − as －) count as kept.
QByteArray encode(const QString& text, bool* lost = nullptr);
// Bytes that are not CP932 become U+FFFD; nothing is dropped silently.
QString decode(const QByteArray& bytes);
QString decode(const char* bytes, qsizetype size);

// The character of one double-byte code (lead << 8 | trail); 0 when CP932 has none there.
char16_t pairChar(quint16 code);

// No byte above 0x7F; sixteen bytes to an instruction, since most text is ASCII.
bool isAscii(const char* bytes, qsizetype size);

// The longest prefix of cp932 no longer than maxBytes that does not split a double-byte character.
QByteArray cutBytes(const QByteArray& cp932, qsizetype maxBytes);

// A fixed-width field: at most width characters, encoded, cut to width bytes on a character
// boundary and padded with spaces to exactly width bytes.
QByteArray fixedField(const QString& text, int width);
// Writes the field into dest (exactly width bytes).
void writeField(char* dest, const QString& text, int width);

// Empty when the system can convert between CP932 and Unicode; otherwise the Japanese message
// to show at start-up: without those converters every Japanese character would be lost.
QString converterProblem();
// Empty when iconv can convert each charset named into `to`; otherwise a Japanese message
// naming those it cannot.
QString missingConverters(std::initializer_list<const char*> from, const char* to);

// Reads a field back; trailing spaces are dropped when asked (readers that show a field do).
QString readField(const char* field, int width, bool dropTrailingSpaces = false);

} // namespace hm::ansi

// Leading and trailing ASCII spaces only; full-width spaces stay.
QString Trim(const QString& text);
// The text before the first NUL, or all of it.
QString CutAtNul(const QString& text);
