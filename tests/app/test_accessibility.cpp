#include "addressbook/friend_form.h"
#include "app/command_label.h"
#include "app/main_form.h"
#include "common/japanese_font.h"
#include "common/window_registry.h"
#include "compose/back_form.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "history/tyaku_form.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/keep_mail_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "settings/sign_in_form.h"
#include "tests/support/test_folder.h"
#include "tests/support/main_form_controls.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextDocument>

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
    void tabVisitsOnlyWhatTheUserSeesUnderSpokenNames();
    void everyTextBoxHasAName_data();
    void everyTextBoxHasAName();
    void everyCaptionIsWhole_data();
    void everyCaptionIsWhole();
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

// A plain mouse move over w, as the window system would deliver it.
void hover(QWidget* w)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w, &move);
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

namespace {
using Opener = std::function<QWidget*()>;

// Every window, opened as the program opens it: the main one built, the others through the
// window registry.
QList<std::pair<const char*, Opener>> everyWindow()
{
    return {
        {"MainForm", [] {
             auto* form = new MainForm;
             form->endProcess = [] {};
             form->setAttribute(Qt::WA_DeleteOnClose);
             return static_cast<QWidget*>(form);
         }},
        {"WriteForm", [] { return static_cast<QWidget*>(hm::window<WriteForm>()); }},
        {"BackForm", [] { return static_cast<QWidget*>(hm::window<BackForm>()); }},
        {"TyakuForm", [] { return static_cast<QWidget*>(hm::window<TyakuForm>()); }},
        {"FriendForm", [] { return static_cast<QWidget*>(hm::window<FriendForm>()); }},
        {"SetForm", [] { return static_cast<QWidget*>(hm::window<SetForm>()); }},
        {"IdPassForm", [] { return static_cast<QWidget*>(hm::window<IdPassForm>()); }},
        {"OptionForm", [] { return static_cast<QWidget*>(hm::window<OptionForm>()); }},
        {"KeepMailForm", [] { return static_cast<QWidget*>(hm::window<KeepMailForm>()); }},
        {"SignInForm", [] { return static_cast<QWidget*>(hm::window<SignInForm>()); }},
        {"KaoForm", [] { return static_cast<QWidget*>(hm::window<KaoForm>()); }},
    };
}

QString plainText(const QString& text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument doc;
    doc.setHtml(text);
    return doc.toPlainText();
}

// Where the control draws its caption, in window coordinates, and how it aligns it there.
std::pair<QRect, Qt::Alignment> captionArea(QWidget* window, QWidget* control)
{
    QRect area = control->contentsRect();
    Qt::Alignment alignment = Qt::AlignCenter;
    if (auto* label = qobject_cast<QLabel*>(control)) {
        area = area.marginsRemoved(QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
        alignment = label->alignment();
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        option.icon = button->icon();
        option.iconSize = button->iconSize();
        if (qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button)) {
            area = button->style()->subElementRect(qobject_cast<QCheckBox*>(button) ? QStyle::SE_CheckBoxContents
                                                                                     : QStyle::SE_RadioButtonContents,
                                                   &option, button);
            alignment = Qt::AlignLeft | Qt::AlignVCenter;
        } else if (qobject_cast<QPushButton*>(button)) {
            area = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        }
    }
    return {area.translated(control->mapTo(window, QPoint(0, 0))), alignment};
}

// What of the window the control shows: cut by the window and every parent between.
QRect shownPart(QWidget* window, QWidget* control)
{
    QRect shown = window->rect();
    for (QWidget* w = control; w && w != window; w = w->parentWidget())
        shown &= QRect(w->mapTo(window, QPoint(0, 0)), w->size());
    return shown;
}

// The captions of visible labels and buttons that are not whole where they are drawn.
QStringList cutCaptions(QWidget* window)
{
    QStringList cut;
    for (QWidget* control : window->findChildren<QWidget*>()) {
        QString text;
        int flags = Qt::TextShowMnemonic;
        if (auto* label = qobject_cast<QLabel*>(control)) {
            text = plainText(label->text());
            if (label->wordWrap())
                flags |= Qt::TextWordWrap;
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            text = button->text();
        }
        if (text.trimmed().isEmpty() || !control->isVisibleTo(window))
            continue;
        const QRect shown = shownPart(window, control);
        // Controls the design keeps wholly outside the window are not captions anyone reads
        // (the keyboard does not reach them either).
        if (shown.isEmpty())
            continue;
        const auto [area, alignment] = captionArea(window, control);
        const QFontMetrics metrics(control->font());
        QRect needed = metrics.boundingRect(area, int(alignment) | flags, text);
        // Up and down a line counts by its strokes, not its line box: Noto CJK's line box is
        // half as tall again as its glyphs, and its empty part may lie outside a control.
        if (!(flags & Qt::TextWordWrap)) {
            const QRect ink = metrics.tightBoundingRect(text);
            const int baseline = needed.top() + metrics.ascent();
            needed.setTop(baseline + ink.top());
            needed.setBottom(baseline + ink.bottom());
        }
        const QRect room = area & shown;
        if (!room.contains(needed))
            cut << QStringLiteral("%1 \"%2\" drawn at %3,%4 %5x%6, shown %7,%8 %9x%10")
                       .arg(control->objectName(), text)
                       .arg(needed.x()).arg(needed.y()).arg(needed.width()).arg(needed.height())
                       .arg(room.x()).arg(room.y()).arg(room.width()).arg(room.height());
    }
    return cut;
}
} // namespace

