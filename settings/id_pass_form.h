#pragma once
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The account window: POP3 user ID and password, optionally saved in the account file.
class IdPassForm : public QWidget {
    Q_OBJECT
public:
    explicit IdPassForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* IdText;
    QLineEdit* PassText;
    QCheckBox* Check1;
    // Below the buttons, where the window grew: the saved password goes to the desktop keyring.
    QCheckBox* KeyringCheck;
    QPushButton* OKCommand;
    QPushButton* CancelCommand;

    void Form_Load();
    // The mail check's saved account, put in the boxes as it read them.
    void HoldAccount(const QString& id, const QString& password);
    void OKCommand_Click();
    void CancelCommand_Click();
};
