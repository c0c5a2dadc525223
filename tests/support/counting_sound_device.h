#pragma once
#include "sound/sound_device.h"

namespace hm::test {

// Counts the sounds started; the sound room's own tests play through a real output.
// refuses: every start fails, as on a machine without a sound device.
class CountingSoundDevice : public hm::sound::SoundDevice {
public:
    int started = 0;
    bool refuses = false;
    bool start(const hm::sound::WaveData&, bool) override
    {
        ++started;
        return !refuses;
    }
    void waitUntilFinished() override {}
    void stop() override {}
    bool isPlaying() const override { return false; }
};

} // namespace hm::test
