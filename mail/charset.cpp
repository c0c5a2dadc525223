#include "mail/charset.h"

#include "common/ansi_codec.h"
#include "common/char_lanes.h"

#include <QRegularExpression>

#include <glib.h>
#include <iconv.h>
#include <cstring>

#include <atomic>
#include <cerrno>
#include <map>

namespace hm::mail {
namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Opening a converter loads glibc's module for the charset, which costs far more than the
// conversion of a message: each thread keeps its converters open for the life of the process.
iconv_t converterFrom(const char* from)
{
    struct Converters {
        std::map<QByteArray, iconv_t> open;
        ~Converters()
        {
            for (const auto& [name, cd] : open)
                if (cd != kNoConverter)
                    iconv_close(cd);
        }
    };
    thread_local Converters converters;
    const QByteArray name(from);
    auto it = converters.open.find(name);
    if (it == converters.open.end()) {
        // Labels come from the mail: a sender cannot make the set grow without end.
        if (converters.open.size() >= 64) {
            for (const auto& [n, cd] : converters.open)
                if (cd != kNoConverter)
                    iconv_close(cd);
            converters.open.clear();
        }
        it = converters.open.emplace(name, iconv_open("UTF-8", from)).first;
    }
    if (it->second != kNoConverter)
        iconv(it->second, nullptr, nullptr, nullptr, nullptr); // back to the initial state
    return it->second;
}

QString viaIconv(const QByteArray& bytes, const char* from)
{
    iconv_t cd = converterFrom(from);
    if (cd == kNoConverter)
        return QString::fromLatin1(bytes);
    QByteArray out;
    out.reserve(bytes.size() * 2 + 16);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    while (inLeft > 0) {
        char* o = buffer;
        size_t oLeft = sizeof buffer;
        size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buffer, qsizetype(sizeof buffer - oLeft));
        if (r != size_t(-1))
            break;
        if (errno == E2BIG)
            continue;
        // An invalid or truncated sequence: mark it and go on with the next byte.
        out.append("\xEF\xBF\xBD");
        ++in;
        --inLeft;
    }
    return QString::fromUtf8(out);
}

// CP932 through the program's own tables, as iconv reads it but far faster; the codec turns a
// NUL into U+FFFD, a message's NUL must stay a NUL.
QString fromCp932(const QByteArray& bytes)
{
    if (!bytes.contains('\0'))
        return hm::ansi::decode(bytes);
    QString out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype nul = bytes.indexOf('\0', pos);
        out += hm::ansi::decode(bytes.constData() + pos, (nul < 0 ? bytes.size() : nul) - pos);
        if (nul < 0)
            return out;
        out += QChar(0);
        pos = nul + 1;
    }
}

bool isUtf8(const QByteArray& bytes)
{
    // glib refuses a NUL, which would turn a whole UTF-8 body into CP932 garbage: the text
    // between NULs is what must be valid.
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    while (p < end) {
        const char* nul = static_cast<const char*>(std::memchr(p, 0, size_t(end - p)));
        const char* stop = nul ? nul : end;
        if (!g_utf8_validate(p, stop - p, nullptr))
            return false;
        p = stop + 1;
    }
    return true;
}

bool isAscii(const QByteArray& bytes)
{
    return hm::ansi::isAscii(bytes.constData(), bytes.size());
}

// The character sets an ISO-2022-JP text designates, in its plain, -2, -3 and 2004 forms.
enum class JisSet { Ascii, Jis0208, Kana, Jis0212, Jis0213Plane1, Jis0213Plane2, Gb2312, Ksc5601, Unknown };

// The set an escape sequence at p designates, and its length; 0 for no designation.
int jisEscape(const char* p, qsizetype left, JisSet& set)
{
    if (left < 3 || p[0] != 0x1B)
        return 0;
    const char a = p[1], b = p[2];
    if (a == '(') {
        if (b == 'B' || b == 'J') { set = JisSet::Ascii; return 3; }
        if (b == 'I') { set = JisSet::Kana; return 3; }
        return 0;
    }
    if (a != '$')
        return 0;
    if (b == '@' || b == 'B') { set = JisSet::Jis0208; return 3; }
    if (b == 'A') { set = JisSet::Gb2312; return 3; }
    if (b != '(' || left < 4)
        return 0;
    switch (p[3]) {
    case '@': case 'B': set = JisSet::Jis0208; break;
    case 'D': set = JisSet::Jis0212; break;
    case 'O': case 'Q': set = JisSet::Jis0213Plane1; break;
    case 'P': set = JisSet::Jis0213Plane2; break;
    case 'C': set = JisSet::Ksc5601; break;
    default: set = JisSet::Unknown; break;
    }
    return 4;
}

