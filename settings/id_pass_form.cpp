#include "settings/id_pass_form.h"

#include "common/twips.h"
#include "common/ui_services.h"
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
    setFixedSize(twips(4320), twips(2520));

    Label1 = new QLabel(QStringLiteral("ID"), this);
    Label1->setGeometry(twips(240), twips(300), twips(900), twips(255));
    IdText = new QLineEdit(this);
    IdText->setObjectName(QStringLiteral("IdText"));
    IdText->setGeometry(twips(1320), twips(240), twips(2760), twips(360));
    Label1->setBuddy(IdText);

    Label2 = new QLabel(QStringLiteral("Password"), this);
    Label2->setGeometry(twips(240), twips(780), twips(1000), twips(255));
    PassText = new QLineEdit(this);
    PassText->setObjectName(QStringLiteral("PassText"));
    PassText->setGeometry(twips(1320), twips(720), twips(2760), twips(360));
    PassText->setEchoMode(QLineEdit::Password);
    PassText->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    Label2->setBuddy(PassText);

    Check1 = new QCheckBox(QStringLiteral("IDパスワードを保存する"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(twips(1320), twips(1230), twips(2760), twips(300));

    OKCommand = new QPushButton(QStringLiteral("OK"), this);
    OKCommand->setObjectName(QStringLiteral("OKCommand"));
    OKCommand->setGeometry(twips(1320), twips(1800), twips(1215), twips(420));
    OKCommand->setDefault(true);
    CancelCommand = new QPushButton(QStringLiteral("Cansel"), this);
    CancelCommand->setObjectName(QStringLiteral("CancelCommand"));
    CancelCommand->setGeometry(twips(2865), twips(1800), twips(1215), twips(420));

    connect(OKCommand, &QPushButton::clicked, this, &IdPassForm::OKCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &IdPassForm::CancelCommand_Click);
}

void IdPassForm::Form_Load()
{
    // The boxes show what the file holds, not what is in memory.
    QString problem;
    IdText->setText(hm::settings::ReadAccountValue(QStringLiteral("NAME"), &problem));
    PassText->setText(hm::settings::ReadAccountValue(QStringLiteral("NAME2")));
    Check1->setChecked(false);
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
        const bool saved = hm::settings::WriteAccountValue(QStringLiteral("NAME"), IdText->text(), &problem) &&
                           hm::settings::WriteAccountValue(QStringLiteral("NAME2"), PassText->text(), &problem) &&
                           hm::settings::WriteAccountValue(QStringLiteral("NAME3"), QStringLiteral("1"), &problem);
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
