#pragma once
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

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

} // namespace hm::test
