#include "settings/sign_in_form.h"

#include "common/form_geometry.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "common/window_keys.h"
#include "settings/account_settings.h"
#include "settings/sign_in.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using hm::twips;

namespace {

struct Preset {
    const char* name;
    const char* pop3;
    const char* smtp; // a plain name and port: STARTTLS, which a token login demands
    const char* authorization;
    const char* token;
    const char* scope;
};

// The POP and SMTP scopes plus offline access (a refresh token); Google gives one for
// access_type=offline, which its authorization address carries.
const Preset kPresets[] = {
    {"Microsoft 365 / Outlook.com", "pop3s://outlook.office365.com:995", "smtp.office365.com:587",
     "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
     "https://login.microsoftonline.com/common/oauth2/v2.0/token",
     "https://outlook.office.com/POP.AccessAsUser.All https://outlook.office.com/SMTP.Send offline_access"},
    {"Gmail", "pop3s://pop.gmail.com:995", "smtp.gmail.com:587",
     "https://accounts.google.com/o/oauth2/v2/auth?access_type=offline&prompt=consent",
     "https://oauth2.googleapis.com/token", "https://mail.google.com/"},
};
const QString kOther = QStringLiteral("その他");

const QString kTitle = QStringLiteral("サインイン設定");

} // namespace

SignInForm::SignInForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("SignInForm"));
    setWindowTitle(kTitle);
    setFixedSize(twips(7200), twips(6600));

    PasswordOption = hm::control<QRadioButton>(this, "PasswordOption", 240, 240, 2340, 300);
    PasswordOption->setText(QStringLiteral("パスワード"));
    BrowserOption = hm::control<QRadioButton>(this, "BrowserOption", 2640, 240, 4320, 300);
    BrowserOption->setText(QStringLiteral("ブラウザでサインイン（OAuth 2.0）"));

    const auto row = [this](const char* labelName, const QString& caption, const char* boxName, int top) {
        auto* box = hm::control<QLineEdit>(this, boxName, 2640, top - 45, 4320, 360);
        hm::label(this, labelName, caption, 240, top, 2340, 255)->setBuddy(box);
        return box;
    };
    ProviderCombo = hm::control<QComboBox>(this, "ProviderCombo", 2640, 675, 4320, 360);
    hm::label(this, "ProviderLabel", QStringLiteral("サービス(&V)"), 240, 720, 2340, 255)->setBuddy(ProviderCombo);
    for (const Preset& p : kPresets)
        ProviderCombo->addItem(QString::fromUtf8(p.name));
    ProviderCombo->addItem(kOther);
    Pop3Text = row("Pop3Label", QStringLiteral("POP3サーバー名(&P)"), "Pop3Text", 1200);
    SmtpText = row("SmtpLabel", QStringLiteral("SMTPサーバー名(&S)"), "SmtpText", 1680);
    AuthorizationText = row("AuthorizationLabel", QStringLiteral("認可エンドポイント"), "AuthorizationText", 2160);
    TokenText = row("TokenLabel", QStringLiteral("トークンエンドポイント"), "TokenText", 2640);
    ScopeText = row("ScopeLabel", QStringLiteral("スコープ"), "ScopeText", 3120);
    ClientIdText = row("ClientIdLabel", QStringLiteral("クライアント ID(&I)"), "ClientIdText", 3600);
    ClientSecretText = row("ClientSecretLabel", QStringLiteral("クライアント シークレット"), "ClientSecretText", 4080);
    for (QLineEdit* box : {Pop3Text, SmtpText})
        box->setMaxLength(hm::settings::kServerValueChars);

    ClientIdNote = hm::control<QLabel>(this, "ClientIdNote", 240, 4560, 6720, 1200);
    ClientIdNote->setWordWrap(true);
    ClientIdNote->setText(QStringLiteral(
        "クライアント ID は疾風メールには入っていません。Microsoft 365 では組織の管理者が Microsoft Entra "
        "管理センターでアプリを登録して発行します。Gmail では Google Cloud コンソールで「デスクトップ アプリ」の "
        "OAuth クライアントを作ると、クライアント ID とシークレットが発行されます（README を参照）。"));

    SignInCommand = hm::button(this, "SignInCommand", QStringLiteral("サインイン(&L)"), 240, 5940, 1800, 420);
    OkCommand = hm::button(this, "OkCommand", QStringLiteral("OK"), 4290, 5940, 1215, 420);
    CancelCommand = hm::button(this, "CancelCommand", QStringLiteral("キャンセル"), 5745, 5940, 1215, 420);
    hm::bindDialogKeys(this, OkCommand, CancelCommand);

    connect(PasswordOption, &QRadioButton::toggled, this, &SignInForm::showMode);
    connect(ProviderCombo, &QComboBox::activated, this, &SignInForm::ProviderCombo_Activated);
    connect(SignInCommand, &QPushButton::clicked, this, &SignInForm::SignInCommand_Click);
    connect(OkCommand, &QPushButton::clicked, this, &SignInForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &SignInForm::CancelCommand_Click);
}

