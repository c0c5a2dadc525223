#include "settings/option_form.h"

#include "common/twips.h"
#include "common/ui_services.h"
#include "settings/account_settings.h"

#include <QCheckBox>
#include <QScreen>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using hm::twips;

OptionForm::OptionForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("OptionForm"));
    setWindowTitle(QStringLiteral("サーバー設定"));
    setFixedSize(twips(5280), twips(3240));

    const auto row = [this](QLabel*& label, QLineEdit*& edit, const QString& caption,
                            const QString& name, int top) {
        label = new QLabel(caption, this);
        label->setGeometry(twips(240), top, twips(2040), twips(255));
        edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setGeometry(twips(2280), top - twips(45), twips(2760), twips(360));
        label->setBuddy(edit);
    };
    row(Label1, SmtpText, QStringLiteral("SMTPサーバー名(&S)"), QStringLiteral("SmtpText"), twips(300));
    row(Label2, Pop3Text, QStringLiteral("POP3サーバー名(&P)"), QStringLiteral("Pop3Text"), twips(780));
    row(Label3, MailText, QStringLiteral("メールアドレス(&M)"), QStringLiteral("MailText"), twips(1260));

    ApopCheck = new QCheckBox(QStringLiteral("APOP を使用する(&A)"), this);
    ApopCheck->setObjectName(QStringLiteral("ApopCheck"));
    ApopCheck->setGeometry(twips(2280), twips(1740), twips(2760), twips(300));

    OkCommand = new QPushButton(QStringLiteral("設定"), this);
    OkCommand->setObjectName(QStringLiteral("OkCommand"));
    OkCommand->setGeometry(twips(2280), twips(2400), twips(1215), twips(420));
    OkCommand->setDefault(true);
    CancelCommand = new QPushButton(QStringLiteral("中止"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    CancelCommand->setGeometry(twips(3825), twips(2400), twips(1215), twips(420));

    connect(OkCommand, &QPushButton::clicked, this, &OptionForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &OptionForm::CancelCommand_Click);
}

void OptionForm::Form_Load()
{
    const auto& account = hm::settings::account();
    SmtpText->setText(account.SmtpServer);
    Pop3Text->setText(account.Pop3Server);
    MailText->setText(account.MailAddress);
    // A hand-edited value other than 0 still logs in with APOP, so show it ticked.
    ApopCheck->setChecked(account.ApopFlag != 0);
    // Centred, so that it does not hide the main window in the top left corner.
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    raise();
}

void OptionForm::OkCommand_Click()
{
    auto& account = hm::settings::account();
    account.SmtpServer = SmtpText->text();
    account.Pop3Server = Pop3Text->text();
    account.MailAddress = MailText->text();
    account.ApopFlag = ApopCheck->isChecked() ? 1 : 0;
    if (!hm::settings::SaveServerSettings(account)) {
        hm::ui::message(this, QStringLiteral("サーバー設定を保存できませんでした。\n"
                                             "プログラムのフォルダに書き込めるか確認してください。"),
                        QStringLiteral("サーバー設定"), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
    }
    close();
}

void OptionForm::CancelCommand_Click()
{
    close();
}
