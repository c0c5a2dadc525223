#pragma once
#include <QByteArray>
#include <QString>

namespace hm::sound {

class SoundDevice;

// Results of PlayWave.
enum : int {
    PlayWaveOk = 0,
    PlayWaveTooLarge = 1,   // from memory: the file is over kMemoryWaveLimit
    PlayWaveBadFlags = 2,   // synchronous and loop together
    PlayWaveNoFile = 3,     // from memory: the file cannot be opened or read, or is empty
    PlayWaveApiError = 4,   // the sound could not be played
};

// The largest file played from memory, in bytes.
inline constexpr qint64 kMemoryWaveLimit = 2097152;

// Plays the wave file `name` once or looped, in the background or until it has ended, straight
// from the file or from a copy read into the sound buffer. A sound of this program that is
// still playing is never cut off: the play fails (PlayWaveApiError) unless stopFirst stops it.
// Passing an empty name, no options and stopFirst only stops the sound.
int PlayWave(const QString& name, bool synchronous, bool loop, bool fromMemory, bool stopFirst);

// The text the user is shown for a result other than PlayWaveOk; for PlayWaveApiError while the
// output's module cannot be loaded, that problem.
QString PlayWaveMessage(int code);

// Stops whatever this program is playing.
void StopWave();

// The bytes of the file read for the last play from memory. A failed read leaves them as
// they were.
const QByteArray& soundBuffer();

// The output in use: the system's audio output unless a test installed another.
SoundDevice& soundDevice();
// Installs `device` (not owned); nullptr restores the system's audio output.
void setSoundDevice(SoundDevice* device);
// The module of the system's audio output, loaded at the first play: empty for the one beside
// the program (hm::programModulePath). Tests point it elsewhere.
void setSoundModulePath(const QString& path);

} // namespace hm::sound