void SignInForm::Form_Load()
{
    QString problem;
    const hm::settings::SignInSettings s = hm::settings::LoadSignInSettings(&problem);
    const auto& account = hm::settings::account();
    (s.browserSignIn ? BrowserOption : PasswordOption)->setChecked(true);
    const int provider = ProviderCombo->findText(s.provider);
    ProviderCombo->setCurrentIndex(provider >= 0 ? provider : ProviderCombo->count() - 1);
    Pop3Text->setText(account.Pop3Server);
    SmtpText->setText(account.SmtpServer);
    AuthorizationText->setText(s.authorizationUrl);
    TokenText->setText(s.tokenUrl);
    ScopeText->setText(s.scope);
    ClientIdText->setText(s.clientId);
    ClientSecretText->setText(s.clientSecret);
    showMode();
    if (!problem.isEmpty())
        hm::ui::message(this, problem, kTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
}

void SignInForm::showMode()
{
    const bool browser = BrowserOption->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{ProviderCombo, AuthorizationText, TokenText, ScopeText,
                                                      ClientIdText, ClientSecretText, SignInCommand})
        w->setEnabled(browser);
}

void SignInForm::ProviderCombo_Activated(int index)
{
    if (index < 0 || index >= int(std::size(kPresets)))
        return;
    const Preset& p = kPresets[index];
    Pop3Text->setText(QString::fromUtf8(p.pop3));
    SmtpText->setText(QString::fromUtf8(p.smtp));
    AuthorizationText->setText(QString::fromUtf8(p.authorization));
    TokenText->setText(QString::fromUtf8(p.token));
    ScopeText->setText(QString::fromUtf8(p.scope));
    // The beginning of a long address says more than its end.
    for (QLineEdit* box : {Pop3Text, SmtpText, AuthorizationText, TokenText, ScopeText})
        box->setCursorPosition(0);
}

bool SignInForm::save()
{
    hm::settings::SignInSettings s;
    s.browserSignIn = BrowserOption->isChecked();
    s.provider = ProviderCombo->currentText();
    s.authorizationUrl = AuthorizationText->text().trimmed();
    s.tokenUrl = TokenText->text().trimmed();
    s.scope = ScopeText->text().trimmed();
    s.clientId = ClientIdText->text().trimmed();
    s.clientSecret = ClientSecretText->text().trimmed();
    auto& account = hm::settings::account();
    account.Pop3Server = Pop3Text->text();
    account.SmtpServer = SmtpText->text();
    QString problem;
    if (!hm::settings::SaveSignInSettings(s, &problem) || !hm::settings::SaveServerSettings(account)) {
        hm::ui::message(this,
                        problem.isEmpty() ? QStringLiteral("設定を保存できませんでした。データフォルダを確認してください。")
                                          : problem,
                        kTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
        return false;
    }
    // Another provider's token is of no use here.
    hm::settings::ForgetAccessToken();
    return true;
}

void SignInForm::SignInCommand_Click()
{
    if (!save())
        return;
    setEnabled(false);
    const bool signedIn = hm::settings::SignInWithBrowser(this);
    setEnabled(true);
    if (signedIn)
        hm::ui::message(this, QStringLiteral("サインインしました。"), kTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Information);
}

void SignInForm::OkCommand_Click()
{
    if (save())
        close();
}

void SignInForm::CancelCommand_Click()
{
    close();
}
