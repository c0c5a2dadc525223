#pragma once
#include <QByteArray>
#include <QtEndian>

#include <cmath>

namespace hm::test {

// A RIFF/WAVE image built field by field, so tests can make good and broken files alike.
struct WaveLayout {
    quint16 tag = 1;
    quint16 channels = 1;
    quint32 rate = 22050;
    quint16 bits = 16;
    int blockAlign = -1;       // -1: channels * bytes per sample
    qint64 declaredData = -1;  // -1: the real size
    int extraFmt = 0;          // bytes after the 16-byte format body
};

inline void putU16(QByteArray& w, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    w.append(b, 2);
}

inline void putU32(QByteArray& w, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    w.append(b, 4);
}

inline QByteArray waveImage(const WaveLayout& s, const QByteArray& data, const QByteArray& before = {})
{
    const quint16 align = s.blockAlign < 0 ? quint16(s.channels * (s.bits / 8)) : quint16(s.blockAlign);
    QByteArray w("RIFF");
    putU32(w, 0);
    w.append("WAVEfmt ");
    putU32(w, quint32(16 + s.extraFmt));
    putU16(w, s.tag);
    putU16(w, s.channels);
    putU32(w, s.rate);
    putU32(w, s.rate * align);
    putU16(w, align);
    putU16(w, s.bits);
    w.append(QByteArray(s.extraFmt, '\0'));
    w.append(before);
    w.append("data");
    putU32(w, quint32(s.declaredData < 0 ? data.size() : s.declaredData));
    w.append(data);
    qToLittleEndian<quint32>(quint32(w.size() - 8), w.data() + 4);
    return w;
}

// A quiet 16-bit mono sine of the given length, fading in and out.
inline QByteArray tone(int milliseconds, quint32 rate = 22050)
{
    const int frames = int(qint64(rate) * milliseconds / 1000);
    QByteArray pcm(frames * 2, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i) {
        const double fade = std::min({1.0, i / 200.0, (frames - i) / 200.0});
        qToLittleEndian<qint16>(qint16(3000 * fade * std::sin(i * 0.12)), pcm.data() + 2 * i);
    }
    return waveImage(WaveLayout{}, pcm);
}

// A playable wave file of exactly `size` bytes (an even size at least 46).
inline QByteArray waveOfSize(qint64 size)
{
    QByteArray w = tone(0);
    const qint64 samples = (size - w.size()) / 2;
    QByteArray pcm(samples * 2, '\0');
    for (qint64 i = 0; i < samples; ++i)
        qToLittleEndian<qint16>(qint16((i % 64) * 40 - 1280), pcm.data() + 2 * i);
    return waveImage(WaveLayout{}, pcm);
}

} // namespace hm::test