// The EUC form iconv reads a set in: its converter and the byte before each pair.
struct EucForm {
    const char* charset;
    char prefix;
};
// The converters the room relies on; missingCharsetConverters names any the system lacks.
const char kEucJpMs[] = "EUC-JP-MS";
const char kWindows1252[] = "WINDOWS-1252";
const char kEucJisX0213[] = "EUC-JISX0213";
const char kEucCn[] = "EUC-CN";
const char kEucKr[] = "EUC-KR";

EucForm eucFormOf(JisSet set)
{
    switch (set) {
    case JisSet::Jis0212: return {kEucJpMs, char(0x8F)};
    case JisSet::Jis0213Plane1: return {kEucJisX0213, 0};
    case JisSet::Jis0213Plane2: return {kEucJisX0213, char(0x8F)};
    case JisSet::Gb2312: return {kEucCn, 0};
    case JisSet::Ksc5601: return {kEucKr, 0};
    default: return {nullptr, 0};
    }
}

// One two-byte character of a JIS set as CP932 bytes: JIS X 0208 by arithmetic, anything else
// as 〓, the customary mark for a character that cannot be shown.
char* putJisPair(char* o, JisSet set, unsigned j1, unsigned j2)
{
    if (set != JisSet::Jis0208 || j2 < 0x21 || j2 > 0x7E) {
        *o++ = char(0x81);
        *o++ = char(0xAC);
        return o;
    }
    *o++ = char(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    *o++ = char(j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E));
    return o;
}

// A JIS X 0208 character through CP932's table, 0 when CP932 has none: read once a pair is first
// met, so that a text's pairs go straight to their characters.
char16_t jis0208Char(unsigned j1, unsigned j2)
{
    static constexpr char16_t kNone = 0xFFFF; // a noncharacter: never what a pair decodes to
    static std::atomic<char16_t> known[94 * 94]; // 0: not yet asked
    std::atomic<char16_t>& slot = known[(j1 - 0x21) * 94 + (j2 - 0x21)];
    char16_t c = slot.load(std::memory_order_relaxed);
    if (c == 0) {
        char pair[2];
        putJisPair(pair, JisSet::Jis0208, j1, j2);
        c = hm::ansi::pairChar(quint16((static_cast<unsigned char>(pair[0]) << 8) | static_cast<unsigned char>(pair[1])));
        slot.store(c == 0 ? kNone : c, std::memory_order_relaxed);
    }
    return c == kNone ? 0 : c;
}

// Text written in place: the common runs go straight into the buffer, not through appends.
class TextOut {
public:
    explicit TextOut(qsizetype expected) : text_(expected, Qt::Uninitialized) { point(0); }
    // ASCII bytes, sixteen to an instruction.
    void widen(const char* p, qsizetype k)
    {
        room(k);
        qsizetype j = 0;
#if defined(__SSE2__)
        for (; j + 16 <= k; j += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at_ + j), _mm_unpacklo_epi8(v, _mm_setzero_si128()));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at_ + j + 8), _mm_unpackhi_epi8(v, _mm_setzero_si128()));
        }
#endif
        for (; j < k; ++j)
            at_[j] = static_cast<unsigned char>(p[j]);
        at_ += k;
    }
    void put(char16_t c)
    {
        room(1);
        *at_++ = c;
    }
    void append(const QString& more)
    {
        room(more.size());
        std::memcpy(at_, more.utf16(), size_t(more.size()) * sizeof(char16_t));
        at_ += more.size();
    }
    QString take()
    {
        text_.truncate(at_ - begin_);
        return std::move(text_);
    }

private:
    void point(qsizetype used)
    {
        begin_ = reinterpret_cast<char16_t*>(text_.data());
        at_ = begin_ + used;
        end_ = begin_ + text_.size();
    }
    void room(qsizetype k)
    {
        if (end_ - at_ < k) {
            const qsizetype used = at_ - begin_;
            text_.resize(std::max(text_.size() * 2, used + k));
            point(used);
        }
    }
    QString text_;
    char16_t* begin_;
    char16_t* at_;
    char16_t* end_;
};