// Tab goes round what is on the screen, never to the clock, the hidden button or the sound
// options kept outside the window; everything a screen reader meets is named in Japanese
// words, and the help line tells what it shows.
void TestAccessibility::tabVisitsOnlyWhatTheUserSeesUnderSpokenNames()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    form.endProcess = [] {};
    QVERIFY(form.Form_Load());
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.Label9->setFocus();
    QList<QWidget*> visited;
    for (int i = 0; i < 40 && !visited.contains(QApplication::focusWidget()); ++i) {
        QWidget* w = QApplication::focusWidget();
        visited << w;
        QVERIFY2(w->isVisible() && form.rect().contains(QRect(w->mapTo(&form, QPoint(0, 0)), w->size())),
                 qPrintable(w->objectName()));
        QTest::keyClick(w, Qt::Key_Tab);
    }
    QCOMPARE(QApplication::focusWidget(), form.Label9); // round and back
    for (QWidget* w : {static_cast<QWidget*>(form.Cmd_Effect[4]), static_cast<QWidget*>(form.Label13),
                       static_cast<QWidget*>(hm::test::statusLine(form))})
        QVERIFY2(visited.contains(w), qPrintable(w->objectName()));
    for (QWidget* w : std::initializer_list<QWidget*>{form.Text2, form.Command1, form.ChkSynchro, form.ChkOnMem, form.ChkLoop})
        QVERIFY2(!visited.contains(w), qPrintable(w->objectName()));
    // Their access keys are gone too.
    QTest::keyClick(&form, Qt::Key_L, Qt::AltModifier);
    QVERIFY(!form.ChkLoop->isChecked());

    QStringList unspoken;
    walk(QAccessible::queryAccessibleInterface(&form), [&](QAccessibleInterface* node) {
        auto* w = qobject_cast<QWidget*>(node->object());
        if (!w || w == &form || node->role() == QAccessible::Client)
            return;
        const QString name = node->text(QAccessible::Name);
        if (name.trimmed().isEmpty() && w->isHidden())
            return; // the engine's hidden buffers
        if (name.trimmed().isEmpty() || name == w->objectName())
            unspoken << w->objectName() + QLatin1Char('=') + name;
    });
    QVERIFY2(unspoken.isEmpty(), qPrintable(unspoken.join(QStringLiteral(", "))));
    for (auto [w, name] : {std::pair<QWidget*, const char*>{form.ChkSynchro, "同期再生"}, {form.ChkLoop, "繰り返し再生"},
                           {form.Text2, "時計"}})
        QCOMPARE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name), QString::fromUtf8(name));

    QAccessibleInterface* help = QAccessible::queryAccessibleInterface(hm::test::helpLine(form));
    hover(form.Label10);
    QCOMPARE(help->text(QAccessible::Description), hm::test::helpLine(form)->text());
    QVERIFY(help->text(QAccessible::Description).startsWith(QStringLiteral("アドレス帳への登録")));
    form.Form_MouseMove();
    QVERIFY(help->text(QAccessible::Description).isEmpty());
}

void TestAccessibility::everyTextBoxHasAName_data()
{
    QTest::addColumn<std::function<QWidget*()>>("open");
    for (const auto& [name, open] : everyWindow())
        QTest::newRow(name) << open;
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

void TestAccessibility::everyCaptionIsWhole_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<std::function<QWidget*()>>("open");
    for (const QString& family : {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                  QStringLiteral("Noto Sans CJK JP")}) {
        if (!QFontDatabase::hasFamily(family))
            continue; // only the families installed here
        for (const auto& [name, open] : everyWindow())
            QTest::addRow("%s %s", qPrintable(family), name) << family << open;
    }
}

// Each caption fits its control, whichever Japanese family draws it.
void TestAccessibility::everyCaptionIsWhole()
{
    QFETCH(QString, family);
    QFETCH(std::function<QWidget*()>, open);
    hm::test::TestFolder folder;
    hm::installJapaneseFonts(family);
    const auto restore = qScopeGuard([] { hm::installJapaneseFonts(); });
    QCOMPARE(hm::pGothic().family(), family);
    QWidget* window = open();
    QVERIFY(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QStringList cut = cutCaptions(window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
}

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
