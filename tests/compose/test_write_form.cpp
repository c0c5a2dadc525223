#include "addressbook/address_store.h"
#include "common/window_registry.h"
#include "common/form_geometry.h"
#include "common/twips.h"
#include "compose/back_form.h"
#include "compose/fortune.h"
#include "compose/write_form.h"
#include "emoticons/emoticon_pages.h"
#include "emoticons/kao_form.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTextEdit>

#include <functional>

using hm::ui::Icon;

namespace {
const QString kMaster = hm::addressbook::masterListPath();
const QString kBook = hm::addressbook::addressBookPath();

// A fresh window as "新規作成" builds it, shown and active so focus moves for real.
WriteForm* openForm()
{
    WriteForm* form = hm::window<WriteForm>();
    form->show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form))
        qWarning("compose window did not become active");
    return form;
}

void clickRow(QListWidget* list, int row)
{
    const QRect r = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

QColor listColour(WriteForm* form)
{
    return form->List1->palette().color(QPalette::Base);
}

// A real move through the window, so it reaches the control under the pointer.
void hover(QWidget* w, const QPoint& pos)
{
    QTest::mouseMove(w->window()->windowHandle(), w->mapTo(w->window(), pos));
}

bool nearTwips(int twips, int expected)
{
    return qAbs(twips - expected) < 15;
}

void closeAll()
{
    if (WriteForm* f = hm::loadedWindow<WriteForm>()) {
        f->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}
} // namespace

class TestWriteForm : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        closeAll();
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void loadStartsFromTheMasterList();
    void attachmentsFollowTheirStateMachine();
    void leavingTheGreetingReplacesTheBody();
    void pickingTakesTheFirstSixtyCharactersTrimmed();
    void pickingWithoutASelectionOnlyWarns();
    void pickingARowMissingFromTheBookKeepsTheRecipient();
    void clipboardClearAndBulkSwitch();
    void extraBoxOpensOnlyForTheExactWord();
    void helpBoxFollowsTheMouse();
    void closedWindowIsBuiltAfresh();
    void fortuneDrawIsUniform();
    void fixedSizesTrimmedNamesAndAHelpBoxThatTakesNoFocus();
    void enterPressesAndEscapeClosesAskingForUnsentText();
    void ctrlTabLeavesTheBody();
};

void TestWriteForm::loadStartsFromTheMasterList()
{
    {
        hm::test::TestFolder folder;
        QFile::remove(folder.file(kMaster));
        WriteForm* form = openForm();
        QVERIFY(QFile::exists(folder.file(kMaster)));
        QCOMPARE(form->List1->count(), 0);
        QCOMPARE(form->Text1->text(), QStringLiteral("0"));
        QCOMPARE(form->RecordNumbers(), QList<qint16>{0});
        QCOMPARE(form->Combo1->count(), 8);
        QCOMPARE(form->Combo1->itemText(3), QStringLiteral("いつもお世話になっております。"));
        QCOMPARE(form->Combo1->itemText(7), QStringLiteral("こんにちわ。お変わりなく、お元気ですか？"));
        QVERIFY(form->Command2->isHidden());
        QVERIFY(!form->Command2->isEnabled());
        QVERIFY(form->List2->isHidden());
        QVERIFY(!form->Check1->isChecked());
        QVERIFY(!form->Option2->isChecked());
        QVERIFY(form->Label7->text().isEmpty());
        QVERIFY(nearTwips(hm::outerWidthTwips(form), 7100));
        QVERIFY(nearTwips(hm::outerHeightTwips(form), 8200));
        // The side panel and the extra box lie outside the window at its normal size.
        QVERIFY(form->SidePanel->geometry().left() >= form->width());
        QVERIFY(form->Text4->geometry().top() >= form->height());
        closeAll();
    }
    {
        // The master list is a file of address records apart from the address book.
        hm::test::TestFolder folder;
        QFile::remove(folder.file(kMaster));
        QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("山田"), QStringLiteral("yamada@example.jp")));
        QFile::copy(folder.file(kBook), folder.file(kMaster));
        QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("佐藤"), QStringLiteral("sato@example.jp")));
        WriteForm* form = openForm();
        QCOMPARE(form->List1->count(), 1);
        QCOMPARE(form->List1->item(0)->text().trimmed(), QStringLiteral("山田"));
        QCOMPARE(form->Text1->text(), QStringLiteral("1"));

        hm::test::click(form->Command4);
        QVERIFY(nearTwips(hm::outerWidthTwips(form), 9700));
        QVERIFY(form->SidePanel->geometry().right() < form->width());
        const QRect screen = form->screen()->geometry();
        QVERIFY(qAbs(form->x() - (screen.width() - form->width()) / 2) <= 5);
        QVERIFY(qAbs(form->y() - (screen.height() - form->height()) / 2) <= 20);
        QCOMPARE(form->List1->count(), 2);
        QCOMPARE(form->List1->item(1)->text().trimmed(), QStringLiteral("佐藤"));
        QCOMPARE(form->Text1->text(), QStringLiteral("2"));
        QCOMPARE(form->RecordNumbers(), (QList<qint16>{1, 2, 0}));

        hm::test::click(form->Command6);
        QVERIFY(nearTwips(hm::outerWidthTwips(form), 7100));
        QCOMPARE(form->List1->count(), 2); // restoring keeps the list
    }
}