// glibc's ISO-2022-JP is strict; the rows of JIS X 0208 inside an escape map arithmetically
// onto CP932 bytes, which carries the NEC and IBM extensions Windows mailers send. The other
// double-byte sets (JIS X 0212, both planes of JIS X 0213, and the Chinese and Korean sets of
// ISO-2022-JP-2) go through iconv in their EUC form, so a character CP932 holds comes out as
// itself and one it does not hold is still that character.
QString fromIso2022jp(const QByteArray& in)
{
    JisSet set = JisSet::Ascii;
    bool shiftOut = false;
    // Escapes vanish and pairs become one character: the text is rarely longer than the bytes.
    const qsizetype n = in.size();
    TextOut text(n);
    // Bytes bound for the CP932 decoder, which never grows longer than the input.
    QByteArray cp932(n, Qt::Uninitialized);
    char* const start = cp932.data();
    char* o = start;
    QByteArray euc;
    const char* eucCharset = nullptr;
    const auto endCp932Run = [&] {
        if (o == start)
            return;
        if (hm::ansi::isAscii(start, o - start))
            text.widen(start, o - start);
        else
            text.append(fromCp932(QByteArray::fromRawData(start, o - start)));
        o = start;
    };
    const auto endEucRun = [&] {
        if (!euc.isEmpty())
            text.append(viaIconv(euc, eucCharset));
        euc.clear();
    };
    const char* const b = in.constData();
    for (qsizetype i = 0; i < n; ++i) {
        // In ASCII every byte up to the next escape or shift is taken as it stands.
        if (set == JisSet::Ascii && !shiftOut && euc.isEmpty()) {
            qsizetype j = i;
            while (j < n && b[j] != 0x1B && b[j] != 0x0E && b[j] != 0x0F)
                ++j;
            if (o == start && hm::ansi::isAscii(b + i, j - i)) {
                text.widen(b + i, j - i);
            } else {
                std::memcpy(o, b + i, size_t(j - i));
                o += j - i;
            }
            i = j;
            if (i == n)
                break;
        }
        // So is every pair of JIS X 0208: straight to its character, or by arithmetic to the
        // CP932 run when CP932 has none.
        if (set == JisSet::Jis0208 && !shiftOut && euc.isEmpty()) {
            const auto inRow = [](char c) { return c >= 0x21 && c <= 0x7E; };
            while (i + 1 < n && inRow(b[i]) && inRow(b[i + 1])) {
                const unsigned j1 = static_cast<unsigned char>(b[i]), j2 = static_cast<unsigned char>(b[i + 1]);
                if (const char16_t c = jis0208Char(j1, j2)) {
                    if (o != start)
                        endCp932Run();
                    text.put(c);
                } else {
                    o = putJisPair(o, set, j1, j2);
                }
                i += 2;
            }
            if (i == n)
                break;
        }
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == 0x1B) {
            JisSet designated;
            if (const int length = jisEscape(in.constData() + i, n - i, designated)) {
                set = designated;
                i += length - 1;
                continue;
            }
        }
        if (c == 0x0E) { shiftOut = true; continue; }
        if (c == 0x0F) { shiftOut = false; continue; }
        const EucForm form = eucFormOf(set);
        if (form.charset && !shiftOut && c >= 0x21 && c <= 0x7E && i + 1 < n) {
            const unsigned char c2 = static_cast<unsigned char>(in[i + 1]);
            if (c2 >= 0x21 && c2 <= 0x7E) {
                endCp932Run();
                if (eucCharset != form.charset)
                    endEucRun();
                eucCharset = form.charset;
                if (form.prefix)
                    euc += form.prefix;
                euc += char(c | 0x80);
                euc += char(c2 | 0x80);
                ++i;
                continue;
            }
        }
        endEucRun();
        if (c == '\r' || c == '\n') {
            set = JisSet::Ascii;
            *o++ = char(c);
            continue;
        }
        if (c >= 0x80) {
            *o++ = char(c);
            continue;
        }
        if (shiftOut || set == JisSet::Kana) {
            if (c >= 0x21 && c <= 0x5F)
                *o++ = char(c + 0x80);
            else
                *o++ = char(c);
            continue;
        }
        if (set != JisSet::Ascii) {
            if (c < 0x21 || c > 0x7E || i + 1 >= n) {
                *o++ = char(c);
                continue;
            }
            o = putJisPair(o, set, c, static_cast<unsigned char>(in[++i]));
            continue;
        }
        *o++ = char(c);
    }
    endEucRun();
    endCp932Run();
    return text.take();
}

