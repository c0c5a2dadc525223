#pragma once
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The receive window: whether a check leaves the mail it stores on the server, and after how
// many days it deletes it there. Opened from the settings chooser.
class KeepMailForm : public QWidget {
    Q_OBJECT
public:
    explicit KeepMailForm(QWidget* parent = nullptr);

    QCheckBox* KeepCheck;
    QLabel* Label1;
    QLineEdit* DaysText;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

    void Form_Load();
    void OkCommand_Click();
    void CancelCommand_Click();
};
