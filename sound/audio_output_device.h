#pragma once
#include "sound/sound_device.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

namespace hm::sound {

class OutputPlayer;

// Plays through Qt's default audio output (PulseAudio here) on a thread of its own, so a
// synchronous play can hold the user-interface thread still, as the system call did, while
// the output keeps being fed.
class AudioOutputDevice : public SoundDevice {
public:
    AudioOutputDevice();
    ~AudioOutputDevice() override;

    bool start(const WaveData& wave, bool loop) override;
    void waitUntilFinished() override;
    void stop() override;
    bool isPlaying() const override;

private:
    friend class OutputPlayer;
    void setPlaying(bool playing);

    QThread thread_;
    OutputPlayer* player_ = nullptr;
    mutable QMutex mutex_;
    QWaitCondition finished_;
    bool playing_ = false;
};

// The output is a module of its own (hayatemail-sound.so), so that the launch does not load
// Qt Multimedia and the sound server's libraries; its one export builds the output.
inline constexpr char kOutputModuleEntry[] = "hm_sound_output";
inline constexpr int kOutputModuleVersion = 1;
using OutputModuleEntry = SoundDevice* (*)(int version);

} // namespace hm::sound
