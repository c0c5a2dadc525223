#pragma once
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace hm::test {

// Streams playing on the fixture's null sink right now, as the sound server itself reports
// them: proof that a sound really plays, not just that the program thinks so.
inline int streamsOnSink()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"),
                                          QStringLiteral("sink-inputs")});
    if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
        return -1;
    const QByteArray out = pactl.readAllStandardOutput().trimmed();
    return out.isEmpty() ? 0 : int(out.count('\n')) + 1;
}

// Waits up to `ms` for the sink to carry `count` streams.
inline bool waitForStreams(int count, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (streamsOnSink() == count)
            return true;
        QTest::qWait(50);
    }
    return streamsOnSink() == count;
}

// Records what the null sink mixes, from its monitor, in the sink's own time: on a busy
// machine the sink may fall behind the clock, but a clip still fills its own length of it.
class SinkRecorder {
public:
    static constexpr int kRate = 22050;

    bool start()
    {
        rec_.start(QStringLiteral("parec"),
                   {QStringLiteral("--device=hm_null.monitor"), QStringLiteral("--format=s16le"),
                    QStringLiteral("--rate=22050"), QStringLiteral("--channels=1"),
                    QStringLiteral("--raw"), QStringLiteral("--latency-msec=20")});
        return rec_.waitForStarted(3000);
    }
    ~SinkRecorder()
    {
        rec_.terminate();
        rec_.waitForFinished(3000);
    }
    // Samples of the next `ms` milliseconds of sink time; fewer if the sink stalls.
    QList<qint16> take(int ms)
    {
        const qsizetype wanted = qsizetype(ms) * kRate / 1000 * 2;
        QElapsedTimer t;
        t.start();
        while (data_.size() < wanted && t.elapsed() < 10000 + 4 * ms) {
            rec_.waitForReadyRead(50);
            data_ += rec_.readAllStandardOutput();
        }
        const QByteArray part = data_.left(wanted);
        data_.remove(0, part.size());
        QList<qint16> samples(part.size() / 2);
        std::memcpy(samples.data(), part.constData(), size_t(samples.size()) * 2);
        return samples;
    }

private:
    QProcess rec_;
    QByteArray data_;
};

inline int peak(const QList<qint16>& samples, qsizetype from = 0, qsizetype to = -1)
{
    if (to < 0 || to > samples.size())
        to = samples.size();
    int p = 0;
    for (qsizetype i = from; i < to; ++i)
        p = std::max(p, std::abs(int(samples[i])));
    return p;
}

// The loudest sample in the next `ms` milliseconds the sink mixes; -1 when nothing came.
inline int peakOnSink(int ms)
{
    SinkRecorder rec;
    if (!rec.start())
        return -1;
    const QList<qint16> samples = rec.take(ms);
    return samples.isEmpty() ? -1 : peak(samples);
}

// Starts recording, runs `play`, and gives the loudest sample of the sound it started between
// `fromMs` and `toMs` after its first audible sample, in sink time; -1 when that cannot be
// told (nothing audible, or the recording ran short).
template <typename Play>
int peakBetween(Play play, int fromMs, int toMs)
{
    SinkRecorder rec;
    if (!rec.start())
        return -1;
    play();
    const QList<qint16> samples = rec.take(toMs + 1500);
    qsizetype first = 0;
    while (first < samples.size() && std::abs(int(samples[first])) < 500)
        ++first;
    const qsizetype from = first + qsizetype(fromMs) * SinkRecorder::kRate / 1000;
    const qsizetype to = first + qsizetype(toMs) * SinkRecorder::kRate / 1000;
    return to <= samples.size() ? peak(samples, from, to) : -1;
}

} // namespace hm::test
