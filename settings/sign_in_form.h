#pragma once
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// How the account logs in: with the password, or by signing in through the browser (OAuth
// 2.0), with presets for the providers that need it.
class SignInForm : public QWidget {
    Q_OBJECT
public:
    explicit SignInForm(QWidget* parent = nullptr);

    QRadioButton* PasswordOption;
    QRadioButton* BrowserOption;
    QComboBox* ProviderCombo;
    QLineEdit* Pop3Text;
    QLineEdit* SmtpText;
    QLineEdit* AuthorizationText;
    QLineEdit* TokenText;
    QLineEdit* ScopeText;
    QLineEdit* ClientIdText;
    QLineEdit* ClientSecretText;
    QLabel* ClientIdNote;
    QPushButton* SignInCommand;
    QPushButton* OkCommand;
    QPushButton* CancelCommand;

    void Form_Load();
    // A preset fills the servers, endpoints and scopes; "その他" leaves them to the user.
    void ProviderCombo_Activated(int index);
    void SignInCommand_Click();
    void OkCommand_Click();
    void CancelCommand_Click();

private:
    bool save();
    void showMode();
};