void TestWriteForm::attachmentsFollowTheirStateMachine()
{
    hm::test::TestFolder folder;
    WriteForm* form = openForm();
    QVERIFY(form->AttachCommand->isEnabled());
    QVERIFY(!form->Command9->isEnabled());
    QVERIFY(form->Command10->isEnabled());

    // A dialog closed without a name still disables "添付File".
    hm::test::click(form->AttachCommand);
    QCOMPARE(folder.ui.fileDialogs.size(), 1);
    QVERIFY(!form->AttachCommand->isEnabled());
    QVERIFY(form->Command9->isEnabled());
    QVERIFY(form->AttachText->text().isEmpty());

    // "追加" with no first path only shows the list.
    hm::test::click(form->Command9);
    QCOMPARE(folder.ui.fileDialogs.size(), 1);
    QVERIFY(form->List2->isVisible());
    QCOMPARE(form->List2->count(), 0);

    hm::test::click(form->Command10);
    QVERIFY(form->AttachCommand->isEnabled());
    QVERIFY(!form->Command9->isEnabled());
    QVERIFY(!form->Command10->isEnabled());
    QVERIFY(form->List2->isHidden());

    folder.ui.fileNames << QStringLiteral("/tmp/一.txt") << QStringLiteral("/tmp/two.pdf")
                        << QString() << QStringLiteral("/tmp/three.png");
    hm::test::click(form->AttachCommand);
    QCOMPARE(form->AttachText->text(), QStringLiteral("/tmp/一.txt"));
    QCOMPARE(form->List2->count(), 1);
    QVERIFY(form->List2->isHidden());
    hm::test::click(form->Command9);
    QVERIFY(form->List2->isVisible());
    QCOMPARE(form->AttachText->text(), QStringLiteral("/tmp/一.txt,/tmp/two.pdf"));
    // The list covers neither the fortune switch nor the body; they go back when it goes.
    for (QWidget* below : std::initializer_list<QWidget*>{form->Check1, form->Check1Label, form->Check1Note,
                                                          form->BodyText}) {
        QVERIFY2(!form->List2->geometry().intersects(below->geometry()), qPrintable(below->objectName()));
        QVERIFY(form->rect().contains(below->geometry()));
    }
    hm::test::click(form->Command9); // cancelled: nothing added
    QCOMPARE(form->AttachText->text(), QStringLiteral("/tmp/一.txt,/tmp/two.pdf"));
    hm::test::click(form->Command9);
    QCOMPARE(form->AttachText->text(), QStringLiteral("/tmp/一.txt,/tmp/two.pdf,/tmp/three.png"));
    QCOMPARE(form->List2->count(), 3);
    QCOMPARE(form->List2->item(2)->text(), QStringLiteral("/tmp/three.png"));
    // Sending takes the chosen paths as they are, and a text edited by hand as typed.
    QCOMPARE(form->CurrentDraft().attachments, QStringLiteral("/tmp/一.txt\0/tmp/two.pdf\0/tmp/three.png\0"));
    form->AttachText->setText(QStringLiteral("/tmp/一.txt,/tmp/four.txt"));
    QCOMPARE(form->CurrentDraft().attachments, QStringLiteral("/tmp/一.txt,/tmp/four.txt"));

    // "クリア" ends in the same state as "取り消し"; "取り消し" stays disabled afterwards.
    hm::test::click(form->Command11);
    QCOMPARE(form->Check1->y(), hm::twips(2640));
    QCOMPARE(form->BodyText->geometry(), QRect(hm::twips(240), hm::twips(3000), hm::twips(6495), hm::twips(4335)));
    QVERIFY(form->AttachText->text().isEmpty());
    QCOMPARE(form->List2->count(), 0);
    QVERIFY(form->List2->isHidden());
    QVERIFY(form->AttachCommand->isEnabled());
    QVERIFY(!form->Command9->isEnabled());
    QVERIFY(!form->Command10->isEnabled());
}

