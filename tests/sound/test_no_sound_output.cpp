#include "sound/module1.h"
#include "sound/sound_device.h"
#include "tests/sound/wave_files.h"
#include "tests/support/test_folder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace hm::sound;

namespace {
QString writeTone(const QTemporaryDir& dir)
{
    const QString wav = dir.filePath(QStringLiteral("a.wav"));
    QFile f(wav);
    if (f.open(QIODevice::WriteOnly))
        f.write(hm::test::tone(300));
    return wav;
}
} // namespace

// No sound server at all: every play fails with the API code at once, nothing hangs.
class TestNoSoundOutput : public QObject {
    Q_OBJECT
private slots:
    void brokenOutputModuleIsNamed_data()
    {
        // Bytes of the built module kept; -2: no file at all.
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("missing") << qint64(-2);
        QTest::newRow("cut to 4 KB") << qint64(4 * 1024);
        QTest::newRow("cut to 64 KB") << qint64(64 * 1024);
    }

    // Nor a whole output module: the play fails the same way and the message names the module.
    void brokenOutputModuleIsNamed()
    {
        QFETCH(qint64, bytes);
        QTemporaryDir dir;
        const QString wav = writeTone(dir);
        const QString file = QStringLiteral("hayatemail-sound.so");
        const QString path = bytes == -2 ? dir.filePath(QStringLiteral("lib/") + file)
                                         : hm::test::cutModule(file, bytes, dir.path());
        setSoundModulePath(path);
        QCOMPARE(PlayWave(wav, false, false, false, true), 4);
        QVERIFY(!soundDevice().isPlaying());
        const QString text = PlayWaveMessage(4);
        QVERIFY2(text.contains(QStringLiteral("音声出力のモジュールを読み込めない")) && text.contains(path),
                 qPrintable(text));
    }

    void playsFailCleanly()
    {
        setSoundModulePath(hm::test::builtModule(QStringLiteral("hayatemail-sound.so")));
        QTemporaryDir dir;
        const QString wav = writeTone(dir);
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
        QCOMPARE(PlayWaveMessage(4), QStringLiteral("API がエラーを返しました"));
    }
};

QTEST_GUILESS_MAIN(TestNoSoundOutput)
#include "test_no_sound_output.moc"
