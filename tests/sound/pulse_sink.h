#pragma once
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdlib>

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

// The loudest sample in the next `ms` milliseconds of sound that the null sink mixes, read
// back from its monitor; -1 when it cannot be recorded. The sink mixes ahead of time, so what
// this hears is what plays from now on.
inline int peakOnSink(int ms)
{
    QProcess rec;
    rec.start(QStringLiteral("parec"),
              {QStringLiteral("--device=hm_null.monitor"), QStringLiteral("--format=s16le"),
               QStringLiteral("--rate=22050"), QStringLiteral("--channels=1"),
               QStringLiteral("--raw"), QStringLiteral("--latency-msec=20")});
    if (!rec.waitForStarted(3000))
        return -1;
    const qint64 wanted = qint64(ms) * 22050 / 1000 * 2;
    QByteArray data;
    QElapsedTimer t;
    t.start();
    while (data.size() < wanted && t.elapsed() < 5000 + ms) {
        rec.waitForReadyRead(100);
        data += rec.readAllStandardOutput();
    }
    rec.terminate();
    rec.waitForFinished(3000);
    if (data.size() < wanted)
        return -1;
    int peak = 0;
    const auto* s = reinterpret_cast<const qint16*>(data.constData());
    for (qsizetype i = 0; i < wanted / 2; ++i)
        peak = std::max(peak, std::abs(int(s[i])));
    return peak;
}

} // namespace hm::test