void TestWriteForm::leavingTheGreetingReplacesTheBody()
{
    hm::test::TestFolder folder;
    WriteForm* form = openForm();
    form->BodyText->setPlainText(QStringLiteral("打ちかけの本文"));

    // Passing through the box, by Tab or by clicking past it, chooses nothing.
    form->Combo1->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(form->Combo1->hasFocus());
    QTest::keyClick(form->Combo1, Qt::Key_Tab);
    QTRY_VERIFY(!form->Combo1->hasFocus());
    form->Combo1->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form->Combo1->hasFocus());
    form->SubjectText->setFocus(Qt::MouseFocusReason);
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("打ちかけの本文"));

    // A greeting chosen in the box replaces the body once the box is left.
    form->Combo1->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form->Combo1->hasFocus());
    QTest::keyClick(form->Combo1, Qt::Key_Down);
    QTest::keyClick(form->Combo1, Qt::Key_Down);
    // Moving within the box (its drop-down) is not leaving it.
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("打ちかけの本文"));
    QTest::keyClick(form->Combo1, Qt::Key_Tab);
    QTRY_VERIFY(!form->Combo1->hasFocus());
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("平素のご愛顧誠にありがとうございます。"));
    // The replacement is one edit: Ctrl+Z brings the typed body back.
    form->BodyText->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(form->BodyText, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("打ちかけの本文"));

    // A body typed after the greeting survives a later visit that changes nothing.
    form->BodyText->setPlainText(QStringLiteral("追記"));
    form->Combo1->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form->Combo1->hasFocus());
    form->SubjectText->setFocus(Qt::MouseFocusReason);
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("追記"));

    // A box emptied by the user empties the body.
    form->Combo1->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form->Combo1->hasFocus());
    form->Combo1->setEditText(QString());
    form->ToText->setFocus(Qt::TabFocusReason);
    QVERIFY(form->BodyText->toPlainText().isEmpty());
}

void TestWriteForm::pickingTakesTheFirstSixtyCharactersTrimmed()
{
    hm::test::TestFolder folder;
    const QString longAddress = QStringLiteral("  ") + QString(70, QLatin1Char('a')) + QStringLiteral("@example.jp");
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@example.jp")));
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("長い"), longAddress));
    QVERIFY(hm::addressbook::WriteAddress(3, QStringLiteral("三"), QStringLiteral(" three@example.jp ")));
    WriteForm* form = openForm();
    hm::test::click(form->Command4);
    QCOMPARE(form->List1->count(), 3);

    form->ToText->setText(QStringLiteral("old@example.jp"));
    clickRow(form->List1, 1);
    QCOMPARE(form->ToText->text(), QString(58, QLatin1Char('a')));
    clickRow(form->List1, 2);
    QCOMPARE(form->ToText->text(), QStringLiteral("three@example.jp"));
    clickRow(form->List1, 0);
    QCOMPARE(form->ToText->text(), QStringLiteral("one@example.jp"));
    QVERIFY(folder.ui.shown.isEmpty());
}

void TestWriteForm::pickingWithoutASelectionOnlyWarns()
{
    hm::test::TestFolder folder;
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@example.jp")));
    WriteForm* form = openForm();
    hm::test::click(form->Command4);
    form->ToText->setText(QStringLiteral("keep@example.jp"));
    // A press below the last row selects nothing.
    QTest::mouseClick(form->List1->viewport(), Qt::LeftButton, {},
                      QPoint(5, form->List1->viewport()->height() - 3));
    QCOMPARE(folder.ui.shown.size(), 1);
    QCOMPARE(folder.ui.shown[0].text, QStringLiteral("データが選択されていません"));
    QCOMPARE(folder.ui.shown[0].icon, Icon::Warning);
    QCOMPARE(form->ToText->text(), QStringLiteral("keep@example.jp"));
    QVERIFY(form->List1->hasFocus());
}

