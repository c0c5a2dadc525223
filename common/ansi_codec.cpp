#include "common/ansi_codec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace hm::ansi {
namespace {

// iconv_open is costly; a store listing decodes tens of thousands of fields.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    iconv_t get()
    {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr); // reset shift state
        return cd_;
    }
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

private:
    iconv_t cd_;
};

Converter& toCp932()
{
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

Converter& fromCp932()
{
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

bool isAscii(const char* p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    }
    return true;
}

int utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Runs iconv over the whole input; on a byte it cannot convert it writes `replacement`
// and skips `skip(in)` input bytes.
template <typename Skip>
QByteArray convert(Converter& conv, const char* data, qsizetype size, const QByteArray& replacement,
                   Skip skip)
{
    QByteArray out;
    out.resize(size * 2 + 16);
    char* in = const_cast<char*>(data);
    size_t inLeft = static_cast<size_t>(size);
    char* outPtr = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    iconv_t cd = conv.get();
    while (inLeft > 0) {
        size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        if (r != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG || outLeft < static_cast<size_t>(replacement.size()) + 4) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2 + 16);
            outPtr = out.data() + used;
            outLeft = static_cast<size_t>(out.size() - used);
            if (errno == E2BIG)
                continue;
        }
        // EILSEQ or EINVAL (a truncated sequence at the end): replace and go on.
        memcpy(outPtr, replacement.constData(), static_cast<size_t>(replacement.size()));
        outPtr += replacement.size();
        outLeft -= static_cast<size_t>(replacement.size());
        size_t n = std::min(inLeft, static_cast<size_t>(skip(static_cast<unsigned char>(*in))));
        in += n;
        inLeft -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(outPtr - out.data());
    return out;
}

} // namespace

QByteArray encode(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (isAscii(utf8.constData(), utf8.size()) || !toCp932().valid())
        return utf8;
    return convert(toCp932(), utf8.constData(), utf8.size(), QByteArrayLiteral("?"),
                   [](unsigned char lead) { return utf8SequenceLength(lead); });
}

QString decode(const char* bytes, qsizetype size)
{
    if (isAscii(bytes, size) || !fromCp932().valid())
        return QString::fromLatin1(bytes, size);
    const QByteArray utf8 = convert(fromCp932(), bytes, size, QByteArrayLiteral("\xEF\xBF\xBD"),
                                    [](unsigned char) { return 1; });
    return QString::fromUtf8(utf8);
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
