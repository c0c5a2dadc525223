#pragma once
#include <QWidget>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

// The address book window "アドレス帳". The history window registers a sender with
//   hm::window<FriendForm>()->Text4->setText(address); then show()
// (or FriendForm::openWithAddress), leaving the user to fill in the name and press "登録".
class FriendForm : public QWidget {
    Q_OBJECT
public:
    explicit FriendForm(QWidget* parent = nullptr);

    // Opens (or raises) the single window with address in the address box.
    static FriendForm* openWithAddress(const QString& address);

    QLineEdit* Text4;      // mail address
    QPushButton* Command1; // paste
    QLineEdit* Text2;      // name
    QLineEdit* Text50;     // name-card name
    QPushButton* Command38; // name card
    QPushButton* Command3; // register
    QPushButton* Command4; // delete
    QLineEdit* Text3;      // number of entries listed
    QLabel* Label4;
    QTreeWidget* MailListView;
    QPlainTextEdit* Text5; // help box
    QFrame* StatusStrip;
    QLabel* Label7;        // status
    QPushButton* Command2; // reload

    void Form_Load();
    void Form_MouseMove();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command38_Click();
    void Command1_MouseMove();
    void Command3_MouseMove();
    void Command4_MouseMove();
    void Command38_MouseMove();
    void MailListView_MouseDown();

    static QString command38HelpText();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The record number kept in the selected row; 0 when none is selected.
    qint16 selectedRecordNumber() const;
    bool showEntry(qint16 number);
    void showHelp(const QString& text);
    void reportFailure(const QString& text);
};
