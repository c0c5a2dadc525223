#include "sound/module1.h"

#include "common/program_module.h"
#include "sound/audio_output_device.h"
#include "sound/wave_data.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace hm::sound {
namespace {
QByteArray g_buffer;
SoundDevice* g_installed = nullptr;
SoundDevice* g_output = nullptr;
QString g_modulePath;
QString g_outputProblem;

// Stands in while the output's module cannot be loaded: every play fails.
class NoOutput : public SoundDevice {
public:
    bool start(const WaveData&, bool) override { return false; }
    void waitUntilFinished() override {}
    void stop() override {}
    bool isPlaying() const override { return false; }
};

// The system's audio output from its module; null, with the reason kept, when it cannot be loaded.
SoundDevice* loadOutput()
{
    const QString path = g_modulePath.isEmpty() ? programModulePath(QStringLiteral("hayatemail-sound.so")) : g_modulePath;
    QString reason;
    if (auto entry = reinterpret_cast<OutputModuleEntry>(moduleEntry(path, kOutputModuleEntry, &reason))) {
        if (SoundDevice* output = entry(kOutputModuleVersion)) {
            g_outputProblem.clear();
            return output;
        }
        reason = moduleVersionMismatch();
    }
    g_outputProblem = QStringLiteral("音声出力のモジュールを読み込めないため、再生できません。\n"
                                     "プログラムを入れ直してください。\n\n%1\n%2")
                          .arg(path, reason);
    return nullptr;
}

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
    case PlayWaveApiError:
        if (!g_installed && !g_outputProblem.isEmpty())
            return g_outputProblem;
        return QStringLiteral("API がエラーを返しました");
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
        // A failed load is tried again at the next play, so a module put back in place serves.
        g_output = loadOutput();
        if (!g_output) {
            static NoOutput none;
            return none;
        }
        // The output's thread must end before the application goes.
        qAddPostRoutine(dropOutput);
    }
    return *g_output;
}

void setSoundDevice(SoundDevice* device)
{
    g_installed = device;
}

void setSoundModulePath(const QString& path)
{
    g_modulePath = path;
}

} // namespace hm::sound