void TestWriteForm::pickingARowMissingFromTheBookKeepsTheRecipient()
{
    hm::test::TestFolder folder;
    // Two rows in the master list, one record in the address book.
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@example.jp")));
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("二"), QStringLiteral("two@example.jp")));
    QFile::remove(folder.file(kMaster));
    QFile::copy(folder.file(kBook), folder.file(kMaster));
    QVERIFY(hm::addressbook::DeleteAddress(2));
    const QByteArray book = folder.read(kBook);
    WriteForm* form = openForm();
    QCOMPARE(form->List1->count(), 2);
    form->ToText->setText(QStringLiteral("keep@example.jp"));
    clickRow(form->List1, 1);
    QCOMPARE(form->ToText->text(), QStringLiteral("keep@example.jp"));
    QCOMPARE(folder.ui.shown.size(), 1);
    QCOMPARE(folder.read(kBook), book);
    clickRow(form->List1, 0);
    QCOMPARE(form->ToText->text(), QStringLiteral("one@example.jp"));
}

void TestWriteForm::clipboardClearAndBulkSwitch()
{
    hm::test::TestFolder folder;
    WriteForm* form = openForm();
    QClipboard* clipboard = QApplication::clipboard();

    form->BodyText->setPlainText(QStringLiteral("本文"));
    clipboard->setText(QStringLiteral("貼る"));
    hm::test::click(form->Command5);
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("本文貼る"));
    form->ToText->setText(QStringLiteral("old@example.jp"));
    clipboard->setText(QStringLiteral("new@example.jp"));
    hm::test::click(form->Command7);
    QCOMPARE(form->ToText->text(), QStringLiteral("new@example.jp"));
    clipboard->clear();
    hm::test::click(form->Command7);
    QVERIFY(form->ToText->text().isEmpty());

    QCOMPARE(listColour(form), QColor(Qt::white));
    hm::test::click(form->Option2);
    QVERIFY(form->Option2->isChecked());
    QCOMPARE(listColour(form), QColor(0, 128, 0));
    form->ToText->setText(QStringLiteral("x@example.jp"));
    hm::test::click(form->Option1);
    QVERIFY(!form->Option2->isChecked());
    QVERIFY(form->ToText->text().isEmpty());
    QCOMPARE(listColour(form), QColor(Qt::white));

    hm::test::click(form->Option2);
    form->ToText->setText(QStringLiteral("a@example.jp"));
    form->SubjectText->setText(QStringLiteral("件名"));
    form->Check1->setChecked(true);
    form->Combo1->setCurrentIndex(2);
    hm::test::click(form->Command11);
    QVERIFY(form->ToText->text().isEmpty());
    QVERIFY(form->SubjectText->text().isEmpty());
    QVERIFY(form->BodyText->toPlainText().isEmpty());
    QVERIFY(!form->Option2->isChecked());
    QVERIFY(!form->Check1->isChecked());
    QCOMPARE(listColour(form), QColor(Qt::white));
    QCOMPARE(form->Combo1->count(), 8);
}

void TestWriteForm::extraBoxOpensOnlyForTheExactWord()
{
    hm::test::TestFolder folder;
    WriteForm* form = openForm();
    const int normal = form->height();
    for (const QString& word : {QStringLiteral("TEFU"), QStringLiteral(" tefu"), QStringLiteral("ｔｅｆｕ")}) {
        form->ToText->setText(word);
        QTest::mouseDClick(form->Label7, Qt::LeftButton);
        QCOMPARE(form->height(), normal);
        QVERIFY(form->Command2->isHidden());
    }
    form->ToText->setText(QStringLiteral("tefu"));
    QTest::mouseDClick(form->Label7, Qt::LeftButton);
    QVERIFY(nearTwips(hm::outerHeightTwips(form), 8955));
    QVERIFY(form->Text4->geometry().bottom() < form->height());
    QVERIFY(!form->Command2->isHidden());
    QVERIFY(form->Command2->isEnabled());
    QApplication::clipboard()->setText(QStringLiteral("メモ"));
    hm::test::click(form->Command2);
    QCOMPARE(form->Text4->text(), QStringLiteral("メモ"));
}

