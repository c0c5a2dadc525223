#include "common/program_folder.h"
#include "sound/module1.h"
#include "app/new_mail_sound.h"
#include "sound/sound_device.h"
#include "sound/wave_data.h"
#include "tests/sound/pulse_sink.h"
#include "tests/sound/wave_files.h"
#include "tests/support/test_folder.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace hm::sound;
using hm::test::streamsOnSink;
using hm::test::waitForStreams;
using hm::ui::Buttons;
using hm::ui::Icon;

namespace {
constexpr int kClipMs = 400;
const QString kSound = QStringLiteral("\\Sound\\1.wav");

// The main window's share: two command labels and three hidden option boxes.
struct Window {
    QWidget form;
    QLabel* play = new QLabel(QStringLiteral("Play"), &form);
    QLabel* stop = new QLabel(QStringLiteral("Stop"), &form);
    QCheckBox* synchro = new QCheckBox(&form);
    QCheckBox* onMem = new QCheckBox(&form);
    QCheckBox* loop = new QCheckBox(&form);
    NewMailSound sound{play, stop, synchro, onMem, loop};
};
} // namespace

class TestNewMailSound : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startsWithPlayOnlyAndOptionsUnticked();
    void playAndStopTheProgramsOwnSound();
    void everyFailureShowsItsMessageAndStillSwitches_data();
    void everyFailureShowsItsMessageAndStillSwitches();
    void loopedSoundOutlastsTheClipUntilStop();
    void playRestartsASoundStillPlaying();
    void synchronousPlayHoldsTheCallerUntilTheEnd();
    void shutdownStopsTheSound();
    void theProgramsOwnMediaAreUsable();

private:
    std::unique_ptr<hm::test::TestFolder> folder_;
};

void TestNewMailSound::init()
{
    folder_ = std::make_unique<hm::test::TestFolder>();
    hm::sound::setSoundModulePath(hm::test::builtModule(QStringLiteral("hayatemail-sound.so")));
    QVERIFY2(streamsOnSink() >= 0, "the PulseAudio fixture is not reachable");
}

void TestNewMailSound::cleanup()
{
    StopWave();
    QVERIFY(waitForStreams(0));
    folder_.reset();
}

void TestNewMailSound::startsWithPlayOnlyAndOptionsUnticked()
{
    Window w;
    w.synchro->setChecked(true); // whatever the boxes held before
    NewMailSound again(w.play, w.stop, w.synchro, w.onMem, w.loop);
    QVERIFY(w.play->isEnabled());
    QVERIFY(!w.stop->isEnabled());
    QCOMPARE(w.synchro->text(), QStringLiteral("同期再生(&S)"));
    QCOMPARE(w.onMem->text(), QStringLiteral("VB でのオンメモリ再生(&O)"));
    QCOMPARE(w.loop->text(), QStringLiteral("繰り返し再生(&L)"));
    QVERIFY(!w.synchro->isChecked() && !w.onMem->isChecked() && !w.loop->isChecked());
}

void TestNewMailSound::playAndStopTheProgramsOwnSound()
{
    Window w;
    QElapsedTimer t;
    t.start();
    w.sound.Label13_Click();
    QVERIFY(t.elapsed() < 1000); // in the background
    QVERIFY(folder_->ui.shown.isEmpty());
    QVERIFY(!w.play->isEnabled());
    QVERIFY(w.stop->isEnabled());
    QVERIFY(soundDevice().isPlaying());
    QCOMPARE(streamsOnSink(), 1);

    w.sound.Label14_Click();
    QVERIFY(!soundDevice().isPlaying());
    QVERIFY(waitForStreams(0));
    QVERIFY(w.play->isEnabled());
    QVERIFY(!w.stop->isEnabled());
}

void TestNewMailSound::everyFailureShowsItsMessageAndStillSwitches_data()
{
    QTest::addColumn<bool>("synchro");
    QTest::addColumn<bool>("onMem");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<int>("file"); // 0 as built, 1 missing, 2 empty, 3 one byte over the limit
    QTest::addColumn<QString>("text");
    const QString flags = QStringLiteral("フラグの指定が正しくありません");
    const QString missing = QStringLiteral("指定されたファイルは存在しません");
    const QString api = QStringLiteral("API がエラーを返しました");
    const QString large = QStringLiteral("ファイルサイズが大きすぎて展開に\r\n時間がかかる可能性があるため中止しました");
    QTest::newRow("synchronous and loop") << true << false << true << 0 << flags;
    QTest::newRow("all three") << true << true << true << 3 << flags;
    QTest::newRow("memory, missing") << false << true << false << 1 << missing;
    QTest::newRow("memory, empty") << false << true << true << 2 << missing;
    QTest::newRow("memory, over 2 MiB") << false << true << false << 3 << large;
    QTest::newRow("file, missing") << false << false << false << 1 << api;
    QTest::newRow("file, empty") << false << false << true << 2 << api;
}

