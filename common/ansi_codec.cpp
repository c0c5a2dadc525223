#include "common/ansi_codec.h"

#include "common/char_lanes.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <vector>

namespace hm::ansi {

// Most text is ASCII: sixteen bytes or eight characters to an instruction say so.
bool isAscii(const char* p, qsizetype n)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16)
        if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))))
            return false;
#endif
    for (; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    }
    return true;
}

namespace {

// The length of the ASCII run s begins with, written as bytes at o, sixteen characters to a step.
qsizetype narrowAscii(const char16_t* s, qsizetype n, char* o)
{
    qsizetype i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i a = lanes::load(s + i), b = lanes::load(s + i + 8);
        if (_mm_movemask_epi8(lanes::atMost(_mm_or_si128(a, b), lanes::same(0x7F))) != 0xFFFF)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm_packus_epi16(a, b));
    }
    for (; i + 8 <= n; i += 8) {
        const __m128i v = lanes::load(s + i);
        if (_mm_movemask_epi8(lanes::atMost(v, lanes::same(0x7F))) != 0xFFFF)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + i), _mm_packus_epi16(v, v));
    }
#endif
    for (; i < n && s[i] < 0x80; ++i)
        o[i] = static_cast<char>(s[i]);
    return i;
}

bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

const char kCp932[] = "CP932";
const char kUtf16[] = "UTF-16LE";

// CP932 through lookup tables: iconv answers each code once, when a text first holds it, and
// every later conversion is a table walk (a store listing decodes tens of megabytes). Asking
// all 130,000 codes at the first use cost several milliseconds a process.
class Cp932Tables {
public:
    static const Cp932Tables& get()
    {
        static const Cp932Tables tables;
        return tables;
    }
    // 0 where the byte is not CP932.
    char16_t single[256] = {};
    // 0 where the pair is not CP932.
    char16_t pair(unsigned index) const
    {
        const char16_t known = pair_[index].load(std::memory_order_relaxed);
        return known != kUnasked ? known : askPair(index);
    }
    // The CP932 code of a BMP character: a byte below 0x100, a pair above; 0 for none.
    quint16 code(char16_t c) const
    {
        const quint16 known = code_[c].load(std::memory_order_relaxed);
        return known != kUnasked ? known : askCode(c);
    }

private:
    // Neither a character CP932 decodes to nor a CP932 code.
    static constexpr quint16 kUnasked = 0xFFFF;

    Cp932Tables()
        : toUnicode_(iconv_open(kUtf16, kCp932)), fromUnicode_(iconv_open(kCp932, kUtf16)),
          pair_(new std::atomic<char16_t>[65536]), code_(new std::atomic<quint16>[65536])
    {
        // Start-up shows converterProblem(); a program that goes on without the converters
        // would turn every Japanese character into '?' and U+FFFD.
        if (toUnicode_ == reinterpret_cast<iconv_t>(-1) || fromUnicode_ == reinterpret_cast<iconv_t>(-1))
            qFatal("%s", qUtf8Printable(converterProblem()));
        for (int i = 0; i < 65536; ++i) {
            pair_[i].store(kUnasked, std::memory_order_relaxed);
            code_[i].store(kUnasked, std::memory_order_relaxed);
        }
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            single[b] = b == 0 ? 0 : decodeOne(&c, 1);
        }
        for (int u = 0; u < 0x80; ++u)
            code_[u].store(quint16(u), std::memory_order_relaxed);
    }

    char16_t decodeOne(const char* bytes, size_t n) const
    {
        iconv(toUnicode_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes);
        char16_t out[2] = {};
        char* outPtr = reinterpret_cast<char*>(out);
        size_t inLeft = n, outLeft = sizeof out;
        if (iconv(toUnicode_, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0
            || outLeft != sizeof out - 2)
            return 0;
        return out[0];
    }

    char16_t askPair(unsigned index) const
    {
        const std::lock_guard lock(mutex_);
        const char bytes[2] = {static_cast<char>(index >> 8), static_cast<char>(index & 0xFF)};
        const unsigned char trail = static_cast<unsigned char>(bytes[1]);
        const char16_t c = isLeadByte(static_cast<unsigned char>(bytes[0])) && trail >= 0x40 && trail <= 0xFC
                               ? decodeOne(bytes, 2)
                               : 0;
        pair_[index].store(c, std::memory_order_relaxed);
        return c;
    }

    quint16 askCode(char16_t c) const
    {
        const std::lock_guard lock(mutex_);
        quint16 code = 0;
        if (!QChar::isSurrogate(c)) {
            iconv(fromUnicode_, nullptr, nullptr, nullptr, nullptr);
            char* in = reinterpret_cast<char*>(&c);
            unsigned char out[4] = {};
            char* outPtr = reinterpret_cast<char*>(out);
            size_t inLeft = 2, outLeft = sizeof out;
            if (iconv(fromUnicode_, &in, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
                const size_t n = sizeof out - outLeft;
                code = n == 1 ? out[0] : n == 2 ? static_cast<quint16>((out[0] << 8) | out[1]) : 0;
            }
        }
        code_[c].store(code, std::memory_order_relaxed);
        return code;
    }

    // iconv's state is one conversion's; the tables fill from any thread.
    mutable std::mutex mutex_;
    iconv_t toUnicode_;
    iconv_t fromUnicode_;
    std::unique_ptr<std::atomic<char16_t>[]> pair_;
    std::unique_ptr<std::atomic<quint16>[]> code_;
};

} // namespace