void TestWriteForm::helpBoxFollowsTheMouse()
{
    hm::test::TestFolder folder;
    WriteForm* form = openForm();
    QVERIFY(form->Text14->isHidden());
    hover(form->Command8, QPoint(5, 5));
    QTRY_VERIFY(form->Text14->isVisible());
    const QString help = form->Text14->toPlainText();
    QVERIFY(help.startsWith(QStringLiteral("顔・絵文字の本文への挿入を行います。\n\n使用方法：")));
    QVERIFY(help.contains(QStringLiteral("ボタンを。クリックしますと、本分中に挿入されます。\n\n素材の")));
    QCOMPARE(help.count(QLatin1Char('\n')), 6);

    hover(form, QPoint(form->width() - 3, 3)); // the window's own background
    QTRY_VERIFY(form->Text14->isHidden());
    hover(form->AttachCommand, QPoint(5, 5));
    QTRY_VERIFY(form->Text14->isVisible());
    QCOMPARE(form->Text14->toPlainText(), QStringLiteral("各種ファイルを添付して送信できます。"));
    // "取り消し" has no help and leaves the box as it is; so does another control.
    hover(form->Command10, QPoint(5, 5));
    hover(form->ToText, QPoint(5, 5));
    QCOMPARE(form->Text14->toPlainText(), QStringLiteral("各種ファイルを添付して送信できます。"));
    QVERIFY(form->Text14->isVisible());
    hover(form->BodyText->viewport(), QPoint(3, 3));
    QTRY_VERIFY(form->Text14->isHidden());
}

void TestWriteForm::closedWindowIsBuiltAfresh()
{
    hm::test::TestFolder folder;
    QPointer<WriteForm> form = openForm();
    form->ToText->setText(QStringLiteral("a@example.jp"));
    hm::test::click(form->AttachCommand);
    hm::test::click(form->Command3);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(form.isNull());
    WriteForm* again = openForm();
    QVERIFY(again->ToText->text().isEmpty());
    QVERIFY(again->AttachCommand->isEnabled());
    QCOMPARE(again->Combo1->count(), 8);
}

void TestWriteForm::fortuneDrawIsUniform()
{
    // 12,000 draws: each of the twelve about 1,000 times (five standard deviations is ~150).
    QList<int> counts(hm::compose::kFortuneCount + 1, 0);
    for (int i = 0; i < 12000; ++i) {
        const int k = hm::compose::DrawFortuneNumber();
        QVERIFY2(k >= 1 && k <= hm::compose::kFortuneCount, qPrintable(QString::number(k)));
        ++counts[k];
    }
    for (int k = 1; k <= hm::compose::kFortuneCount; ++k)
        QVERIFY2(counts[k] > 850 && counts[k] < 1150, qPrintable(QStringLiteral("%1: %2").arg(k).arg(counts[k])));
    QVERIFY(hm::compose::Fortune(0).isEmpty());
    QVERIFY(hm::compose::Fortune(13).isEmpty());
    QVERIFY(hm::compose::Fortune(7).endsWith(QChar(0x3000)));
}

void TestWriteForm::fixedSizesTrimmedNamesAndAHelpBoxThatTakesNoFocus()
{
    hm::test::TestFolder folder;
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("山田"), QStringLiteral("yamada@example.jp")));
    WriteForm* form = openForm();
    // Neither size can be enlarged, which would bring the hidden panel and box into view.
    for (QPushButton* command : {static_cast<QPushButton*>(nullptr), form->Command4, form->Command6}) {
        if (command)
            hm::test::click(command);
        const int width = command == form->Command4 ? 9700 : 7100;
        form->resize(form->width() + 100, form->height() + 100);
        QVERIFY(nearTwips(hm::outerWidthTwips(form), width));
        QVERIFY(nearTwips(hm::outerHeightTwips(form), 8200));
        QCOMPARE(form->minimumSize(), form->maximumSize());
    }
    QCOMPARE(form->List1->item(0)->text(), QStringLiteral("山田"));

    form->BodyText->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(form->BodyText->hasFocus());
    hover(form->Command1, QPoint(5, 5));
    QTRY_VERIFY(form->Text14->isVisible());
    QTest::mouseClick(form->Text14->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("x"));
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("x"));
    QVERIFY(form->Text14->toPlainText().startsWith(QStringLiteral("送信します。")));
}

