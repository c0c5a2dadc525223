#include "sound/module1.h"
#include "sound/sound_device.h"
#include "tests/sound/wave_files.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace hm::sound;

// No sound server at all: every play fails with the API code at once, nothing hangs.
class TestNoSoundOutput : public QObject {
    Q_OBJECT
private slots:
    void playsFailCleanly()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("a.wav"));
        QFile f(wav);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(hm::test::tone(300));
        f.close();
        QElapsedTimer t;
        t.start();
        QCOMPARE(PlayWave(wav, false, false, false, true), 4);
        QCOMPARE(PlayWave(wav, true, false, true, true), 4);
        QCOMPARE(PlayWave(wav, false, true, true, false), 4);
        QVERIFY(!soundDevice().isPlaying());
        QVERIFY(t.elapsed() < 10000);
        // Still the other codes come first.
        QCOMPARE(PlayWave(wav, true, true, false, true), 2);
        QCOMPARE(PlayWave(dir.filePath(QStringLiteral("none.wav")), false, false, true, true), 3);
    }
};

QTEST_GUILESS_MAIN(TestNoSoundOutput)
#include "test_no_sound_output.moc"
