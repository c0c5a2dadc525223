#include "sound/module1.h"

#include "sound/audio_output_device.h"
#include "sound/wave_data.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace hm::sound {
namespace {
QByteArray g_buffer;
SoundDevice* g_installed = nullptr;
AudioOutputDevice* g_output = nullptr;

void dropOutput()
{
    delete g_output;
    g_output = nullptr;
}

// What the system call did: one sound at a time, no default sound in place of a missing or
// unplayable one.
bool playSound(const QByteArray& image, bool synchronous, bool loop)
{
    SoundDevice& device = soundDevice();
    if (device.isPlaying())
        return false;
    const std::optional<WaveData> wave = parseWave(image);
    if (!wave || !device.start(*wave, loop))
        return false;
    if (synchronous)
        device.waitUntilFinished();
    return true;
}

bool readWhole(QFile& file, QByteArray* bytes)
{
    if (QFileInfo(file.fileName()).isDir() || !file.open(QIODevice::ReadOnly))
        return false;
    *bytes = file.readAll();
    return file.error() == QFileDevice::NoError;
}
} // namespace

int PlayWave(const QString& name, bool synchronous, bool loop, bool fromMemory, bool stopFirst)
{
    if (stopFirst)
        StopWave();
    if (synchronous && loop)
        return PlayWaveBadFlags;

    QFile file(name);
    QByteArray image;
    if (fromMemory) {
        if (name.isEmpty() || QFileInfo(name).isDir() || !file.open(QIODevice::ReadOnly))
            return PlayWaveNoFile;
        if (file.size() > kMemoryWaveLimit)
            return PlayWaveTooLarge;
        QByteArray bytes = file.read(kMemoryWaveLimit + 1);
        if (bytes.isEmpty() || file.error() != QFileDevice::NoError
            || bytes.size() > kMemoryWaveLimit)
            return PlayWaveNoFile;
        // Replaced only by a whole file, so a sound still playing from it keeps good data.
        g_buffer = bytes;
        image = g_buffer;
    } else if (name.isEmpty() || !readWhole(file, &image)) {
        return PlayWaveApiError;
    }
    return playSound(image, synchronous, loop) ? PlayWaveOk : PlayWaveApiError;
}

QString PlayWaveMessage(int code)
{
    switch (code) {
    case PlayWaveTooLarge:
        return QStringLiteral("ファイルサイズが大きすぎて展開に\r\n"
                              "時間がかかる可能性があるため中止しました");
    case PlayWaveBadFlags: return QStringLiteral("フラグの指定が正しくありません");
    case PlayWaveNoFile: return QStringLiteral("指定されたファイルは存在しません");
    case PlayWaveApiError: return QStringLiteral("API がエラーを返しました");
    default: return QStringLiteral("未定義の致命的なエラーです");
    }
}

void StopWave()
{
    if (g_installed)
        g_installed->stop();
    else if (g_output)
        g_output->stop();
}

const QByteArray& soundBuffer()
{
    return g_buffer;
}

SoundDevice& soundDevice()
{
    if (g_installed)
        return *g_installed;
    if (!g_output) {
        g_output = new AudioOutputDevice;
        // The output's thread must end before the application goes.
        qAddPostRoutine(dropOutput);
    }
    return *g_output;
}

void setSoundDevice(SoundDevice* device)
{
    g_installed = device;
}

} // namespace hm::sound
