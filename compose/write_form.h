#pragma once
#include "compose/attachment_commands.h"
#include "compose/send_procedure.h"

#include <QList>
#include <memory>
#include <QListWidget>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// The address list reports a press after the row under the mouse has become the selection.
class PressListWidget : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;
signals:
    void pressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// "新規作成・送信": recipient, subject, greeting, attachments, fortune switch and body of a
// new message, with the address book beside it. "送信" hands the draft to the send procedure,
// which answers through the window's own SendFeedback and touches no control.
class WriteForm : public QWidget, private hm::compose::SendFeedback {
    Q_OBJECT
public:
    explicit WriteForm(QWidget* parent = nullptr);

    void Form_Load();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void AttachCommand_Click();
    void Combo1_LostFocus();
    void List1_MouseDown();
    void Option1_Click();
    void Option2_Click();
    void Label7_DblClick();

    // The address-book record number of each row of List1, with one spare element at the end.
    const QList<qint16>& RecordNumbers() const { return recordNumbers_; }
    // Whether a recipient, subject or body the user wrote is still unsent.
    bool HoldsUnsentText() const;
    // The message as "送信" would send it now.
    hm::compose::Draft CurrentDraft() const;
    // The help text each button shows in Text14 (empty for a button without one).
    static QString HelpText(const QString& controlName);

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QPushButton* Command7;
    QPushButton* Command8;
    QPushButton* Command9;
    QPushButton* Command10;
    QPushButton* Command11;
    QPushButton* AttachCommand;
    QLineEdit* ToText;
    QLineEdit* SubjectText;
    QComboBox* Combo1;
    QLineEdit* AttachText;
    QListWidget* List2;
    QCheckBox* Check1;
    QLabel* Check1Label;
    QLabel* Check1Note;
    QPlainTextEdit* BodyText;
    QPlainTextEdit* Text14;
    QLabel* Label7;
    QFrame* SidePanel;
    QLineEdit* Text1;
    PressListWidget* List1;
    QFrame* Frame4;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QLineEdit* Text4;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QWidget* BoxParent() override { return this; }
    void SendStarted() override;
    void ShowStatus(const QString& text) override;
    void ShowProgress(int pass, int passes, int missed) override;
    void AskForRecipient() override;
    void KeepDraft(const QList<int>& passesLeft) override;
    void AllSent() override;

    // Background of List1: white normally, green while bulk sending is chosen.
    void SetList1Colour(const QColor& colour);
    void resetRecordNumbers();
    // Appends the names of a file of address records to List1 and counts the rows in Text1.
    void fillList(const QString& relativePath);
    // Below the attachment list while it shows, at their own places otherwise.
    void placeFortuneAndBody();
    void showHelp(QWidget* control);
    void hideHelp();

    QList<qint16> recordNumbers_;
    bool greetingFocused_ = false; // between entering and leaving Combo1
    bool greetingChosen_ = false;  // a greeting was picked or changed meanwhile
    std::unique_ptr<hm::compose::AttachmentCommands> attachments_;
    // The passes (rows, from 1) a bulk send did not get out; the next send goes only to them.
    // Empty: every row. Anything that changes the list or leaves bulk sending forgets them.
    QList<int> bulkPassesLeft_;
    // The attachment buttons as the user left them, given back when the draft stays, so that
    // adding or dropping attachments goes on from there.
    struct {
        bool add = false, listShown = false, first = true;
    } attachmentButtons_;
};
