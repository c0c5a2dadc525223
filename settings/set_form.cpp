#include "settings/set_form.h"

#include "common/twips.h"
#include "common/window_registry.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"

#include <QPushButton>

using hm::twips;

SetForm::SetForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("SetForm"));
    setWindowTitle(QStringLiteral("設定"));
    setFixedSize(twips(3480), twips(1080));

    Command1 = new QPushButton(QStringLiteral("ID/PASS"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(240), twips(240), twips(1395), twips(555));
    Command2 = new QPushButton(QStringLiteral("POPサーバー"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(twips(1845), twips(240), twips(1395), twips(555));

    connect(Command1, &QPushButton::clicked, this, &SetForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &SetForm::Command2_Click);
}

void SetForm::Command1_Click()
{
    hm::window<IdPassForm>()->show();
}

void SetForm::Command2_Click()
{
    hm::window<OptionForm>()->show();
}