void TestNewMailSound::everyFailureShowsItsMessageAndStillSwitches()
{
    QFETCH(bool, synchro);
    QFETCH(bool, onMem);
    QFETCH(bool, loop);
    QFETCH(int, file);
    QFETCH(QString, text);
    if (file == 1)
        QVERIFY(QFile::remove(folder_->file(kSound)));
    else if (file == 2)
        folder_->write(kSound, QByteArray());
    else if (file == 3)
        folder_->write(kSound, hm::test::waveOfSize(kMemoryWaveLimit) + QByteArray(1, '\0'));

    Window w;
    w.synchro->setChecked(synchro);
    w.onMem->setChecked(onMem);
    w.loop->setChecked(loop);
    w.sound.Label13_Click();
    QCOMPARE(folder_->ui.shown.size(), 1);
    const auto& box = folder_->ui.shown.first();
    QCOMPARE(box.text, text);
    QCOMPARE(box.title, QStringLiteral("エラー"));
    QCOMPARE(box.icon, Icon::Critical);
    QCOMPARE(box.buttons, Buttons::Ok);
    QVERIFY(!w.play->isEnabled());
    QVERIFY(w.stop->isEnabled());
    QVERIFY(!soundDevice().isPlaying());
    QCOMPARE(streamsOnSink(), 0);
}

void TestNewMailSound::loopedSoundOutlastsTheClipUntilStop()
{
    folder_->write(kSound, hm::test::tone(kClipMs));
    for (bool onMem : {false, true}) {
        Window w;
        w.loop->setChecked(true);
        w.onMem->setChecked(onMem);
        const int third = hm::test::peakBetween([&] { w.sound.Label13_Click(); },
                                                2 * kClipMs + 100, 3 * kClipMs - 50);
        QVERIFY2(third > 1000, qPrintable(QString::number(third)));
        QVERIFY(folder_->ui.shown.isEmpty());
        QVERIFY(soundDevice().isPlaying());
        QCOMPARE(streamsOnSink(), 1);
        w.sound.Label14_Click();
        QVERIFY(!soundDevice().isPlaying());
        QVERIFY(waitForStreams(0));
        QVERIFY(hm::test::peakOnSink(200) < 50);
    }

    // Without the loop the same clip ends by itself, and "Stop" stays enabled.
    Window w;
    const int after = hm::test::peakBetween([&] { w.sound.Label13_Click(); }, kClipMs + 200,
                                            kClipMs + 700);
    QVERIFY2(after >= 0 && after < 50, qPrintable(QString::number(after)));
    QTRY_VERIFY_WITH_TIMEOUT(!soundDevice().isPlaying(), 10000);
    QVERIFY(waitForStreams(0));
    QVERIFY(w.stop->isEnabled());
    QVERIFY(!w.play->isEnabled());
}

void TestNewMailSound::playRestartsASoundStillPlaying()
{
    Window w;
    w.loop->setChecked(true);
    w.sound.Label13_Click();
    // A new-mail sound while the looped one plays: it starts again, with no error.
    w.sound.Label13_Click();
    w.loop->setChecked(false);
    w.sound.Label13_Click();
    QVERIFY(folder_->ui.shown.isEmpty());
    QVERIFY(soundDevice().isPlaying());
    QCOMPARE(streamsOnSink(), 1);
}

void TestNewMailSound::synchronousPlayHoldsTheCallerUntilTheEnd()
{
    folder_->write(kSound, hm::test::tone(kClipMs));
    Window w;
    w.synchro->setChecked(true);
    QElapsedTimer t;
    t.start();
    w.sound.Label13_Click();
    QVERIFY2(t.elapsed() >= kClipMs - 30, qPrintable(QString::number(t.elapsed())));
    QVERIFY(folder_->ui.shown.isEmpty());
    QVERIFY(!soundDevice().isPlaying());
    QVERIFY(!w.play->isEnabled());
    QVERIFY(w.stop->isEnabled());
}

void TestNewMailSound::shutdownStopsTheSound()
{
    Window w;
    w.loop->setChecked(true);
    w.sound.Label13_Click();
    QVERIFY(soundDevice().isPlaying());
    w.sound.Stop();
    QVERIFY(!soundDevice().isPlaying());
    QVERIFY(waitForStreams(0));
}

void TestNewMailSound::theProgramsOwnMediaAreUsable()
{
    const auto wave = parseWave(folder_->read(kSound));
    QVERIFY(wave);
    QCOMPARE(wave->format.sampleFormat(), QAudioFormat::Int16);
    QVERIFY(wave->durationMs() >= 2000 && wave->durationMs() <= 10000);
    QVERIFY(folder_->read(kSound).size() <= kMemoryWaveLimit); // also playable from memory
    // Loud enough to hear, silent at both ends so a loop joins without a click.
    const auto* s = reinterpret_cast<const qint16*>(wave->pcm.constData());
    const qsizetype n = wave->pcm.size() / 2;
    int peak = 0;
    for (qsizetype i = 0; i < n; ++i)
        peak = std::max(peak, std::abs(int(s[i])));
    QVERIFY(peak > 16000);
    QVERIFY(std::abs(int(s[0])) < 300 && std::abs(int(s[n - 1])) < 300);

    const QStringList pictures = {QStringLiteral("\\新着画像\\1.jpg"), QStringLiteral("\\疾風データ\\1.jpg"),
                                  QStringLiteral("\\疾風データ\\2.jpg"), QStringLiteral("\\疾風データ\\3.jpg")};
    QList<QImage> seen;
    for (const QString& p : pictures) {
        QImage img(folder_->file(p));
        QVERIFY2(!img.isNull(), qPrintable(p));
        QCOMPARE(img.size(), QSize(200, 320));
        QVERIFY2(img.pixel(100, 20) != img.pixel(100, 300), qPrintable(p)); // not a flat fill
        for (const QImage& other : seen)
            QVERIFY(other != img);
        seen.append(img);
    }
}

QTEST_MAIN(TestNewMailSound)
#include "test_new_mail_sound.moc"
