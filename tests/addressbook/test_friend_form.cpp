#include "addressbook/address_store.h"
#include "addressbook/friend_form.h"
#include "common/ansi_codec.h"
#include "common/twips.h"
#include "common/window_registry.h"
#include "store/mail_store.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <sys/stat.h>

using namespace hm;
using hm::ui::Answer;

namespace {
const QString kBook = hm::addressbook::addressBookPath();
const QString kTemp = hm::addressbook::addressTempPath();

QByteArray entry(const QString& name, const QString& address)
{
    return ansi::fixedField(name, 90) + QByteArray("\r\n\x01\x00", 4) + ansi::fixedField(address, 90);
}

// ASCII is typed key by key; Japanese arrives as an input method's committed text.
void type(QLineEdit* box, const QString& text)
{
    box->clear();
    box->setFocus();
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClicks(box, QString(c));
        } else {
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QApplication::sendEvent(box, &commit);
        }
    }
}

void clickRow(QTreeWidget* list, int row)
{
    const QRect rect = list->visualItemRect(list->topLevelItem(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

void hover(QWidget* w)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

struct Form {
    std::unique_ptr<FriendForm> w;
    Form() : w(std::make_unique<FriendForm>())
    {
        w->Form_Load();
        w->show();
    }
};
} // namespace

class TestFriendForm : public QObject {
    Q_OBJECT
private slots:
    void loadsAnEmptyBookWithItsControls();
    void registerThreeDeleteTheSecondAndDeclineADeletion();
    void showsTheSelectedEntryAndCutsAtNul();
    void deleteNeedsASelection();
    void nameCardWrapsTheAddress();
    void pasteAndHelpBox();
    void failuresAreShownAndLoseNothing();
    void historyOpensItWithAnAddress();
    void shownEntryEndsAtNulAndTheHelpBoxTakesNoFocus();
    void rowsReachedByKeyboardAreShownAndDeleted();
};

void TestFriendForm::loadsAnEmptyBookWithItsControls()
{
    test::TestFolder folder;
    Form f;
    QCOMPARE(f.w->windowTitle(), QStringLiteral("アドレス帳"));
    QCOMPARE(f.w->MailListView->topLevelItemCount(), 0);
    QCOMPARE(f.w->Text3->text(), QStringLiteral("0"));
    QCOMPARE(f.w->Label7->text(), QString());
    QCOMPARE(f.w->MailListView->headerItem()->text(0), QStringLiteral("Address"));
    QCOMPARE(f.w->MailListView->headerItem()->text(1), QStringLiteral("Name"));
    QCOMPARE(f.w->MailListView->columnWidth(0), f.w->MailListView->width() / 2);
    QCOMPARE(f.w->MailListView->columnWidth(1), f.w->MailListView->width() / 3);
    QCOMPARE(f.w->Command38->text(), QStringLiteral("名刺挿入"));
    QCOMPARE(f.w->Command1->geometry(), QRect(twips(6240), twips(120), twips(975), twips(300)));
    QCOMPARE(f.w->Text4->geometry(), QRect(twips(1620), twips(120), twips(4455), twips(300)));
    QVERIFY(!f.w->Text5->isVisible());
    // The note and the reload button show their whole text.
    QVERIFY(f.w->Label4->heightForWidth(f.w->Label4->width()) <= f.w->Label4->height());
    QCOMPARE(f.w->Command2->text(), QStringLiteral("更新"));
    // The first load creates the store, empty.
    QVERIFY(QFileInfo::exists(folder.file(kBook)));
}

void TestFriendForm::registerThreeDeleteTheSecondAndDeclineADeletion()
{
    test::TestFolder folder;
    Form f;
    const QStringList people{QStringLiteral("青木"), QStringLiteral("Brown"), QStringLiteral("千葉")};
    for (int i = 0; i < 3; ++i) {
        type(f.w->Text2, people[i]);
        type(f.w->Text4, QStringLiteral("p%1@example.jp").arg(i + 1));
        hm::test::click(f.w->Command3);
        QCOMPARE(f.w->Label7->text(), QStringLiteral("　登録が完了しました。"));
        QCOMPARE(store::CurrentRecordNumber(), qint16(i + 1));
    }
    QCOMPARE(f.w->MailListView->topLevelItemCount(), 3);
    QCOMPARE(f.w->Text3->text(), QStringLiteral("3"));
    QCOMPARE(Trim(f.w->MailListView->topLevelItem(1)->text(0)), QStringLiteral("p2@example.jp"));
    QCOMPARE(Trim(f.w->MailListView->topLevelItem(1)->text(1)), QStringLiteral("Brown"));

    clickRow(f.w->MailListView, 1);
    QCOMPARE(f.w->Text4->text(), QStringLiteral("p2@example.jp"));
    folder.ui.answers.enqueue(Answer::Yes);
    hm::test::click(f.w->Command4);
    QCOMPARE(folder.ui.shown.size(), 1);
    QCOMPARE(folder.ui.shown[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
    QCOMPARE(folder.ui.shown[0].title, QStringLiteral("確認"));
    QCOMPARE(folder.ui.shown[0].buttons, ui::Buttons::YesNo);
    QCOMPARE(folder.ui.shown[0].icon, ui::Icon::Question);
    QCOMPARE(f.w->Label7->text(), QStringLiteral("削除が完了しました"));
    QCOMPARE(folder.read(kBook), entry(people[0], QStringLiteral("p1@example.jp"))
                                     + entry(people[2], QStringLiteral("p3@example.jp")));
    QCOMPARE(f.w->MailListView->topLevelItemCount(), 2);
    QCOMPARE(f.w->Text3->text(), QStringLiteral("2"));
    QVERIFY(!QFileInfo::exists(folder.file(kTemp)));

    const QByteArray before = folder.read(kBook);
    clickRow(f.w->MailListView, 0);
    folder.ui.answers.enqueue(Answer::No);
    hm::test::click(f.w->Command4);
    QCOMPARE(folder.ui.shown.size(), 2);
    QCOMPARE(folder.read(kBook), before);
    QVERIFY(!QFileInfo::exists(folder.file(kTemp)));
    QCOMPARE(f.w->MailListView->topLevelItemCount(), 2);
    QCOMPARE(f.w->Label7->text(), QStringLiteral(" "));
}

void TestFriendForm::showsTheSelectedEntryAndCutsAtNul()
{
    test::TestFolder folder;
    folder.write(kBook, entry(QStringLiteral("  名前  "), QStringLiteral("  a@example.jp  "))
                            + ansi::fixedField(QStringLiteral("n"), 90) + QByteArray("\r\n\x01\x00", 4)
                            + QByteArray("vis\0hidden", 10) + QByteArray(80, ' ')
                            + entry(QStringLiteral("empty address"), QString()));
    Form f;
    QCOMPARE(f.w->MailListView->topLevelItemCount(), 3);
    QCOMPARE(f.w->MailListView->topLevelItem(1)->text(0), QStringLiteral("vis"));
    QCOMPARE(Trim(f.w->MailListView->topLevelItem(2)->text(0)), QString());
    clickRow(f.w->MailListView, 0);
    QCOMPARE(f.w->Text2->text(), QStringLiteral("名前"));
    QCOMPARE(f.w->Text4->text(), QStringLiteral("a@example.jp"));
    QCOMPARE(f.w->Label7->text(), QStringLiteral("　選択しました。"));
    clickRow(f.w->MailListView, 2);
    QCOMPARE(f.w->Text2->text(), QStringLiteral("empty address"));
    QCOMPARE(f.w->Text4->text(), QString());
}

void TestFriendForm::deleteNeedsASelection()
{
    test::TestFolder folder;
    folder.write(kBook, entry(QStringLiteral("a"), QStringLiteral("a@x")) + entry(QStringLiteral("b"), QStringLiteral("b@x")));
    const QByteArray before = folder.read(kBook);
    Form f;
    // Empty address box.
    hm::test::click(f.w->Command4);
    // Address typed but no row selected.
    type(f.w->Text4, QStringLiteral("a@x"));
    hm::test::click(f.w->Command4);
    QCOMPARE(folder.ui.texts(), (QStringList{QStringLiteral("データが選択されていません"),
                                             QStringLiteral("データが選択されていません")}));
    QCOMPARE(folder.ui.shown[0].buttons, ui::Buttons::Ok);
    QCOMPARE(folder.read(kBook), before);
    // Selecting with the address box emptied afterwards still asks for a selection first.
    clickRow(f.w->MailListView, 1);
    f.w->Text4->clear();
    hm::test::click(f.w->Command4);
    QCOMPARE(folder.ui.shown.size(), 3);
    QCOMPARE(folder.read(kBook), before);
}

void TestFriendForm::nameCardWrapsTheAddress()
{
    test::TestFolder folder;
    Form f;
    hm::test::click(f.w->Command38);
    type(f.w->Text4, QStringLiteral("  a@example.jp  "));
    hm::test::click(f.w->Command38);
    QCOMPARE(folder.ui.texts(), (QStringList{QStringLiteral("メールアドレスが入力されていません"),
                                             QStringLiteral("名詞が入力されていません")}));
    QCOMPARE(folder.ui.shown[1].icon, ui::Icon::None);
    QCOMPARE(f.w->Text4->text(), QStringLiteral("  a@example.jp  "));
    type(f.w->Text50, QStringLiteral(" 森川 "));
    hm::test::click(f.w->Command38);
    QCOMPARE(f.w->Text4->text(), QStringLiteral(" 森川 <a@example.jp>"));
    hm::test::click(f.w->Command38);
    QCOMPARE(f.w->Text4->text(), QStringLiteral(" 森川 <森川 <a@example.jp>>"));
    // Nothing is stored until registering.
    QCOMPARE(folder.read(kBook).size(), 0);
}

void TestFriendForm::pasteAndHelpBox()
{
    test::TestFolder folder;
    Form f;
    QGuiApplication::clipboard()->setText(QStringLiteral("copied@example.jp"));
    hm::test::click(f.w->Command1);
    QCOMPARE(f.w->Text4->text(), QStringLiteral("copied@example.jp"));

    hover(f.w->Command38);
    QVERIFY(f.w->Text5->isVisible());
    const QString help = f.w->Text5->toPlainText();
    QVERIFY(help.endsWith(QStringLiteral("\n\n必要なければ挿入する必要はありません。")));
    QVERIFY(FriendForm::command38HelpText().contains(QStringLiteral("\r\n\r\n必要なければ")));
    QVERIFY(help.contains(QLatin1Char('<')));
    hover(f.w->Command4);
    QCOMPARE(f.w->Text5->toPlainText(), QStringLiteral("不要になったメールアドレスを削除します。"));
    hover(f.w->Text2); // other controls change nothing
    QVERIFY(f.w->Text5->isVisible());
    hover(f.w.get());
    QVERIFY(!f.w->Text5->isVisible());
    hover(f.w->Command3);
    QCOMPARE(f.w->Text5->toPlainText(),
             QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの一発入力が可能になります。"));
    hover(f.w->Command1);
    QCOMPARE(f.w->Text5->toPlainText(), QStringLiteral("コピーして来たメールアドレスを貼り付けます。"));
    // It lies over the list: leaving the button takes it away.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(f.w->Command1, &leave);
    QVERIFY(!f.w->Text5->isVisible());
}

void TestFriendForm::failuresAreShownAndLoseNothing()
{
    test::TestFolder folder;
    folder.write(kBook, entry(QStringLiteral("a"), QStringLiteral("a@x")));
    const QByteArray path = QFile::encodeName(folder.file(kBook));
    QVERIFY(::chmod(path.constData(), 0444) == 0);
    Form f;
    type(f.w->Text2, QStringLiteral("b"));
    type(f.w->Text4, QStringLiteral("b@x"));
    hm::test::click(f.w->Command3);
    QCOMPARE(folder.ui.shown.size(), 1);
    QVERIFY(folder.ui.shown[0].text.contains(QStringLiteral("読み取り専用")));
    QVERIFY(f.w->Label7->text().isEmpty());
    clickRow(f.w->MailListView, 0);
    folder.ui.answers.enqueue(Answer::Yes);
    hm::test::click(f.w->Command4);
    QCOMPARE(folder.ui.shown.size(), 3);
    QVERIFY(folder.ui.shown[2].text.contains(QStringLiteral("読み取り専用")));
    QVERIFY(f.w->Label7->text() != QStringLiteral("削除が完了しました"));
    QCOMPARE(folder.read(kBook), entry(QStringLiteral("a"), QStringLiteral("a@x")));
    QCOMPARE(f.w->MailListView->topLevelItemCount(), 1);
    ::chmod(path.constData(), 0644);
}

void TestFriendForm::historyOpensItWithAnAddress()
{
    test::TestFolder folder;
    folder.write(kBook, entry(QStringLiteral("a"), QStringLiteral("a@x")));
    FriendForm* w = FriendForm::openWithAddress(QStringLiteral("sender@example.jp"));
    QCOMPARE(loadedWindow<FriendForm>(), w);
    QCOMPARE(w->Text4->text(), QStringLiteral("sender@example.jp"));
    QCOMPARE(w->MailListView->topLevelItemCount(), 1);
    QVERIFY(w->isVisible());
    QCOMPARE(FriendForm::openWithAddress(QStringLiteral("other@example.jp")), w);
    QCOMPARE(w->Text4->text(), QStringLiteral("other@example.jp"));
    type(w->Text2, QStringLiteral("送信者"));
    hm::test::click(w->Command3);
    QCOMPARE(folder.read(kBook).mid(184), entry(QStringLiteral("送信者"), QStringLiteral("other@example.jp")));
    // Escape closes it as the window's close box does.
    QTest::keyClick(w->Text2, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!loadedWindow<FriendForm>());
}

void TestFriendForm::shownEntryEndsAtNulAndTheHelpBoxTakesNoFocus()
{
    test::TestFolder folder;
    folder.write(kBook, QByteArray("na\0me", 6) + QByteArray(84, ' ') + QByteArray("\r\n\x01\x00", 4)
                            + QByteArray("a@x\0hidden", 10) + QByteArray(80, ' '));
    Form f;
    clickRow(f.w->MailListView, 0);
    QCOMPARE(f.w->Text2->text(), QStringLiteral("na"));
    QCOMPARE(f.w->Text4->text(), QStringLiteral("a@x"));
    // Registering what is shown writes no NUL back.
    hm::test::click(f.w->Command3);
    QCOMPARE(folder.read(kBook).mid(184), entry(QStringLiteral("na"), QStringLiteral("a@x")));

    QApplication::setActiveWindow(f.w.get());
    QVERIFY(QTest::qWaitForWindowActive(f.w.get()));
    f.w->Text50->setFocus();
    hover(f.w->Command3);
    QVERIFY(f.w->Text5->isVisible());
    QTest::mouseClick(f.w->Text5->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("x"));
    QCOMPARE(f.w->Text50->text(), QStringLiteral("x"));
}

void TestFriendForm::rowsReachedByKeyboardAreShownAndDeleted()
{
    test::TestFolder folder;
    folder.write(kBook, entry(QStringLiteral("一"), QStringLiteral("1@x")) + entry(QStringLiteral("二"), QStringLiteral("2@x")));
    Form f;
    QTest::keyClick(f.w->MailListView, Qt::Key_Down);
    QCOMPARE(f.w->Text4->text(), QStringLiteral("1@x"));
    QTest::keyClick(f.w->MailListView, Qt::Key_Down);
    QCOMPARE(f.w->Text2->text(), QStringLiteral("二"));
    QCOMPARE(f.w->Text4->text(), QStringLiteral("2@x"));
    QCOMPARE(f.w->Label7->text(), QStringLiteral("　選択しました。"));
    folder.ui.answers.enqueue(Answer::Yes);
    hm::test::click(f.w->Command4);
    QCOMPARE(folder.ui.texts(), QStringList{QStringLiteral("選択された（行、青色）データを削除します。よろしいですか")});
    QCOMPARE(folder.read(kBook), entry(QStringLiteral("一"), QStringLiteral("1@x")));
}

QTEST_MAIN(TestFriendForm)
#include "test_friend_form.moc"
