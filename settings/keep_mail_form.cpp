#include "settings/keep_mail_form.h"

#include "common/form_geometry.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "common/window_keys.h"
#include "settings/account_settings.h"

#include <QCheckBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using hm::twips;

KeepMailForm::KeepMailForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("KeepMailForm"));
    setWindowTitle(QStringLiteral("受信設定"));
    setFixedSize(twips(5280), twips(2700));

    KeepCheck = hm::control<QCheckBox>(this, "KeepCheck", 240, 300, 3000, 300);
    KeepCheck->setText(QStringLiteral("サーバーにメールを残す"));

    // "受信後 [N] 日で削除", the box between its two captions.
    DaysText = hm::control<QLineEdit>(this, "DaysText", 1560, 795, 720, 360);
    DaysText->setValidator(new QIntValidator(0, 9999, DaysText));
    DaysText->setMaxLength(4);
    DaysText->setAccessibleName(QStringLiteral("受信後に削除するまでの日数"));
    Label1 = hm::label(this, "Label1", QStringLiteral("受信後"), 600, 840, 900, 255, DaysText);
    Label2 = hm::label(this, "Label2", QStringLiteral("日で削除"), 2400, 840, 1200, 255);
    Label3 = hm::label(this, "Label3", QStringLiteral("（0 または空欄: 削除しない）"), 600, 1260, 4440, 255);

    OkCommand = hm::button(this, "OkCommand", QStringLiteral("設定"), 2280, 1800, 1215, 420);
    CancelCommand = hm::button(this, "CancelCommand", QStringLiteral("中止"), 3825, 1800, 1215, 420);
    hm::bindDialogKeys(this, OkCommand, CancelCommand);

    // The days mean something only while mail is kept.
    const auto daysFollow = [this](bool on) {
        for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(DaysText), static_cast<QWidget*>(Label2),
                           static_cast<QWidget*>(Label3)})
            w->setEnabled(on);
    };
    daysFollow(false);
    connect(KeepCheck, &QCheckBox::toggled, this, daysFollow);
    connect(OkCommand, &QPushButton::clicked, this, &KeepMailForm::OkCommand_Click);
    connect(CancelCommand, &QPushButton::clicked, this, &KeepMailForm::CancelCommand_Click);
}

void KeepMailForm::Form_Load()
{
    QString problem;
    const hm::settings::KeepOnServer k = hm::settings::ReadKeepOnServer(nullptr, &problem);
    KeepCheck->setChecked(k.keep);
    DaysText->setText(k.deleteAfterDays > 0 ? QString::number(k.deleteAfterDays) : QString());
    if (!problem.isEmpty())
        hm::ui::message(this, problem, QStringLiteral("受信設定"), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
}

void KeepMailForm::OkCommand_Click()
{
    const hm::settings::KeepOnServer k{KeepCheck->isChecked(), DaysText->text().toInt()};
    QString problem;
    if (!hm::settings::WriteKeepOnServer(k, &problem)) {
        hm::ui::message(this,
                        QStringLiteral("受信設定を保存できませんでした。\n")
                            + (problem.isEmpty() ? QStringLiteral("プログラムのフォルダに書き込めるか確認してください。") : problem),
                        QStringLiteral("受信設定"), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
        return;
    }
    close();
}

void KeepMailForm::CancelCommand_Click()
{
    close();
}