// Bytes labelled Latin-1 that cannot be Latin-1 text, as they hold C1 controls (0x80-0x9F),
// but read cleanly as UTF-8 or CP932: Japanese mailers that label every 8-bit body so are
// read that way by Japanese clients.
bool mislabelledLatin1(const QByteArray& bytes)
{
    bool control = false;
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F) {
            control = true;
            break;
        }
    if (!control)
        return false;
    if (isUtf8(bytes))
        return true;
    for (const QChar c : fromCp932(bytes)) {
        const char16_t u = c.unicode();
        if (u == 0xFFFD || (u >= 0x80 && u <= 0x9F) || (u >= 0xE000 && u <= 0xF8FF))
            return false;
    }
    return true;
}

QByteArray normalisedLabel(const QByteArray& charset)
{
    QByteArray l = charset.trimmed().toLower();
    const qsizetype star = l.indexOf('*'); // RFC 2231 language suffix
    if (star >= 0)
        l.truncate(star);
    if (l.startsWith('"') && l.endsWith('"') && l.size() >= 2)
        l = l.mid(1, l.size() - 2);
    return l;
}

} // namespace

namespace {
// A designation of a double-byte set or of kana: one look at each escape byte, not a search
// of the text per escape.
bool holdsJisEscape(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    while ((p = static_cast<const char*>(std::memchr(p, 0x1b, size_t(end - p)))) != nullptr) {
        JisSet set;
        if (jisEscape(p, end - p, set) && set != JisSet::Ascii)
            return true;
        ++p;
    }
    return false;
}
} // namespace

QString decodeUnlabelled(const QByteArray& bytes)
{
    // Older Japanese mailers put raw ISO-2022-JP into headers and unlabelled bodies.
    if (holdsJisEscape(bytes))
        return fromIso2022jp(bytes);
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    if (isUtf8(bytes))
        return QString::fromUtf8(bytes);
    return fromCp932(bytes);
}

namespace {

const CharsetLabel kLabels[] = {
    {"", CharsetDecoder::Unlabelled},
    {"us-ascii", CharsetDecoder::Unlabelled},
    {"ascii", CharsetDecoder::Unlabelled},
    {"ansi_x3.4-1968", CharsetDecoder::Unlabelled},
    {"unknown-8bit", CharsetDecoder::Unlabelled},
    {"x-unknown", CharsetDecoder::Unlabelled},
    {"x-user-defined", CharsetDecoder::Unlabelled},
    {"utf-8", CharsetDecoder::Utf8},
    {"utf8", CharsetDecoder::Utf8},
    {"shift_jis", CharsetDecoder::Cp932},
    {"shift-jis", CharsetDecoder::Cp932},
    {"sjis", CharsetDecoder::Cp932},
    {"x-sjis", CharsetDecoder::Cp932},
    {"ms_kanji", CharsetDecoder::Cp932},
    {"csshiftjis", CharsetDecoder::Cp932},
    {"windows-31j", CharsetDecoder::Cp932},
    {"cp932", CharsetDecoder::Cp932},
    {"ms932", CharsetDecoder::Cp932},
    {"x-ms-cp932", CharsetDecoder::Cp932},
    {"shift_jisx0213", CharsetDecoder::Cp932},
    {"iso-2022-jp", CharsetDecoder::Iso2022jp, true}, // and its -1, -2, -3, -2004 forms
    {"csiso2022jp", CharsetDecoder::Iso2022jp},
    {"cp50220", CharsetDecoder::Iso2022jp},
    {"cp50221", CharsetDecoder::Iso2022jp},
    {"cp50222", CharsetDecoder::Iso2022jp},
    {"jis", CharsetDecoder::Iso2022jp},
    {"euc-jp", CharsetDecoder::EucJp},
    {"x-euc-jp", CharsetDecoder::EucJp},
    {"eucjp", CharsetDecoder::EucJp},
    {"euc-jp-ms", CharsetDecoder::EucJp},
    {"cseucpkdfmtjapanese", CharsetDecoder::EucJp},
    {"iso-8859-1", CharsetDecoder::Latin1},
    {"latin1", CharsetDecoder::Latin1},
    {"iso_8859-1", CharsetDecoder::Latin1},
    {"l1", CharsetDecoder::Latin1},
};

// The table's decoder for a normalised (lower-case) label; the library's own converter for
// any other.
CharsetDecoder decoderFor(const QByteArray& label)
{
    for (const CharsetLabel& entry : kLabels) {
        const bool match = entry.prefix ? label.startsWith(entry.name) : label == entry.name;
        if (match)
            return entry.decoder;
    }
    return CharsetDecoder::Iconv;
}

} // namespace

