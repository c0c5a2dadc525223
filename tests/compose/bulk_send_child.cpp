// One bulk send from the compose window, as "送信" runs it, to every address-book entry of the
// program folder given, through the SMTP server given; the sending test kills it part-way.
#include "common/program_folder.h"
#include "common/ui_services.h"
#include "common/window_registry.h"
#include "compose/write_form.h"
#include "settings/account_settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 4)
        return 2;
    hm::setProgramFolder(QString::fromLocal8Bit(argv[1]));
    hm::ui::ScriptedServices ui;
    hm::ui::setServices(&ui);
    hm::settings::account().SmtpServer = QString::fromLocal8Bit(argv[2]);
    hm::settings::account().MailAddress = QStringLiteral("hayate@example.jp");
    WriteForm* form = hm::window<WriteForm>();
    form->Command4_Click();
    form->Option2_Click();
    form->SubjectText->setText(QString::fromLocal8Bit(argv[3]));
    form->BodyText->setPlainText(QStringLiteral("お知らせです。"));
    form->Command1_Click();
    return ui.shown.isEmpty() ? 0 : 1;
}
