#include "settings/option_form.h"

#include "common/form_geometry.h"
#include "common/twips.h"
#include "common/server_address.h"
#include "common/ui_services.h"
#include "common/window_keys.h"
#include "settings/account_settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <tuple>

using hm::twips;

OptionForm::OptionForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("OptionForm"));
    setWindowTitle(QStringLiteral("サーバー設定"));
    setFixedSize(twips(5280), twips(3240));

    // Each box sits 45 twips above its caption.
    const auto row = [this](const char* labelName, const QString& caption, const char* boxName, int top) {
        auto* label = hm::label(this, labelName, caption, 240, top, 2040, 255);
        auto* box = hm::control<QLineEdit>(this, boxName, 2280, top - 45, 2760, 360);
        label->setBuddy(box);
        box->setMaxLength(hm::settings::kServerValueChars); // what the server file keeps
        return std::pair{label, box};
    };
    std::tie(Label1, SmtpText) = row("Label1", QStringLiteral("SMTPサーバー名(&S)"), "SmtpText", 300);
    std::tie(Label2, Pop3Text) = row("Label2", QStringLiteral("POP3サーバー名(&P)"), "Pop3Text", 780);
    std::tie(Label3, MailText) = row("Label3", QStringLiteral("メールアドレス(&M)"), "MailText", 1260);

    ApopCheck = hm::control<QCheckBox>(this, "ApopCheck", 2280, 1740, 2760, 300);
    ApopCheck->setText(QStringLiteral("APOP を使用する(&A)"));

    OkCommand = hm::button(this, "OkCommand", QStringLiteral("設定"), 2280, 2400, 1215, 420);
    CancelCommand = hm::button(this, "CancelCommand", QStringLiteral("中止"), 3825, 2400, 1215, 420);
    hm::bindDialogKeys(this, OkCommand, CancelCommand);

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
    // A server that cannot be reached is said now, not at the next mail check; an empty one
    // is simply not set yet.
    const std::pair<QLineEdit*, hm::Protocol> servers[] = {{SmtpText, hm::Protocol::Smtp}, {Pop3Text, hm::Protocol::Pop3}};
    for (const auto& [box, protocol] : servers) {
        hm::ServerAddress address;
        if (!box->text().trimmed().isEmpty() && !hm::parseServer(box->text(), protocol, address)) {
            hm::ui::message(this, hm::serverProblem(box->text(), protocol), QStringLiteral("サーバー設定"),
                            hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
            box->setFocus();
            box->selectAll();
            return;
        }
    }
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
