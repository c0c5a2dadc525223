#pragma once
#include "app/check_mail.h"

#include <QColor>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QStringList>
#include <QWidget>

#include <array>
#include <functional>
#include <future>
#include <memory>
#include <utility>

class CommandLabel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace hm::sound {
class NewMailSound;
}

// The main window: a small dark panel of caption commands, the help line, the status line,
// the picture area and the clock. Its load is the program's start-up, its unload the end.
// The mail check reaches it only as a MailCheckDisplay.
class MainForm : public QWidget, public MailCheckDisplay {
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // Start-up; false when another instance runs and this one must end silently.
    bool Form_Load();
    // Before shutdown: false when the user keeps the program running (a compose window holds
    // unsent text and the user says not to drop it).
    bool Form_QueryUnload();
    // Shutdown: saves the emoticon palette's pages, stops the sound, releases the mail library
    // and ends the process at once.
    void Form_Unload();
    void Command1_Click();
    void Timer2_Timer();
    void Form_MouseMove();

    void Label4_Click();
    void Label5_Click();
    void Label6_Click();
    void Label7_Click();
    void Label8_Click();
    void Label9_Click();
    void Label10_Click();
    void Label11_Click();
    void Label13_Click();
    void Label14_Click();
    // The effect buttons; the element number (4, 5 or 6) is the transition kind.
    void Cmd_Effect_Click(int index);

    // How the process ends; tests replace it.
    std::function<void()> endProcess;

    QLabel* Display;
    QLabel* Image3;
    std::array<QLabel*, 2> Master{};
    QLabel* Pic_D;
    QLabel* Pic_DD;
    QLineEdit* Text2;
    CommandLabel* Label4;
    CommandLabel* Label5;
    CommandLabel* Label6;
    CommandLabel* Label7;
    CommandLabel* Label9;
    CommandLabel* Label10;
    CommandLabel* Label11;
    CommandLabel* Label13;
    CommandLabel* Label14;
    QPushButton* Command1;
    QCheckBox* ChkSynchro;
    QCheckBox* ChkOnMem;
    QCheckBox* ChkLoop;
    QTimer* Timer2;
    QMap<int, QPushButton*> Cmd_Effect;

    // The effect engine: picture list (entries 1 to 3), the index of the picture last loaded,
    // which Master element holds the picture on show (during a transition: the new one), and
    // whether the running transition has drawn its last frame.
    QStringList effectPictures;
    int effectCounter = 0;
    int bufferIndex = 0;
    bool effectDone = false;
    QColor effectBackground;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What the mail check shows: the status line, the help line, the receive command, the
    // new-mail picture and sound.
    QWidget* boxParent() override;
    void showHelp(const QString& text) override;
    void showStatus(const QString& text) override;
    void showResult(const QString& text) override;
    bool receiveEnabled() const override;
    void setReceiveEnabled(bool enabled) override;
    void showNewMailPicture() override;
    // A failure comes back as text, once (NewMailSound::PlayForNewMail).
    QString playNewMailSound() override;

    // The help line, told to a screen reader as well (its description) whenever it changes.
    void setHelpLine(const QString& text);
    CommandLabel* addCommand(const QString& name, const QString& caption, const QString& help, int top,
                             int left = 0, int width = 1500);

    // The part of start-up the first frame does not show: the new-mail picture, the effects'
    // second buffer and the hidden compose window. It runs once the window has painted, so
    // that the window shows sooner; whatever needs its results first runs it then.
    void finishStartUp();
    bool startUpLeft_ = false;

    void createEffectButtons();
    // The first effect picture, read and staged on a thread of its own while the window is
    // built: the first frame shows it.
    void startFirstEffectPicture();
    std::future<std::pair<QImage, QImage>> firstEffectPicture_;
    void prepareEffects();
    // Loads a picture through Pic_D and Pic_DD into the Master element.
    void loadEffectBuffer(int element, const QString& picture);
    // The same with the picture read and staged already.
    void showEffectBuffer(int element, const std::pair<QImage, QImage>& picture);
    void RunTransition(int kind);
    QList<CommandLabel*> commands_;
    std::unique_ptr<hm::sound::NewMailSound> sound_;
    bool unloading_ = false;

    // Outside the window only the mail check needs these, through the interface above.
    QLineEdit* Text1; // status line
    QLabel* Label2;   // help line
    CommandLabel* Label8;
};
