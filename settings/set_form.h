#pragma once
#include <QWidget>

class QPushButton;

// The settings chooser: opens the account window, the server window or the receive window.
class SetForm : public QWidget {
    Q_OBJECT
public:
    explicit SetForm(QWidget* parent = nullptr);

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
};
