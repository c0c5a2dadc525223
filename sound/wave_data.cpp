#include "sound/wave_data.h"

#include <QtEndian>

namespace hm::sound {
namespace {
constexpr quint16 kFormatPcm = 1;
constexpr quint16 kFormatFloat = 3;
constexpr quint16 kFormatExtensible = 0xFFFE;

quint16 u16(const char* p) { return qFromLittleEndian<quint16>(p); }
quint32 u32(const char* p) { return qFromLittleEndian<quint32>(p); }

QByteArray widen24(const QByteArray& in)
{
    const qsizetype samples = in.size() / 3;
    QByteArray out(samples * 4, Qt::Uninitialized);
    const char* s = in.constData();
    char* d = out.data();
    for (qsizetype i = 0; i < samples; ++i, s += 3, d += 4) {
        d[0] = 0;
        d[1] = s[0];
        d[2] = s[1];
        d[3] = s[2];
    }
    return out;
}
} // namespace

qint64 WaveData::durationMs() const
{
    const int frame = format.bytesPerFrame();
    if (frame <= 0 || format.sampleRate() <= 0)
        return 0;
    return qint64(pcm.size() / frame) * 1000 / format.sampleRate();
}

std::optional<WaveData> parseWave(const QByteArray& bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;

    const char* base = bytes.constData();
    const qsizetype size = bytes.size();
    const char* fmt = nullptr;
    quint32 fmtSize = 0;
    qsizetype dataPos = -1;
    quint32 dataSize = 0;

    qsizetype pos = 12;
    while (pos + 8 <= size) {
        const QByteArray id(base + pos, 4);
        const quint32 chunk = u32(base + pos + 4);
        const qsizetype body = pos + 8;
        if (id == "fmt ") {
            if (chunk > quint32(size - body))
                return std::nullopt;
            fmt = base + body;
            fmtSize = chunk;
        } else if (id == "data") {
            // Writers that never went back to fill in the size leave it too large; the
            // samples present are still good.
            dataPos = body;
            dataSize = quint32(qMin<qint64>(chunk, size - body));
            if (fmt)
                break;
        }
        if (chunk > quint32(size - body))
            break;
        pos = body + chunk + (chunk & 1);
    }
    if (!fmt || fmtSize < 16 || dataPos < 0)
        return std::nullopt;

    quint16 tag = u16(fmt);
    const quint16 channels = u16(fmt + 2);
    const quint32 rate = u32(fmt + 4);
    const quint16 blockAlign = u16(fmt + 12);
    const quint16 bits = u16(fmt + 14);
    if (tag == kFormatExtensible) {
        if (fmtSize < 40)
            return std::nullopt;
        tag = u16(fmt + 24); // first two bytes of the sub-format GUID
    }
    if (channels < 1 || channels > 8 || rate < 1000 || rate > 384000)
        return std::nullopt;
    if (bits % 8 != 0 || blockAlign != channels * (bits / 8))
        return std::nullopt;

    QAudioFormat format;
    format.setChannelCount(channels);
    format.setSampleRate(int(rate));
    bool widen = false;
    if (tag == kFormatPcm && bits == 8)
        format.setSampleFormat(QAudioFormat::UInt8);
    else if (tag == kFormatPcm && bits == 16)
        format.setSampleFormat(QAudioFormat::Int16);
    else if (tag == kFormatPcm && bits == 24) {
        format.setSampleFormat(QAudioFormat::Int32);
        widen = true;
    } else if (tag == kFormatPcm && bits == 32)
        format.setSampleFormat(QAudioFormat::Int32);
    else if (tag == kFormatFloat && bits == 32)
        format.setSampleFormat(QAudioFormat::Float);
    else
        return std::nullopt;

    // Whole frames only: a torn last frame would shift every channel after a loop.
    const quint32 whole = dataSize - dataSize % blockAlign;
    QByteArray pcm = bytes.mid(dataPos, whole);
    WaveData wave{format, widen ? widen24(pcm) : pcm};
    return wave;
}

} // namespace hm::sound