QString missingConverters(std::initializer_list<const char*> from, const char* to)
{
    QStringList missing;
    for (const char* name : from) {
        const iconv_t cd = iconv_open(to, name);
        if (cd == reinterpret_cast<iconv_t>(-1))
            missing << QString::fromLatin1(name);
        else
            iconv_close(cd);
    }
    if (missing.isEmpty())
        return QString();
    return QStringLiteral("文字コードの変換（%1 から %2 へ）がこのシステムでは使えないため、日本語を正しく読み書きできません。\n"
                          "システムの文字コード変換モジュール（glibc の gconv）を入れ直してください。")
        .arg(missing.join(QStringLiteral("、")), QString::fromLatin1(to));
}

QString converterProblem()
{
    QString problem = missingConverters({kCp932}, kUtf16);
    if (problem.isEmpty())
        problem = missingConverters({kUtf16}, kCp932);
    return problem;
}

QByteArray encode(const QString& text, bool* lost)
{
    if (lost)
        *lost = false;
    const qsizetype n = text.size();
    const char16_t* s = reinterpret_cast<const char16_t*>(text.utf16());
    // A byte a character while the text is ASCII, as most is; room for two from the first
    // character that is not.
    QByteArray out(n, Qt::Uninitialized);
    qsizetype i = narrowAscii(s, n, out.data());
    if (i == n)
        return out;
    out.resize(i + (n - i) * 2);
    char* o = out.data() + i;
    const Cp932Tables& t = Cp932Tables::get();
    while (i < n) {
        const char16_t c = s[i];
        if (c < 0x80) {
            const qsizetype run = narrowAscii(s + i, n - i, o);
            o += run;
            i += run;
            continue;
        }
        ++i;
        quint16 code = 0;
        if (QChar::isSurrogate(c)) {
            if (QChar::isHighSurrogate(c) && i < n && QChar::isLowSurrogate(s[i]))
                ++i; // outside the BMP: CP932 has nothing there
        } else {
            code = t.code(c);
        }
        if (code >= 0x100) {
            *o++ = static_cast<char>(code >> 8);
            *o++ = static_cast<char>(code & 0xFF);
        } else if (code != 0) {
            *o++ = static_cast<char>(code);
        } else {
            if (lost)
                *lost = true;
            *o++ = '?';
        }
    }
    out.resize(o - out.data());
    return out;
}

char16_t pairChar(quint16 code)
{
    return isLeadByte(code >> 8) ? Cp932Tables::get().pair(code) : 0;
}

QString decode(const char* bytes, qsizetype size)
{
    if (isAscii(bytes, size))
        return QString::fromLatin1(bytes, size);
    const Cp932Tables& t = Cp932Tables::get();
    QString out(size, Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char c = b[i];
        if (c < 0x80) {
            *o++ = c;
            ++i;
        } else if (const char16_t p = isLeadByte(c) && i + 1 < size ? t.pair((c << 8) | b[i + 1]) : 0; p != 0) {
            *o++ = p;
            i += 2;
        } else {
            *o++ = t.single[c] != 0 ? t.single[c] : char16_t(0xFFFD);
            ++i;
        }
    }
    out.truncate(reinterpret_cast<QChar*>(o) - out.constData());
    return out;
}

QString decode(const QByteArray& bytes)
{
    return decode(bytes.constData(), bytes.size());
}

QByteArray cutBytes(const QByteArray& cp932, qsizetype maxBytes)
{
    if (cp932.size() <= maxBytes)
        return cp932;
    qsizetype i = 0;
    while (i < maxBytes) {
        const qsizetype step = isLeadByte(static_cast<unsigned char>(cp932[i])) ? 2 : 1;
        if (i + step > maxBytes)
            break;
        i += step;
    }
    return cp932.left(i);
}

void writeField(char* dest, const QString& text, int width)
{
    const QByteArray bytes = cutBytes(encode(text.left(width)), width);
    memcpy(dest, bytes.constData(), static_cast<size_t>(bytes.size()));
    memset(dest + bytes.size(), ' ', static_cast<size_t>(width - bytes.size()));
}

QByteArray fixedField(const QString& text, int width)
{
    QByteArray field(width, ' ');
    writeField(field.data(), text, width);
    return field;
}

QString readField(const char* field, int width, bool dropTrailingSpaces)
{
    qsizetype n = width;
    if (dropTrailingSpaces) {
        while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0'))
            --n;
    }
    return decode(field, n);
}

} // namespace hm::ansi

QString Trim(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

QString CutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}
