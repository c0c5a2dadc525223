#pragma once
#include "sound/wave_data.h"

namespace hm::sound {

// Where the program's sound goes. One sound at a time; the real one plays through the
// system's audio output, tests may put another in front of it.
class SoundDevice {
public:
    virtual ~SoundDevice() = default;
    // Starts the sound in the background; false when the output refuses it. A wave without
    // samples starts nothing and succeeds.
    virtual bool start(const WaveData& wave, bool loop) = 0;
    // Returns once the sound started last has ended by itself or been stopped.
    virtual void waitUntilFinished() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
};

} // namespace hm::sound
