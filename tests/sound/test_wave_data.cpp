#include "sound/wave_data.h"
#include "tests/sound/wave_files.h"

#include <QTest>

using hm::sound::parseWave;
using hm::test::WaveLayout;
using hm::test::waveImage;

class TestWaveData : public QObject {
    Q_OBJECT
private slots:
    void acceptsTheFormatsTheOutputTakes_data();
    void acceptsTheFormatsTheOutputTakes();
    void widens24BitSamples();
    void skipsOtherChunksAndTheirPadding();
    void keepsWholeFramesOfAShortDataChunk();
    void refusesWhatItCannotPlaySafely_data();
    void refusesWhatItCannotPlaySafely();
};

void TestWaveData::acceptsTheFormatsTheOutputTakes_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("format");
    QTest::newRow("8-bit") << 1 << 1 << 8 << int(QAudioFormat::UInt8);
    QTest::newRow("16-bit stereo") << 1 << 2 << 16 << int(QAudioFormat::Int16);
    QTest::newRow("32-bit") << 1 << 2 << 32 << int(QAudioFormat::Int32);
    QTest::newRow("float") << 3 << 1 << 32 << int(QAudioFormat::Float);
}

void TestWaveData::acceptsTheFormatsTheOutputTakes()
{
    QFETCH(int, tag);
    QFETCH(int, channels);
    QFETCH(int, bits);
    QFETCH(int, format);
    WaveLayout layout;
    layout.tag = quint16(tag);
    layout.channels = quint16(channels);
    layout.bits = quint16(bits);
    layout.rate = 8000;
    const QByteArray data(channels * bits / 8 * 10, '\x11');
    const auto wave = parseWave(waveImage(layout, data));
    QVERIFY(wave);
    QCOMPARE(int(wave->format.sampleFormat()), format);
    QCOMPARE(wave->format.channelCount(), channels);
    QCOMPARE(wave->format.sampleRate(), 8000);
    QCOMPARE(wave->pcm, data);
}

void TestWaveData::widens24BitSamples()
{
    WaveLayout layout;
    layout.bits = 24;
    const auto wave = parseWave(waveImage(layout, QByteArray("\x01\x02\x03\xfd\xfe\xff", 6)));
    QVERIFY(wave);
    QCOMPARE(wave->format.sampleFormat(), QAudioFormat::Int32);
    QCOMPARE(wave->pcm, QByteArray("\x00\x01\x02\x03\x00\xfd\xfe\xff", 8));

    // The extensible header names the same PCM through its sub-format.
    WaveLayout ext;
    ext.tag = 0xFFFE;
    ext.extraFmt = 24;
    QByteArray image = waveImage(ext, QByteArray(4, '\x22'));
    image[20 + 24] = 1; // sub-format GUID begins with the PCM tag
    QVERIFY(parseWave(image));
}

void TestWaveData::skipsOtherChunksAndTheirPadding()
{
    // An odd-sized chunk is followed by a pad byte before the next one.
    QByteArray list("LIST");
    hm::test::putU32(list, 3);
    list.append("abc");
    list.append('\0');
    const QByteArray data(8, '\x33');
    const auto wave = parseWave(waveImage(WaveLayout{}, data, list));
    QVERIFY(wave);
    QCOMPARE(wave->pcm, data);
}

void TestWaveData::keepsWholeFramesOfAShortDataChunk()
{
    WaveLayout layout;
    layout.channels = 2;
    layout.declaredData = 1000000;
    const auto wave = parseWave(waveImage(layout, QByteArray(10, '\x44')));
    QVERIFY(wave);
    QCOMPARE(wave->pcm.size(), 8); // two whole stereo frames of the ten bytes present
}

void TestWaveData::refusesWhatItCannotPlaySafely_data()
{
    QTest::addColumn<QByteArray>("image");
    const QByteArray good = waveImage(WaveLayout{}, QByteArray(8, '\x55'));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not RIFF") << QByteArray("RIFX") + good.mid(4);
    QTest::newRow("not WAVE") << good.left(8) + "AVI " + good.mid(12);
    QTest::newRow("header only") << good.left(12);
    QTest::newRow("format cut short") << good.left(30);
    QTest::newRow("no data chunk") << good.left(36);
    WaveLayout adpcm;
    adpcm.tag = 2;
    adpcm.bits = 4;
    QTest::newRow("compressed") << waveImage(adpcm, QByteArray(8, 0));
    WaveLayout twelve;
    twelve.bits = 12;
    QTest::newRow("12-bit") << waveImage(twelve, QByteArray(8, 0));
    WaveLayout align;
    align.blockAlign = 3;
    QTest::newRow("frame size lies") << waveImage(align, QByteArray(9, 0));
    WaveLayout silent;
    silent.channels = 0;
    QTest::newRow("no channels") << waveImage(silent, QByteArray(8, 0));
    WaveLayout rate;
    rate.rate = 0;
    QTest::newRow("no rate") << waveImage(rate, QByteArray(8, 0));
    WaveLayout ext;
    ext.tag = 0xFFFE;
    QTest::newRow("extensible without its fields") << waveImage(ext, QByteArray(8, 0));
    QByteArray huge = good;
    qToLittleEndian<quint32>(0xFFFFFFF0u, huge.data() + 16); // fmt size past the end
    QTest::newRow("format size past the end") << huge;
}

void TestWaveData::refusesWhatItCannotPlaySafely()
{
    QFETCH(QByteArray, image);
    QVERIFY(!parseWave(image));
}

QTEST_GUILESS_MAIN(TestWaveData)
#include "test_wave_data.moc"
