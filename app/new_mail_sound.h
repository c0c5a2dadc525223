#pragma once
#include <QPointer>
#include <QString>

class QCheckBox;
class QLabel;

namespace hm::sound {

// The main window's "Play" and "Stop" commands over the new-mail sound, with the three
// option boxes that say how "Play" plays it. The widgets belong to the main window.
class NewMailSound {
public:
    // Captions and start state: options unticked, "Play" enabled, "Stop" disabled.
    NewMailSound(QLabel* play, QLabel* stop, QCheckBox* chkSynchro, QCheckBox* chkOnMem,
                 QCheckBox* chkLoop);

    // "Play": restarts the new-mail sound with the ticked options; the mail check calls it
    // too, whether or not "Play" is enabled.
    void Label13_Click();
    // The mail check's "Play": a failure is not shown in a box. Its text comes back the first
    // time it happens, for the caller to mention; empty otherwise, until a play succeeds again.
    QString PlayForNewMail();
    // "Stop".
    void Label14_Click();
    // Shutdown: stops the sound and leaves the commands as they are.
    void Stop();

private:
    static bool ticked(const QPointer<QCheckBox>& box);
    // Restarts the sound and switches the commands as "Play" does; the PlayWave result.
    int play();

    QPointer<QLabel> play_;
    QPointer<QLabel> stop_;
    QPointer<QCheckBox> chkSynchro_;
    QPointer<QCheckBox> chkOnMem_;
    QPointer<QCheckBox> chkLoop_;
    QString problemSaid_;
};

} // namespace hm::sound
