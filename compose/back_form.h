#pragma once
#include "compose/attachment_commands.h"
#include "compose/draft.h"

#include <QWidget>
#include <memory>

class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTextEdit;

// "返事を書く": the answer to a message from the history window. Its draft goes through the
// same send call and error report as the compose window's, but keeps no sent record.
class BackForm : public QWidget {
    Q_OBJECT
public:
    explicit BackForm(QWidget* parent = nullptr);

    void Form_Load();
    void Form_Resize();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void AttachCommand_Click();
    void Command9_Click();
    void Command10_Click();

    // Fills recipient, subject ("Re:" and two spaces before it) and body from the answered
    // message; attachments stay. The body is also what "本文に貼付" puts under the pasted text.
    void Fill(const QString& subject, const QString& sender, const QString& body);
    // The body "本文に貼付" answers; Fill sets it, a caller may set it apart.
    void SetAnsweredBody(const QString& body) { answeredBody_ = body; }
    const QString& AnsweredBody() const { return answeredBody_; }
    // The reply as "送信" would send it now.
    hm::compose::Draft CurrentDraft() const;
    // Whether the recipient, subject or body differ from what Fill put there.
    bool HoldsUnsentText() const;

    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QLineEdit* ToText;
    QLineEdit* SubjectText;
    QLineEdit* AttachText;
    QPushButton* AttachCommand;
    QPushButton* Command9;
    QPushButton* Command10;
    QListWidget* List2;
    QTextEdit* BodyText;
    QStatusBar* StatusBar1;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<hm::compose::AttachmentCommands> attachments_;
    QString answeredBody_;
    hm::compose::Draft filled_;
};

namespace hm::compose {
// The history window's "返事を書く": builds or reuses the reply window, fills and shows it.
BackForm* OpenReply(const QString& subject, const QString& sender, const QString& body);
} // namespace hm::compose
