#include "addressbook/friend_form.h"
#include "app/command_label.h"
#include "app/main_form.h"
#include "common/window_registry.h"
#include "compose/back_form.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "history/tyaku_form.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "tests/support/test_folder.h"
#include "tests/support/main_form_controls.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <functional>

using hm::test::helpLine;
using hm::test::receiveCommand;

// What a screen reader sees, read through Qt's accessibility interface.
class TestAccessibility : public QObject {
    Q_OBJECT
private slots:
    void init() { hm::settings::account() = {}; }
    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void mainCommandsArePressableButtons();
    void everyTextBoxHasAName_data();
    void everyTextBoxHasAName();
};

namespace {
void walk(QAccessibleInterface* node, const std::function<void(QAccessibleInterface*)>& visit)
{
    visit(node);
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i))
            walk(child, visit);
    }
}

QAccessibleInterface* findButton(QWidget* window, const QString& name)
{
    QAccessibleInterface* found = nullptr;
    walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* node) {
        if (!found && node->role() == QAccessible::Button && node->text(QAccessible::Name) == name)
            found = node;
    });
    return found;
}
} // namespace

void TestAccessibility::mainCommandsArePressableButtons()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=\r\n");
    MainForm form;
    form.endProcess = [] {};
    QVERIFY(form.Form_Load());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    for (const QString& name : {QStringLiteral("新規作成"), QStringLiteral("受信"), QStringLiteral("着信履歴"),
                                QStringLiteral("送信履歴"), QStringLiteral("アドレス帳"), QStringLiteral("設定"),
                                QStringLiteral("HomePage"), QStringLiteral("Small"), QStringLiteral("Play"),
                                QStringLiteral("Stop")})
        QVERIFY2(findButton(&form, name), qPrintable(name));

    QAccessibleInterface* receive = findButton(&form, QStringLiteral("受信"));
    QAccessibleActionInterface* actions = receive->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    QVERIFY(!receive->state().disabled);
    QVERIFY(helpLine(form)->text().isEmpty());
    actions->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(helpLine(form)->text(), QStringLiteral("メールを受信します。"));

    // "Stop" is disabled until a sound plays, and announced so.
    QVERIFY(findButton(&form, QStringLiteral("Stop"))->state().disabled);

    // The keyboard reaches a command with Tab, which shows its help as a hover does, and
    // presses it with Space.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Label9->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), receiveCommand(form));
    QCOMPARE(helpLine(form)->text(), QStringLiteral("新着メールの受信を行います。"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(helpLine(form)->text(), QStringLiteral("メールの新規作成・送信を行います。"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(hm::loadedWindow<WriteForm>() && hm::loadedWindow<WriteForm>()->isVisible());
}

void TestAccessibility::everyTextBoxHasAName_data()
{
    QTest::addColumn<std::function<QWidget*()>>("open");
    QTest::newRow("MainForm") << std::function<QWidget*()>([] {
        auto* form = new MainForm;
        form->endProcess = [] {};
        form->setAttribute(Qt::WA_DeleteOnClose);
        return static_cast<QWidget*>(form);
    });
    QTest::newRow("WriteForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<WriteForm>()); });
    QTest::newRow("BackForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<BackForm>()); });
    QTest::newRow("TyakuForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<TyakuForm>()); });
    QTest::newRow("FriendForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<FriendForm>()); });
    QTest::newRow("SetForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<SetForm>()); });
    QTest::newRow("IdPassForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<IdPassForm>()); });
    QTest::newRow("OptionForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<OptionForm>()); });
    QTest::newRow("KaoForm") << std::function<QWidget*()>([] { return static_cast<QWidget*>(hm::window<KaoForm>()); });
}

void TestAccessibility::everyTextBoxHasAName()
{
    QFETCH(std::function<QWidget*()>, open);
    hm::test::TestFolder folder;
    QWidget* window = open();
    QVERIFY(window);
    QStringList unnamed;
    int boxes = 0;
    walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* node) {
        if (node->role() != QAccessible::EditableText && node->role() != QAccessible::ComboBox)
            return;
        // The edit line inside a combo box is announced with the combo box; a box the window
        // keeps hidden is never announced.
        if (node->parent() && node->parent()->role() == QAccessible::ComboBox)
            return;
        if (auto* w = qobject_cast<QWidget*>(node->object()); w && w->isHidden())
            return;
        ++boxes;
        if (node->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << node->object()->objectName() + QLatin1Char(' ') + QLatin1String(node->object()->metaObject()->className());
    });
    QVERIFY(boxes > 0 || qobject_cast<SetForm*>(window));
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
}

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