std::span<const CharsetLabel> charsetLabels()
{
    return kLabels;
}

QString missingCharsetConverters()
{
    const char* const utf8 = "UTF-8";
    return hm::ansi::missingConverters({kEucJpMs, kWindows1252, kEucJisX0213, kEucCn, kEucKr}, utf8);
}

QString decodeCharset(const QByteArray& bytes, const QByteArray& charset)
{
    const QByteArray l = normalisedLabel(charset);
    switch (decoderFor(l)) {
    case CharsetDecoder::Unlabelled:
        return decodeUnlabelled(bytes);
    case CharsetDecoder::Utf8:
        return isUtf8(bytes) ? QString::fromUtf8(bytes) : decodeUnlabelled(bytes);
    case CharsetDecoder::Cp932:
        return fromCp932(bytes);
    case CharsetDecoder::Iso2022jp:
        return fromIso2022jp(bytes);
    case CharsetDecoder::EucJp:
        return viaIconv(bytes, kEucJpMs);
    case CharsetDecoder::Latin1:
        return mislabelledLatin1(bytes) ? decodeUnlabelled(bytes) : viaIconv(bytes, kWindows1252);
    case CharsetDecoder::Iconv:
        break;
    }
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    if (converterFrom(l.constData()) == kNoConverter)
        return decodeUnlabelled(bytes);
    return viaIconv(bytes, l.constData());
}

QString decodeHeaderText(const QByteArray& raw)
{
    // Unfold: a line break followed by white space is just the white space.
    QByteArray value = raw;
    if (value.contains('\n') || value.contains('\r'))
        value.removeIf([](char c) { return c == '\r' || c == '\n'; });
    // Without an encoded word the text is read as it stands.
    if (!value.contains("=?"))
        return decodeUnlabelled(value);

    static const QRegularExpression word(
        QStringLiteral("=\\?([^?\\s]+)\\?([bBqQ])\\?([^?\\s]*)\\?="));
    // Work on Latin-1 so that each byte is one character and positions are byte positions.
    const QString text = QString::fromLatin1(value);
    QString result;
    QByteArray pendingBytes, pendingCharset;
    auto flush = [&] {
        if (!pendingBytes.isEmpty() || !pendingCharset.isEmpty())
            result += decodeCharset(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pendingCharset.clear();
    };
    qsizetype pos = 0;
    auto it = word.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        const QString between = text.mid(pos, m.capturedStart() - pos);
        const bool onlySpace = !between.isEmpty() ? between.trimmed().isEmpty() : true;
        const bool adjacent = pos > 0 && onlySpace && !pendingCharset.isEmpty();
        if (!adjacent) {
            flush();
            result += decodeUnlabelled(between.toLatin1());
        }
        const QByteArray charset = normalisedLabel(m.captured(1).toLatin1());
        const QByteArray payload = m.captured(3).toLatin1();
        QByteArray decoded;
        if (m.captured(2).compare(QLatin1String("b"), Qt::CaseInsensitive) == 0) {
            decoded = QByteArray::fromBase64(payload);
        } else {
            for (qsizetype i = 0; i < payload.size(); ++i) {
                const char c = payload[i];
                if (c == '_') {
                    decoded.append(' ');
                } else if (c == '=' && i + 2 < payload.size()) {
                    bool ok = false;
                    const int v = payload.mid(i + 1, 2).toInt(&ok, 16);
                    if (ok) {
                        decoded.append(char(v));
                        i += 2;
                    } else {
                        decoded.append(c);
                    }
                } else {
                    decoded.append(c);
                }
            }
        }
        if (adjacent && charset != pendingCharset)
            flush();
        pendingCharset = charset;
        pendingBytes += decoded;
        pos = m.capturedEnd();
    }
    flush();
    result += decodeUnlabelled(text.mid(pos).toLatin1());
    return result;
}

} // namespace hm::mail
