// One mail check as the receive command runs it, in the program folder given and against the
// POP3 server given, and by the clock given (ISO 8601) if any; the kill test stops it at random
// moments. Prints the status line.
#include "app/check_mail.h"
#include "app/main_form.h"
#include "common/private_files.h"
#include "common/program_folder.h"
#include "common/ui_services.h"
#include "settings/account_settings.h"
#include "sound/module1.h"
#include "tests/support/counting_sound_device.h"
#include "tests/support/main_form_controls.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

#include <cstdio>

using hm::test::statusLine;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    hm::setProgramFolder(QString::fromLocal8Bit(argv[1]));
    hm::keepMailPrivate();
    hm::ui::ScriptedServices ui;
    hm::ui::setServices(&ui);
    hm::test::CountingSoundDevice sound;
    hm::sound::setSoundDevice(&sound);
    hm::settings::account().Pop3Server = QString::fromLocal8Bit(argv[2]);
    if (argc > 3)
        SetMailCheckClock([now = QDateTime::fromString(QString::fromLatin1(argv[3]), Qt::ISODate)] { return now; });
    MainForm main;
    main.endProcess = [] {};
    CheckMail(main);
    std::printf("%s\n", statusLine(main)->text().toUtf8().constData());
    for (const auto& box : ui.shown)
        std::fprintf(stderr, "%s\n", box.text.toUtf8().constData());
    return 0;
}
