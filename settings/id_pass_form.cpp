#include "settings/id_pass_form.h"

#include "common/cp932_limit.h"
#include "common/form_geometry.h"
#include "common/private_profile.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "common/window_keys.h"
#include "settings/account_settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using hm::twips;

IdPassForm::IdPassForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("IdPassForm"));
    setWindowTitle(QStringLiteral("ID,PASS"));
    setFixedSize(twips(4320), twips(2880));

    Label1 = hm::label(this, "Label1", QStringLiteral("ID"), 240, 300, 900, 255);
    IdText = hm::control<QLineEdit>(this, "IdText", 1320, 240, 2760, 360);
    Label1->setBuddy(IdText);

    Label2 = hm::label(this, "Label2", QStringLiteral("Password"), 240, 780, 1000, 255);
    PassText = hm::control<QLineEdit>(this, "PassText", 1320, 720, 2760, 360);
    PassText->setEchoMode(QLineEdit::Password);
    PassText->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    Label2->setBuddy(PassText);

    Check1 = hm::control<QCheckBox>(this, "Check1", 1320, 1230, 2760, 300);
    Check1->setText(QStringLiteral("IDパスワードを保存する"));

    KeyringCheck = hm::control<QCheckBox>(this, "KeyringCheck", 240, 2400, 3840, 300);
    KeyringCheck->setText(QStringLiteral("パスワードをキーリングに保存"));

    OKCommand = hm::button(this, "OKCommand", QStringLiteral("OK"), 1320, 1800, 1215, 420);
    CancelCommand = hm::button(this, "CancelCommand", QStringLiteral("Cansel"), 2865, 1800, 1215, 420);
    hm::bindDialogKeys(this, OKCommand, CancelCommand);
    // No more than the account file gives back.
    hm::limitCp932Bytes(IdText, hm::profile::kMaxValueBytes);
    hm::limitCp932Bytes(PassText, hm::profile::kMaxValueBytes);

    connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &IdPassForm::CancelCommand_Click);
}

void IdPassForm::Form_Load()
{
    // The boxes show what the file holds, not what is in memory.
    QString problem;
    IdText->setText(hm::settings::ReadAccountValue(QStringLiteral("NAME"), &problem));
    PassText->setText(hm::settings::ReadAccountValue(QStringLiteral("NAME2"), problem.isEmpty() ? &problem : nullptr));
    Check1->setChecked(false);
    KeyringCheck->setChecked(hm::settings::PasswordInKeyring());
    if (!problem.isEmpty())
        hm::ui::message(this, problem, QStringLiteral("ID,PASS"), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
}

void IdPassForm::HoldAccount(const QString& id, const QString& password)
{
    IdText->setText(id);
    PassText->setText(password);
}

void IdPassForm::OKCommand_Click()
{
    auto& account = hm::settings::account();
    account.UserId = IdText->text();
    account.UserPassword = PassText->text();
    QString problem;
    if (Check1->isChecked()) {
        QString noKeyring;
        setEnabled(false); // the keyring may take a moment; no second click meanwhile
        const bool saved =
            hm::settings::WriteAccountValue(QStringLiteral("NAME"), IdText->text(), &problem) &&
            hm::settings::SavePassword(PassText->text(), KeyringCheck->isChecked(), &problem, &noKeyring) &&
            hm::settings::WriteAccountValue(QStringLiteral("NAME3"), QStringLiteral("1"), &problem);
        setEnabled(true);
        static bool toldNoKeyring = false;
        if (!noKeyring.isEmpty() && !toldNoKeyring) {
            toldNoKeyring = true;
            hm::ui::message(this,
                            QStringLiteral("デスクトップのキーリング（Secret Service）が見つかりません。\n"
                                           "パスワードはこれまでどおり、本人だけが読めるアカウントファイルに保存します。\n（%1）")
                                .arg(noKeyring),
                            QStringLiteral("ID,PASS"), hm::ui::Buttons::Ok, hm::ui::Icon::Information);
        }
        // The user asked for a save; a silent failure would only show at the next mail check.
        if (!saved && problem.isEmpty())
            problem = QStringLiteral("IDとパスワードを保存できませんでした。\n"
                                     "データフォルダ「★MailData」を確認してください。");
    } else {
        hm::settings::WriteAccountValue(QStringLiteral("NAME3"), QStringLiteral("0"), &problem);
    }
    if (!problem.isEmpty())
        hm::ui::message(this, problem, QStringLiteral("ID,PASS"), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
    close();
}

void IdPassForm::CancelCommand_Click()
{
    close();
}
