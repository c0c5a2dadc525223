#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/secret_store.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include "common/window_registry.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

using hm::settings::ReadAccountValue;

namespace {
const QString kAccountFile = QStringLiteral("\\★MailData\\iniIdPass.ini");

void saveThroughWindow(const QString& password, bool inKeyring)
{
    auto* w = hm::window<IdPassForm>();
    w->show();
    w->IdText->setText(QStringLiteral("hayate"));
    w->PassText->setText(password);
    w->Check1->setChecked(true);
    w->KeyringCheck->setChecked(inKeyring);
    hm::test::click(w->OKCommand);
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());
}

mode_t fileMode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}
} // namespace

// Run by ctest twice: inside a private session with its own keyring (keyring-session.sh), and
// with a session bus address that leads nowhere.
class TestKeyring : public QObject {
    Q_OBJECT
private slots:
    void passwordGoesToTheKeyringAndBack();
    void withoutKeyringThePasswordStaysInTheOwnerOnlyFile();
};

void TestKeyring::passwordGoesToTheKeyringAndBack()
{
    if (qEnvironmentVariableIsSet("HM_KEYRING_UNAVAILABLE"))
        QSKIP(qPrintable(QStringLiteral("no keyring to test with: ") + qEnvironmentVariable("HM_KEYRING_UNAVAILABLE")));
    if (qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").contains(QLatin1String("no-such-bus")))
        QSKIP("runs inside keyring-session.sh");
    hm::test::TestFolder folder;
    QString why;
    QVERIFY2(hm::settings::accountSecrets(&why).inKeyring(), qPrintable(why));

    const QString password = QStringLiteral("秘密pw-1");
    saveThroughWindow(password, true);
    QVERIFY(folder.ui.shown.isEmpty());
    // The file holds the ID but no trace of the password; the mail check still reads it.
    const QByteArray file = folder.read(kAccountFile);
    QVERIFY(file.contains("NAME=hayate"));
    QVERIFY(!file.contains("pw-1"));
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), password);
    QCOMPARE(hm::settings::keyringSecrets().read(QStringLiteral("password")), password);

    auto* w = hm::window<IdPassForm>();
    QVERIFY(w->KeyringCheck->isChecked());
    QCOMPARE(w->PassText->text(), password);
    w->close();
    QTRY_VERIFY(!hm::loadedWindow<IdPassForm>());

    // Unticked, the password returns to the file and leaves the keyring.
    saveThroughWindow(password, false);
    QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), password);
    QVERIFY(folder.read(kAccountFile).contains("pw-1"));
    QCOMPARE(hm::settings::keyringSecrets().read(QStringLiteral("password")), QString());
    QVERIFY(!hm::window<IdPassForm>()->KeyringCheck->isChecked());
}

void TestKeyring::withoutKeyringThePasswordStaysInTheOwnerOnlyFile()
{
    if (!qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").contains(QLatin1String("no-such-bus")))
        QSKIP("runs only where the session bus leads nowhere");
    hm::test::TestFolder folder;
    QVERIFY(!hm::settings::accountSecrets().inKeyring());
    for (int pass = 0; pass < 2; ++pass) {
        saveThroughWindow(QStringLiteral("pw-%1").arg(pass), true);
        QCOMPARE(ReadAccountValue(QStringLiteral("NAME2")), QStringLiteral("pw-%1").arg(pass));
        QCOMPARE(fileMode(folder.file(kAccountFile)), mode_t(0600));
    }
    // Said once, not at every save.
    QCOMPARE(folder.ui.shown.size(), 1);
    QVERIFY2(folder.ui.shown[0].text.contains(QStringLiteral("キーリング")), qPrintable(folder.ui.shown[0].text));
    QVERIFY(!hm::window<IdPassForm>()->KeyringCheck->isChecked());
}

QTEST_MAIN(TestKeyring)
#include "test_keyring.moc"
