#pragma once
#include <QAudioFormat>
#include <QByteArray>

#include <optional>

namespace hm::sound {

// The samples of a wave file in a form the audio output takes as it stands.
struct WaveData {
    QAudioFormat format;
    QByteArray pcm;

    qint64 durationMs() const;
};

// Reads a RIFF/WAVE image: PCM of 8, 16, 24 or 32 bits or 32-bit float, plain or in the
// extensible header. Anything else, and any header that points past the data, is refused
// rather than guessed at. 24-bit samples come back widened to 32 bits.
std::optional<WaveData> parseWave(const QByteArray& bytes);

} // namespace hm::sound
