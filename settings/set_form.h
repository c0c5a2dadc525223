#pragma once
#include <QWidget>

class QPushButton;

// The settings chooser: opens the account window, the server window, the receive window or
// the sign-in window.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(QWidget* parent = nullptr);

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    // Below the three, where the window grew: how the account logs in (password or browser).
    QPushButton* SignInCommand;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void SignInCommand_Click();
};
