#include "sound/module1.h"
#include "sound/sound_device.h"
#include "tests/sound/pulse_sink.h"
#include "tests/sound/wave_files.h"
#include "tests/support/test_folder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>

#include <chrono>
#include <csignal>
#include <thread>

using namespace hm::sound;
using hm::test::streamsOnSink;
using hm::test::waitForStreams;

namespace {
constexpr int kClipMs = 400;
constexpr int kLongMs = 1500;
}

class TestPlayWave : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void backgroundPlayReturnsAtOnceAndPlaysOnce();
    void loopedSoundPlaysUntilStopped();
    void aPlayingSoundIsNeverCutOffUnlessStoppedFirst();
    void synchronousAndLoopTogetherAreRefused();
    void memoryLimitIsTwoMebibytes();
    void memoryPlayKeepsTheFileBytesInTheBuffer();
    void brokenWaveFilesFailWithoutHarm();
    void aStalledServerDoesNotHoldASynchronousPlay();

private:
    QString put(const QString& name, const QByteArray& bytes);
    QTemporaryDir dir_;
};

QString TestPlayWave::put(const QString& name, const QByteArray& bytes)
{
    const QString path = dir_.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestPlayWave::init()
{
    setSoundModulePath(hm::test::builtModule(QStringLiteral("hayatemail-sound.so")));
    QVERIFY2(streamsOnSink() >= 0, "the PulseAudio fixture is not reachable");
}

void TestPlayWave::cleanup()
{
    StopWave();
    QVERIFY(waitForStreams(0));
}

void TestPlayWave::backgroundPlayReturnsAtOnceAndPlaysOnce()
{
    const QString wav = put(QStringLiteral("long.wav"), hm::test::tone(kLongMs));
    int result = -1;
    qint64 returnedAfter = -1;
    const int after = hm::test::peakBetween(
        [&] {
            QElapsedTimer t;
            t.start();
            result = PlayWave(wav, false, false, false, false);
            returnedAfter = t.elapsed();
        },
        kLongMs + 200, kLongMs + 700);
    QCOMPARE(result, 0);
    QVERIFY2(returnedAfter < kLongMs / 2, qPrintable(QString::number(returnedAfter)));
    QVERIFY2(after >= 0 && after < 50, qPrintable(QString::number(after))); // silent after its length
    QTRY_VERIFY_WITH_TIMEOUT(!soundDevice().isPlaying(), 10000);
    QVERIFY(waitForStreams(0));
}

void TestPlayWave::loopedSoundPlaysUntilStopped()
{
    const QString wav = put(QStringLiteral("a.wav"), hm::test::tone(kClipMs));
    for (bool fromMemory : {false, true}) {
        const int third = hm::test::peakBetween(
            [&] { QCOMPARE(PlayWave(wav, false, true, fromMemory, false), 0); },
            2 * kClipMs + 100, 3 * kClipMs - 50);
        QVERIFY2(third > 1000, qPrintable(QString::number(third))); // the third time round
        QVERIFY(soundDevice().isPlaying());
        QCOMPARE(streamsOnSink(), 1);
        // The stop call as callers make it; its own result does not matter.
        PlayWave(QString(), false, false, false, true);
        QVERIFY(!soundDevice().isPlaying());
        QVERIFY(waitForStreams(0));
        QVERIFY(hm::test::peakOnSink(200) < 50);
    }
}

void TestPlayWave::aPlayingSoundIsNeverCutOffUnlessStoppedFirst()
{
    const QString wav = put(QStringLiteral("a.wav"), hm::test::tone(kClipMs));
    QCOMPARE(PlayWave(wav, false, true, false, false), 0);
    QCOMPARE(PlayWave(wav, false, false, false, false), 4);
    QCOMPARE(PlayWave(wav, false, false, true, false), 4);
    QCOMPARE(PlayWave(wav, true, false, false, false), 4);
    QVERIFY(soundDevice().isPlaying()); // the looped one plays on
    QCOMPARE(streamsOnSink(), 1);

    QCOMPARE(PlayWave(wav, false, false, false, true), 0);
    QCOMPARE(streamsOnSink(), 1);
    // Once a background sound has ended by itself the next one needs no stop.
    QTRY_VERIFY_WITH_TIMEOUT(!soundDevice().isPlaying(), 10000);
    QCOMPARE(PlayWave(wav, false, false, false, false), 0);
}

void TestPlayWave::synchronousAndLoopTogetherAreRefused()
{
    const QString wav = put(QStringLiteral("a.wav"), hm::test::tone(kClipMs));
    QCOMPARE(PlayWave(wav, false, true, false, false), 0);
    // Refused before the file is looked at, but after the stop.
    QCOMPARE(PlayWave(dir_.filePath(QStringLiteral("none.wav")), true, true, true, true), 2);
    QVERIFY(!soundDevice().isPlaying());
    QCOMPARE(PlayWave(wav, true, true, false, false), 2);
    QVERIFY(!soundDevice().isPlaying());
}

void TestPlayWave::memoryLimitIsTwoMebibytes()
{
    const QString atLimit = put(QStringLiteral("limit.wav"), hm::test::waveOfSize(kMemoryWaveLimit));
    QCOMPARE(QFile(atLimit).size(), 2097152);
    QCOMPARE(PlayWave(atLimit, false, false, true, false), 0);
    QVERIFY(soundDevice().isPlaying());
    QCOMPARE(soundBuffer().size(), 2097152);
    StopWave();

    QByteArray over = hm::test::waveOfSize(kMemoryWaveLimit);
    over.append('\0');
    const QString overLimit = put(QStringLiteral("over.wav"), over);
    QCOMPARE(PlayWave(overLimit, false, false, true, false), 1);
    QVERIFY(!soundDevice().isPlaying());
    QCOMPARE(soundBuffer().size(), 2097152); // the buffer is left as it was
    // Played from the file the same file is fine.
    QCOMPARE(PlayWave(overLimit, false, false, false, false), 0);
}

void TestPlayWave::memoryPlayKeepsTheFileBytesInTheBuffer()
{
    const QByteArray first = hm::test::tone(kClipMs);
    const QString wav = put(QStringLiteral("a.wav"), first);
    QCOMPARE(PlayWave(wav, false, true, true, false), 0);
    QCOMPARE(soundBuffer(), first);

    // The file going away does not touch the sound playing from memory.
    QVERIFY(QFile::remove(wav));
    QTest::qWait(2 * kClipMs);
    QVERIFY(soundDevice().isPlaying());
    QCOMPARE(soundBuffer(), first);

    // A failed read leaves the buffer alone.
    QCOMPARE(PlayWave(wav, false, false, true, true), 3);
    QCOMPARE(soundBuffer(), first);
    const QString second = put(QStringLiteral("b.wav"), hm::test::tone(kClipMs / 2));
    QCOMPARE(PlayWave(second, false, false, true, false), 0);
    QCOMPARE(soundBuffer(), hm::test::tone(kClipMs / 2));
}

void TestPlayWave::brokenWaveFilesFailWithoutHarm()
{
    hm::test::WaveLayout lying;
    lying.blockAlign = 7;
    const QByteArray images[] = {
        QByteArray("RIFF\xff\xff\xff\x7fWAVEfmt \xff\xff\xff\x7f", 20),
        hm::test::waveImage(lying, QByteArray(64, 1)),
        QByteArray(5000, '\xAA'),
    };
    for (const QByteArray& image : images) {
        const QString wav = put(QStringLiteral("bad.wav"), image);
        QCOMPARE(PlayWave(wav, false, false, false, false), 4);
        QCOMPARE(PlayWave(wav, true, false, true, false), 4);
        QVERIFY(!soundDevice().isPlaying());
    }
    QCOMPARE(PlayWave(dir_.path(), false, false, true, false), 3);
    QCOMPARE(PlayWave(dir_.path(), false, false, false, false), 4);
    QCOMPARE(streamsOnSink(), 0);

    // A data chunk that claims more than the file holds still plays what is there.
    hm::test::WaveLayout longer;
    longer.declaredData = 0x7fffffff;
    const QString cut = put(QStringLiteral("cut.wav"), hm::test::waveImage(longer, QByteArray(8820, 0)));
    QElapsedTimer t;
    t.start();
    QCOMPARE(PlayWave(cut, true, false, true, false), 0);
    QVERIFY(t.elapsed() >= 150);
    QVERIFY(t.elapsed() < 3000);
}

void TestPlayWave::aStalledServerDoesNotHoldASynchronousPlay()
{
    QFile pidFile(qEnvironmentVariable("PULSE_RUNTIME_PATH") + QStringLiteral("/daemon.pid"));
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const pid_t daemon = pid_t(pidFile.readAll().trimmed().toInt());
    QVERIFY(daemon > 0);
    const QString wav = put(QStringLiteral("long.wav"), hm::test::tone(30000));
    // The server freezes shortly after the play began and wakes only when the test is over.
    std::thread freezer([daemon] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(daemon, SIGSTOP);
    });
    const auto wake = qScopeGuard([&] {
        freezer.join();
        ::kill(daemon, SIGCONT);
    });
    QElapsedTimer t;
    t.start();
    PlayWave(wav, true, false, false, false);
    QVERIFY2(t.elapsed() < 15000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!soundDevice().isPlaying());
}

QTEST_GUILESS_MAIN(TestPlayWave)
#include "test_play_wave.moc"
