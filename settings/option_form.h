#pragma once
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The server window: SMTP and POP3 servers, own address and the APOP switch. Kept above
// every other window.
class OptionForm : public QWidget {
    Q_OBJECT
public:
    explicit OptionForm(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* SmtpText;
    QLineEdit* Pop3Text;
    QLineEdit* MailText;
    QCheckBox* ApopCheck;
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

    void Form_Load();
    void OkCommand_Click();
    void CancelCommand_Click();
};
