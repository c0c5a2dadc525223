#include "sound/audio_output_device.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QTimer>

#include <climits>
#include <cstring>
#include <limits>

namespace hm::sound {
namespace {

// Hands the samples to the output, from the start again when looping.
class PcmSource : public QIODevice {
public:
    PcmSource(const QByteArray& pcm, bool loop, QObject* parent)
        : QIODevice(parent), pcm_(pcm), loop_(loop)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return loop_ ? std::numeric_limits<int>::max() : pcm_.size() - pos_;
    }
    bool atEnd() const override { return !loop_ && pos_ >= pcm_.size(); }
    qint64 handedOver() const { return handedOver_; }

protected:
    qint64 readData(char* data, qint64 max) override
    {
        qint64 done = 0;
        while (done < max) {
            if (pos_ >= pcm_.size()) {
                if (!loop_)
                    break;
                pos_ = 0;
            }
            const qint64 n = qMin<qint64>(max - done, pcm_.size() - pos_);
            std::memcpy(data + done, pcm_.constData() + pos_, size_t(n));
            pos_ += n;
            done += n;
        }
        handedOver_ += done;
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray pcm_;
    bool loop_;
    qint64 pos_ = 0;
    qint64 handedOver_ = 0;
};

// An output that takes nothing for this long has stalled; the sound is ended, so a
// synchronous play can never hold the program for good.
constexpr int kStallMs = 5000;
constexpr qint64 kBufferUs = 500000;
} // namespace

// Lives on the device's thread; everything here runs there.
class OutputPlayer : public QObject {
public:
    explicit OutputPlayer(AudioOutputDevice* owner) : owner_(owner)
    {
        finish_.setSingleShot(true);
        QObject::connect(&finish_, &QTimer::timeout, this, [this] { end(); });
        QObject::connect(&watchdog_, &QTimer::timeout, this, [this] { checkProgress(); });
    }
    ~OutputPlayer() override { end(); }

    bool begin(const WaveData& wave, bool loop)
    {
        end();
        const QAudioDevice out = QMediaDevices::defaultAudioOutput();
        if (out.isNull() || !out.isFormatSupported(wave.format))
            return false;
        sink_ = new QAudioSink(out, wave.format, this);
        source_ = new PcmSource(wave.pcm, loop, this);
        loop_ = loop;
        durationMs_ = wave.durationMs();
        bytesPerSecond_ = wave.format.bytesForDuration(1000000);
        QObject::connect(sink_, &QAudioSink::stateChanged, this,
                         [this](QAudio::State s) { stateChanged(s); });
        // A deep buffer rides out a busy machine without gaps in the sound.
        sink_->setBufferSize(qsizetype(wave.format.bytesForDuration(kBufferUs)));
        clock_.start();
        sink_->start(source_);
        if (sink_->error() != QAudio::NoError || sink_->state() == QAudio::StoppedState) {
            end();
            return false;
        }
        owner_->setPlaying(true);
        lastHandedOver_ = 0;
        progress_.start();
        watchdog_.start(500);
        return true;
    }

    void end()
    {
        finish_.stop();
        watchdog_.stop();
        // Later, not now: this may run inside the sink's own signal.
        if (sink_) {
            sink_->disconnect(this);
            sink_->stop();
            sink_->deleteLater();
            sink_ = nullptr;
        }
        if (source_) {
            source_->deleteLater();
            source_ = nullptr;
        }
        owner_->setPlaying(false);
    }

private:
    void checkProgress()
    {
        if (!source_)
            return;
        if (source_->handedOver() != lastHandedOver_) {
            lastHandedOver_ = source_->handedOver();
            progress_.restart();
        } else if (progress_.elapsed() > kStallMs && !finish_.isActive()) {
            end();
        }
    }

    void stateChanged(QAudio::State state)
    {
        if (!sink_)
            return;
        if (state == QAudio::StoppedState && sink_->error() != QAudio::NoError) {
            end();
        } else if (state == QAudio::IdleState && !loop_) {
            // Everything is handed over; what the output still holds plays out first.
            const qint64 queued = qMax<qint64>(0, sink_->bufferSize() - sink_->bytesFree());
            const qint64 queuedMs = bytesPerSecond_ > 0 ? queued * 1000 / bytesPerSecond_ : 0;
            const qint64 left = qMax(queuedMs, durationMs_ - clock_.elapsed());
            finish_.start(int(qBound<qint64>(0, left + 20, qint64(INT_MAX))));
        }
    }

    AudioOutputDevice* owner_;
    QAudioSink* sink_ = nullptr;
    PcmSource* source_ = nullptr;
    QTimer finish_{this};
    QTimer watchdog_{this};
    QElapsedTimer clock_;
    QElapsedTimer progress_;
    qint64 lastHandedOver_ = 0;
    bool loop_ = false;
    qint64 durationMs_ = 0;
    qint64 bytesPerSecond_ = 0;
};

AudioOutputDevice::AudioOutputDevice()
{
    // The media back end is set up here, on the user-interface thread, not on first use by
    // the player's thread.
    QMediaDevices::audioOutputs();
    thread_.setObjectName(QStringLiteral("sound"));
    player_ = new OutputPlayer(this);
    player_->moveToThread(&thread_);
    thread_.start();
}

AudioOutputDevice::~AudioOutputDevice()
{
    stop();
    player_->deleteLater();
    thread_.quit();
    thread_.wait();
}

bool AudioOutputDevice::start(const WaveData& wave, bool loop)
{
    if (wave.pcm.isEmpty())
        return true;
    bool ok = false;
    QMetaObject::invokeMethod(
        player_, [&] { ok = player_->begin(wave, loop); }, Qt::BlockingQueuedConnection);
    return ok;
}

void AudioOutputDevice::waitUntilFinished()
{
    QMutexLocker lock(&mutex_);
    while (playing_)
        finished_.wait(&mutex_);
}

void AudioOutputDevice::stop()
{
    if (!isPlaying())
        return;
    QMetaObject::invokeMethod(player_, [this] { player_->end(); }, Qt::BlockingQueuedConnection);
}

bool AudioOutputDevice::isPlaying() const
{
    QMutexLocker lock(&mutex_);
    return playing_;
}

void AudioOutputDevice::setPlaying(bool playing)
{
    QMutexLocker lock(&mutex_);
    playing_ = playing;
    if (!playing)
        finished_.wakeAll();
}

} // namespace hm::sound

// Null when the caller was built for another version of the output.
extern "C" __attribute__((visibility("default"))) hm::sound::SoundDevice* hm_sound_output(int version)
{
    return version == hm::sound::kOutputModuleVersion ? new hm::sound::AudioOutputDevice : nullptr;
}
