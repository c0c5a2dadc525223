#include "app/new_mail_sound.h"

#include "common/program_folder.h"
#include "common/ui_services.h"
#include "sound/module1.h"

#include <QCheckBox>
#include <QLabel>

namespace hm::sound {
namespace {
void setUpOption(QCheckBox* box, const QString& caption, const QString& name)
{
    if (!box)
        return;
    box->setText(caption);
    box->setAccessibleName(name);
    box->setChecked(false);
}

void setEnabled(QLabel* label, bool enabled)
{
    if (label)
        label->setEnabled(enabled);
}
} // namespace

NewMailSound::NewMailSound(QLabel* play, QLabel* stop, QCheckBox* chkSynchro, QCheckBox* chkOnMem,
                           QCheckBox* chkLoop)
    : play_(play), stop_(stop), chkSynchro_(chkSynchro), chkOnMem_(chkOnMem), chkLoop_(chkLoop)
{
    // Named for a screen reader in the words of the captions.
    setUpOption(chkSynchro, QStringLiteral("同期再生(&S)"), QStringLiteral("同期再生"));
    setUpOption(chkOnMem, QStringLiteral("VB でのオンメモリ再生(&O)"), QStringLiteral("オンメモリ再生"));
    setUpOption(chkLoop, QStringLiteral("繰り返し再生(&L)"), QStringLiteral("繰り返し再生"));
    setEnabled(play, true);
    setEnabled(stop, false);
}

bool NewMailSound::ticked(const QPointer<QCheckBox>& box)
{
    return box && box->isChecked();
}

int NewMailSound::play()
{
    StopWave();
    const int result = PlayWave(hm::dataPath(QStringLiteral("\\Sound\\1.wav")),
                                ticked(chkSynchro_), ticked(chkLoop_), ticked(chkOnMem_), false);
    setEnabled(play_, false);
    setEnabled(stop_, true);
    return result;
}

void NewMailSound::Label13_Click()
{
    const int result = play();
    if (result != PlayWaveOk)
        hm::ui::message(play_ ? play_->window() : nullptr, PlayWaveMessage(result),
                        QStringLiteral("エラー"), hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
}

// A machine without a sound device fails every play the same way: the user hears of it once,
// not after every check.
QString NewMailSound::PlayForNewMail()
{
    const int result = play();
    if (result == PlayWaveOk) {
        problemSaid_.clear();
        return QString();
    }
    const QString problem = PlayWaveMessage(result);
    if (problem == problemSaid_)
        return QString();
    problemSaid_ = problem;
    return problem;
}

void NewMailSound::Label14_Click()
{
    StopWave();
    setEnabled(play_, true);
    setEnabled(stop_, false);
}

void NewMailSound::Stop()
{
    StopWave();
}

} // namespace hm::sound
