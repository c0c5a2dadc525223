#include "settings/set_form.h"

#include "common/form_geometry.h"
#include "common/twips.h"
#include "common/window_keys.h"
#include "common/window_registry.h"
#include "settings/id_pass_form.h"
#include "settings/keep_mail_form.h"
#include "settings/option_form.h"
#include "settings/sign_in_form.h"

#include <QPushButton>

using hm::twips;

SetForm::SetForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QStringLiteral("設定"));
    // Wider by a third button, the receive window's, beside the first two; taller by the
    // sign-in button below them.
    setFixedSize(twips(5085), twips(1755));

    Command1 = hm::button(this, "Command1", QStringLiteral("ID/PASS"), 240, 240, 1395, 555);
    Command2 = hm::button(this, "Command2", QStringLiteral("POPサーバー"), 1845, 240, 1395, 555);
    Command3 = hm::button(this, "Command3", QStringLiteral("受信設定"), 3450, 240, 1395, 555);

    SignInCommand = hm::button(this, "SignInCommand", QStringLiteral("サインイン方法"), 240, 960, 4605, 555);

    hm::bindDialogKeys(this, nullptr, nullptr);

    connect(Command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &SetForm::Command3_Click);
    connect(SignInCommand, &QPushButton::clicked, this, &SetForm::SignInCommand_Click);
}

void SetForm::Command1_Click()
{
    hm::window<IdPassForm>()->show();
}

void SetForm::Command2_Click()
{
    hm::window<OptionForm>()->show();
}

void SetForm::Command3_Click()
{
    hm::window<KeepMailForm>()->show();
}

void SetForm::SignInCommand_Click()
{
    hm::window<SignInForm>()->show();
}
