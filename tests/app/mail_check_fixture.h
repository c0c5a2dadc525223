#pragma once
// What every mail-check test against the fixture's Dovecot starts from: a fresh program
// folder whose server file names it, a loaded main window, the account saved, sounds counted.
#include "app/main_form.h"
#include "settings/account_settings.h"
#include "store/mail_store.h"
#include "sound/module1.h"
#include "tests/servers/mail_server_env.h"
#include "tests/support/counting_sound_device.h"
#include "tests/support/store_records.h"
#include "tests/support/test_folder.h"

#include <QTest>

#include <memory>

namespace hm::test {

struct MailCheckFixture {
    MailServerEnv env;
    std::unique_ptr<TestFolder> folder;
    std::unique_ptr<MainForm> main;
    CountingSoundDevice sound;

    void saveAccount(const QString& id, const QString& password)
    {
        QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME"), id));
        QVERIFY(hm::settings::WriteAccountValue(QStringLiteral("NAME2"), password));
    }
    // For initTestCase.
    void loadServers()
    {
        env = MailServerEnv::load();
        QVERIFY2(env.valid, "the mail_servers fixture is not running");
        hm::sound::setSoundDevice(&sound);
    }
    // For init.
    void startProgram()
    {
        env.clearMailbox();
        sound.started = 0;
        folder = std::make_unique<TestFolder>();
        hm::settings::account() = {};
        folder->write(QStringLiteral("\\hymail.ini"), "POP3=" + env.pop3Server().toUtf8() + "\r\n");
        main = std::make_unique<MainForm>();
        main->endProcess = [] {};
        QVERIFY(main->Form_Load());
        saveAccount(env.user, env.password);
    }
    // For cleanup.
    void closeProgram()
    {
        main.reset();
        folder.reset();
    }
};

} // namespace hm::test