void TestWriteForm::enterPressesAndEscapeClosesAskingForUnsentText()
{
    hm::test::TestFolder folder;
    const QString question = QStringLiteral("送信していないメールがあります。\n破棄して終了しますか？");
    QApplication::clipboard()->setText(QStringLiteral("paste@example.jp"));
    struct Row {
        const char* window;
        std::function<QWidget*()> open;
        std::function<QPushButton*(QWidget*)> button;
        std::function<bool(QWidget*)> pressed; // what the button did
        bool asks;                             // the press leaves text Escape asks about
    };
    const Row rows[] = {
        {"compose", [] { return static_cast<QWidget*>(hm::window<WriteForm>()); },
         [](QWidget* w) { return static_cast<WriteForm*>(w)->Command7; },
         [](QWidget* w) { return static_cast<WriteForm*>(w)->ToText->text() == QStringLiteral("paste@example.jp"); },
         true},
        {"reply",
         [] { return static_cast<QWidget*>(hm::compose::OpenReply(QStringLiteral("件名"), QStringLiteral("a@example.jp"),
                                                                   QStringLiteral("元の本文"))); },
         [](QWidget* w) { return static_cast<BackForm*>(w)->Command4; },
         [](QWidget* w) { return static_cast<BackForm*>(w)->BodyText->toPlainText().startsWith(QStringLiteral("paste@")); },
         true},
        {"palette",
         [] {
             hm::window<WriteForm>()->show();
             hm::test::click(hm::window<WriteForm>()->Command8);
             return static_cast<QWidget*>(hm::loadedWindow<KaoForm>());
         },
         [](QWidget* w) { return static_cast<KaoForm*>(w)->PasteButtons[0]; },
         [](QWidget* w) { return static_cast<KaoForm*>(w)->Pages[0]->toPlainText().startsWith(QStringLiteral("paste@")); },
         false},
    };
    for (const Row& row : rows) {
        const auto escape = [](QWidget* w) {
            QApplication::setActiveWindow(w);
            QVERIFY(QTest::qWaitForWindowActive(w));
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : w, Qt::Key_Escape);
        };
        // As opened, Escape closes at once.
        QPointer<QWidget> w = row.open();
        w->show();
        escape(w);
        QVERIFY2(!w || !w->isVisible(), row.window);
        QVERIFY(folder.ui.shown.isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        w = row.open();
        w->show();
        QApplication::setActiveWindow(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QPushButton* b = row.button(w);
        b->setFocus(Qt::TabFocusReason);
        QTest::keyClick(b, Qt::Key_Return);
        QVERIFY2(row.pressed(w), row.window);
        if (row.asks) {
            folder.ui.answers << hm::ui::Answer::No;
            escape(w);
            QVERIFY2(w && w->isVisible(), row.window);
            QCOMPARE(folder.ui.texts(), QStringList{question});
            folder.ui.answers << hm::ui::Answer::Yes;
            folder.ui.shown.clear();
        }
        escape(w);
        QVERIFY2(!w || !w->isVisible(), row.window);
        QCOMPARE(folder.ui.shown.size(), row.asks ? 1 : 0);
        folder.ui.shown.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The palette saved the page it was closed on.
    QVERIFY(hm::emoticons::ReadPage(0).startsWith(QStringLiteral("paste@example.jp")));
}

void TestWriteForm::ctrlTabLeavesTheBody()
{
    hm::test::TestFolder folder;
    WriteForm* form = openForm();
    BackForm* reply = hm::compose::OpenReply(QString(), QString(), QString());
    for (QWidget* body : {static_cast<QWidget*>(form->BodyText), static_cast<QWidget*>(reply->BodyText)}) {
        QApplication::setActiveWindow(body->window());
        QVERIFY(QTest::qWaitForWindowActive(body->window()));
        body->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(body->hasFocus());
        // Tab is typed, as in a mail editor; Ctrl+Tab and Ctrl+Shift+Tab move on.
        QTest::keyClick(body, Qt::Key_Tab);
        QVERIFY(body->hasFocus());
        QTest::keyClick(body, Qt::Key_Tab, Qt::ControlModifier);
        QWidget* next = QApplication::focusWidget();
        QVERIFY(next && next != body && next->window() == body->window());
        QTest::keyClick(next, Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), body);
        QTest::keyClick(body, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(QApplication::focusWidget() != body && QApplication::focusWidget() != next);
        const QString typed = body == form->BodyText ? form->BodyText->toPlainText() : reply->BodyText->toPlainText();
        QCOMPARE(typed, QStringLiteral("\t"));
    }
}

QTEST_MAIN(TestWriteForm)
#include "test_write_form.moc"
