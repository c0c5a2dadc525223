#include "addressbook/friend_form.h"
#include "common/ansi_codec.h"
#include "common/form_geometry.h"
#include "common/mail_date.h"
#include "common/twips.h"
#include "common/window_registry.h"
#include "compose/back_form.h"
#include "history/editor_text.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "store/mail_store.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>

#include <ctime>

using hm::history::HistoryMode;
using hm::store::Store;
using hm::ui::Answer;

namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");

struct Mail {
    QString subject, from, date, body;
};

void append(Store s, const Mail& m)
{
    QVERIFY(hm::store::AppendRecord(s, hm::store::NextRecordNumber(s), m.subject, m.from, m.date, m.body));
}

QList<Mail> threeMails()
{
    return {{QStringLiteral("最初の件名"), QStringLiteral("a@example.jp"), QStringLiteral("Mon, 7 Dec 2026 09:00:00 +0900"),
             QStringLiteral("本文一\r\n二行目")},
            {QStringLiteral("Second"), QStringLiteral("b@example.jp"), QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"),
             QStringLiteral("body two")},
            {QStringLiteral("三番目"), QStringLiteral("c@example.jp"), QStringLiteral("Mon, 7 Dec 2026 11:00:00 +0900"),
             QStringLiteral("third body\r\nline 2")}};
}

// A message for tests that only need a row to click before they set the boxes themselves.
Mail oneMail()
{
    return {QStringLiteral("one"), QStringLiteral("one@example.jp"), QStringLiteral("Mon, 7 Dec 2026 09:00:00 +0900"),
            QStringLiteral("one body")};
}

void fill(Store s, const QList<Mail>& mails)
{
    for (const Mail& m : mails)
        append(s, m);
}

TyakuForm* open(HistoryMode mode)
{
    TyakuForm* form = hm::history::OpenHistory(mode);
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowExposed(form))
        qWarning("history window not exposed");
    return form;
}

void clickRow(TyakuForm* form, int row)
{
    QTreeWidgetItem* item = form->MailListView->topLevelItem(row - 1);
    QVERIFY(item);
    const QRect r = form->MailListView->visualItemRect(item);
    QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {}, r.center());
}

QStringList rowTexts(TyakuForm* form, int column)
{
    QStringList out;
    for (int i = 0; i < form->MailListView->topLevelItemCount(); ++i)
        out << form->MailListView->topLevelItem(i)->text(column);
    return out;
}

void enter(QWidget* w)
{
    QEvent e(QEvent::Enter);
    QApplication::sendEvent(w, &e);
}

template <class W>
void closeWindow()
{
    if (W* w = hm::loadedWindow<W>()) {
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

qint64 storeSize(const hm::test::TestFolder& folder, Store s)
{
    return QFileInfo(folder.file(hm::store::storePath(s))).size();
}

// Whether the box shows its whole text: with the caret at the end the text has not scrolled.
bool showsWholeText(QLineEdit* box)
{
    const auto caretX = [box] { return box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x(); };
    box->setCursorPosition(0);
    const int start = caretX();
    box->setCursorPosition(box->text().size());
    const int end = caretX();
    box->setCursorPosition(0);
    return qAbs(end - start - box->fontMetrics().horizontalAdvance(box->text())) <= 1;
}

} // namespace

class TestTyakuForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Dates show in local time: fix the zone so the expected texts hold everywhere.
        qputenv("TZ", "Asia/Tokyo");
        tzset();
    }
    void init()
    {
        folder_ = std::make_unique<hm::test::TestFolder>();
        hm::history::editorState() = {};
        // Every flow runs the editor the way a user does; none may leave a cursor out of its text.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^QTextCursor::")));
    }
    void cleanup()
    {
        closeWindow<TyakuForm>();
        closeWindow<FriendForm>();
        closeWindow<BackForm>();
        folder_.reset();
    }

    void openingShowsEveryRecordAndTheLastInTheBoxes();
    void openingAnEmptyStoreKeepsTheBoxes();
    void sentModeHasItsOwnCaptionColourAndStore();
    void clickingARowShowsItsRecord();
    void datesShowInTheClockFormatInLocalTime();
    void deletingRowTwoMovesTheThirdUp();
    void deleteOneAnsweredNoKeepsTheStore();
    void rowCommandsNeedANewClick();
    void deleteOneInTheSentHistoryNeedsASelectedRow();
    void clickInAnEmptyListSaysThereIsNothing();
    void replyFillsTheReplyWindow();
    void registerPutsTheSenderIntoTheAddressBook();
    void quickSaveWritesFourLinesAndAsksBeforeOverwriting();
    void quickSaveWithHostileSubjectsStaysInItsFolder();
    void quickSaveReportsAFailedWrite();
    void quickSaveReplacesALinkWithoutWritingThroughIt_data();
    void quickSaveReplacesALinkWithoutWritingThroughIt();
    void deleteAllEmptiesListStoreAndBoxes();
    void copyFieldFollowsTheMouseAndCopyButtonUsesIt();
    void helpBoxFollowsTheMouse();
    void layoutFollowsTheWindowSize();
    void mailCheckStagingMatchesTheEditor();
    void keyboardShowsTheRowAndNothingUnchosenIsActedOn();

private:
    std::unique_ptr<hm::test::TestFolder> folder_;
};

void TestTyakuForm::openingShowsEveryRecordAndTheLastInTheBoxes()
{
    fill(Store::Received, threeMails());
    // Only the last record stays visible: the editor and the clipboard change once for it
    // (after being emptied), not once per record.
    QSignalSpy editorChanges(hm::window<TyakuForm>()->rtfEd, &QTextEdit::textChanged);
    QSignalSpy clipboardChanges(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    TyakuForm* form = open(HistoryMode::Received);
    QVERIFY(editorChanges.size() <= 2);
    QVERIFY(clipboardChanges.size() <= 2);

    QCOMPARE(form->windowTitle(), QStringLiteral("着信履歴"));
    QCOMPARE(hm::history::CurrentHistoryMode(), HistoryMode::Received);
    QCOMPARE(form->MailListView->palette().color(QPalette::Base), QColor(210, 250, 250));
    QCOMPARE(rowTexts(form, 0), (QStringList{QStringLiteral("最初の件名"), QStringLiteral("Second"), QStringLiteral("三番目")}));
    QCOMPARE(rowTexts(form, 1), (QStringList{QStringLiteral("a@example.jp"), QStringLiteral("b@example.jp"),
                                             QStringLiteral("c@example.jp")}));
    QCOMPARE(rowTexts(form, 2).last(), QStringLiteral("2026/12/07  11:00:00"));
    QCOMPARE(form->Text2->text(), QStringLiteral("3"));
    QCOMPARE(form->Text7->text(), QStringLiteral("三番目"));
    QCOMPARE(form->Text8->text(), QStringLiteral("c@example.jp"));
    QCOMPARE(form->Text9->text(), QStringLiteral("2026/12/07  11:00:00"));
    QCOMPARE(form->EditorText(), QStringLiteral("third body\r\nline 2"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("third body\nline 2"));
    QVERIFY(folder_->ui.shown.isEmpty());

    // From takes a quarter of the list, Date at least that, the subject what is left.
    QVERIFY(form->MailListView->columnWidth(1) > 50);
    QVERIFY(form->MailListView->columnWidth(2) >= form->MailListView->columnWidth(1));
    QVERIFY(form->MailListView->columnWidth(0) > form->MailListView->columnWidth(1));
}

void TestTyakuForm::openingAnEmptyStoreKeepsTheBoxes()
{
    TyakuForm* form = open(HistoryMode::Received);
    form->Text7->setText(QStringLiteral("kept"));
    form->SetEditorText(QStringLiteral("old body"));
    form->ShowHistory(HistoryMode::Received);
    QCOMPARE(form->MailListView->topLevelItemCount(), 0);
    QCOMPARE(form->Text2->text(), QStringLiteral("0"));
    QCOMPARE(form->Text7->text(), QStringLiteral("kept"));
    QCOMPARE(form->rtfEd->toPlainText(), QString());
}

void TestTyakuForm::sentModeHasItsOwnCaptionColourAndStore()
{
    fill(Store::Received, threeMails());
    append(Store::Sent, {QStringLiteral("送った件名"), QStringLiteral("to@example.jp"), QStringLiteral("2026/12/07  10:00:00"),
                         QStringLiteral("sent body")});
    TyakuForm* form = open(HistoryMode::Sent);
    QCOMPARE(form->windowTitle(), QStringLiteral("送信履歴"));
    QCOMPARE(form->MailListView->palette().color(QPalette::Base), QColor(250, 250, 255));
    QCOMPARE(rowTexts(form, 0), QStringList{QStringLiteral("送った件名")});
    QCOMPARE(form->Text9->text(), QStringLiteral("2026/12/07  10:00:00"));

    // The same window switches back to the received store.
    QCOMPARE(open(HistoryMode::Received), form);
    QCOMPARE(form->windowTitle(), QStringLiteral("着信履歴"));
    QCOMPARE(form->Text2->text(), QStringLiteral("3"));
}

void TestTyakuForm::clickingARowShowsItsRecord()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    QVERIFY(!form->SelectionMarked());
    clickRow(form, 1);
    QVERIFY(form->SelectionMarked());
    QCOMPARE(form->Text7->text(), QStringLiteral("最初の件名"));
    QCOMPARE(form->Text8->text(), QStringLiteral("a@example.jp"));
    QCOMPARE(form->EditorText(), QStringLiteral("本文一\r\n二行目"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("本文一\n二行目"));
    QCOMPARE(form->Text2->text(), QStringLiteral("3"));

    // A match found in a longer body is no place in the next one: search next finds nothing.
    clickRow(form, 3);
    form->Text1->setText(QStringLiteral("line"));
    hm::test::trigger(form->mkensaku);
    QCOMPARE(form->rtfEd->textCursor().selectedText(), QStringLiteral("line"));
    clickRow(form, 2);
    hm::test::trigger(form->mtugikensaku);
    QVERIFY(!form->rtfEd->textCursor().hasSelection());
}

void TestTyakuForm::datesShowInTheClockFormatInLocalTime()
{
    const struct {
        const char* stored;
        const char* shown;
    } dates[] = {
        {"Mon, 07 Dec 2026 18:22:54 +0000", "2026/12/08  3:22:54"},
        {"Mon, 7 Dec 2026 11:00:00 +0900", "2026/12/07  11:00:00"},
        {"2026/12/07  18:22:15", "2026/12/07  18:22:15"}, // a sent record: the clock text itself
        {"7 Dec 26 18:22 GMT", "2026/12/08  3:22:00"},
        {"Mon, 7 Dec 2026 09:05:03 JST", "2026/12/07  9:05:03"},
        {"Sun, 6 Dec 2026 23:00:00 -0500 (EST)", "2026/12/07  13:00:00"},
        {"Fri (a comment), 31 Dec 99 23:59:59 EST", "2000/01/01  13:59:59"},
        {"Tue, 8 December 2026 1:02:03 +0130", "2026/12/08  8:32:03"},
        // Before 1970 and after 2038 the list converts as Qt does.
        {"Fri, 31 Dec 1965 20:00:00 +0000", "1966/01/01  5:00:00"},
        {"Sat, 1 Jan 2050 00:00:00 -0300", "2050/01/01  12:00:00"},
        {"Mon, 32 Dec 2026 10:00:00 +0900", "Mon, 32 Dec 2026 10:00:00 +0900"},
        {"Mon, 7 Dec 2026 10:00:00 +9900", "Mon, 7 Dec 2026 10:00:00 +9900"},
        {"日付なし", "日付なし"},
    };
    QStringList shown;
    for (const auto& d : dates) {
        append(Store::Received, {QStringLiteral("s"), QStringLiteral("f@example.jp"), QString::fromUtf8(d.stored),
                                 QStringLiteral("b")});
        shown << QString::fromUtf8(d.shown);
    }
    TyakuForm* form = open(HistoryMode::Received);
    QCOMPARE(rowTexts(form, 2), shown);
    clickRow(form, 1);
    QCOMPARE(form->Text9->text(), shown.first());
    // The store keeps the header as it came.
    QCOMPARE(Trim(CutAtNul(hm::store::RecordBuffer(Store::Received).Date)), QString::fromUtf8(dates[0].stored));

    // A list made after the system's zone changed shows the new zone's times.
    qputenv("TZ", "UTC");
    const QString inUtc = hm::MailDateDisplay()(QString::fromUtf8(dates[0].stored));
    qputenv("TZ", "Asia/Tokyo");
    tzset();
    QCOMPARE(inUtc, QStringLiteral("2026/12/07  18:22:54"));
}

void TestTyakuForm::deletingRowTwoMovesTheThirdUp()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    clickRow(form, 2);
    QCOMPARE(form->Text7->text(), QStringLiteral("Second"));
    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command3);

    QCOMPARE(folder_->ui.shown.size(), 1);
    QCOMPARE(folder_->ui.shown[0].text, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
    QCOMPARE(folder_->ui.shown[0].title, QStringLiteral("確認"));
    QCOMPARE(folder_->ui.shown[0].buttons, hm::ui::Buttons::YesNo);
    QCOMPARE(folder_->ui.shown[0].icon, hm::ui::Icon::Question);
    QCOMPARE(rowTexts(form, 0), (QStringList{QStringLiteral("最初の件名"), QStringLiteral("三番目")}));
    QCOMPARE(form->Text2->text(), QStringLiteral("2"));
    QCOMPARE(form->Text7->text(), QStringLiteral("三番目"));
    QCOMPARE(form->Text8->text(), QStringLiteral("c@example.jp"));
    QCOMPARE(form->Text9->text(), QStringLiteral("2026/12/07  11:00:00"));
    QCOMPARE(form->EditorText(), QStringLiteral("third body\r\nline 2"));
    QVERIFY(!form->SelectionMarked());
    QCOMPARE(storeSize(*folder_, Store::Received), 2 * hm::store::kRecordSize);

    // The store itself moved the third record up.
    QVERIFY(hm::store::ReadRecord(Store::Received, 2));
    QCOMPARE(hm::store::RecordBuffer(Store::Received).Subject, QStringLiteral("三番目"));
}

void TestTyakuForm::deleteOneAnsweredNoKeepsTheStore()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    clickRow(form, 1);
    folder_->ui.answers.enqueue(Answer::No);
    hm::test::click(form->Command3);
    QCOMPARE(storeSize(*folder_, Store::Received), 3 * hm::store::kRecordSize);
    QCOMPARE(form->MailListView->topLevelItemCount(), 3);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    QVERIFY(!form->SelectionMarked());
}

void TestTyakuForm::rowCommandsNeedANewClick()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    for (QPushButton* command : {form->Command2, form->Command3, form->Command4, form->Command5}) {
        clickRow(form, 2);
        folder_->ui.shown.clear();
        if (command == form->Command3)
            folder_->ui.answers.enqueue(Answer::No);
        hm::test::click(command);
        QVERIFY2(!folder_->ui.texts().contains(kNotSelected), qPrintable(command->text()));
        folder_->ui.shown.clear();
        hm::test::click(command);
        QCOMPARE(folder_->ui.texts(), QStringList{kNotSelected});
    }
    QCOMPARE(storeSize(*folder_, Store::Received), 3 * hm::store::kRecordSize);
}

void TestTyakuForm::deleteOneInTheSentHistoryNeedsASelectedRow()
{
    fill(Store::Sent, threeMails());
    TyakuForm* form = open(HistoryMode::Sent);
    // The sent store's buffer is filled by the listing, so the marker test passes, but no
    // row was chosen: nothing may be deleted.
    hm::test::click(form->Command3);
    QCOMPARE(folder_->ui.texts(), QStringList{kNotSelected});
    QCOMPARE(storeSize(*folder_, Store::Sent), 3 * hm::store::kRecordSize);

    folder_->ui.shown.clear();
    clickRow(form, 3);
    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command3);
    QCOMPARE(folder_->ui.texts(),
             QStringList{QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?")});
    QCOMPARE(rowTexts(form, 0), (QStringList{QStringLiteral("最初の件名"), QStringLiteral("Second")}));
    QCOMPARE(storeSize(*folder_, Store::Sent), 2 * hm::store::kRecordSize);
}

void TestTyakuForm::clickInAnEmptyListSaysThereIsNothing()
{
    TyakuForm* form = open(HistoryMode::Received);
    QTest::mouseClick(form->MailListView->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(folder_->ui.texts(), QStringList{QStringLiteral("選択するデータがありません。")});
    QVERIFY(form->SelectionMarked());
    // The marker is set, yet there is no row to delete.
    folder_->ui.shown.clear();
    hm::test::click(form->Command3);
    QCOMPARE(folder_->ui.texts(), QStringList{kNotSelected});
}

void TestTyakuForm::replyFillsTheReplyWindow()
{
    append(Store::Received, {QStringLiteral(" Hello "), QStringLiteral("x@example.jp"), QStringLiteral("d"),
                             QStringLiteral("line one\r\nline two")});
    TyakuForm* form = open(HistoryMode::Received);
    clickRow(form, 1);
    form->Text7->setText(QStringLiteral(" Hello "));
    form->Text8->setText(QStringLiteral("  x@example.jp "));
    hm::test::click(form->Command5);
    BackForm* reply = hm::loadedWindow<BackForm>();
    QVERIFY(reply);
    QVERIFY(reply->isVisible());
    QCOMPARE(reply->SubjectText->text(), QStringLiteral("Re:  Hello"));
    QCOMPARE(reply->ToText->text(), QStringLiteral("x@example.jp"));
    QCOMPARE(reply->BodyText->toPlainText(), QStringLiteral("line one\nline two"));
    QVERIFY(!form->SelectionMarked());
}

void TestTyakuForm::registerPutsTheSenderIntoTheAddressBook()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    clickRow(form, 2);
    form->Text8->setText(QStringLiteral(" b@example.jp"));
    hm::test::click(form->Command4);
    FriendForm* book = hm::loadedWindow<FriendForm>();
    QVERIFY(book);
    QVERIFY(book->isVisible());
    QCOMPARE(book->Text4->text(), QStringLiteral(" b@example.jp"));
}

void TestTyakuForm::quickSaveWritesFourLinesAndAsksBeforeOverwriting()
{
    append(Store::Received, {QStringLiteral("abc"), QStringLiteral("from@example.jp"), QStringLiteral("日付"),
                             QStringLiteral("本文\r\n2行目")});
    TyakuForm* form = open(HistoryMode::Received);
    clickRow(form, 1);
    hm::test::click(form->Command2);
    QVERIFY(folder_->ui.shown.isEmpty());

    const QString file = QStringLiteral("\\■TextQuickSave\\abc.txt");
    const QString expected = QStringLiteral("Subject:  abc\r\nFrom:  from@example.jp\r\nDate:  日付\r\nBody:  本文\r\n2行目");
    QCOMPARE(folder_->read(file), hm::ansi::encode(expected + QStringLiteral("\r\n")));
    QCOMPARE(form->EditorText(), expected);

    // Again after a new click: the question comes first, and No leaves the file alone.
    clickRow(form, 1);
    folder_->ui.answers.enqueue(Answer::No);
    hm::test::click(form->Command2);
    QCOMPARE(folder_->ui.texts(), QStringList{QStringLiteral("同名のファイルが既に存在します。上書きしますか？ ")});
    QCOMPARE(folder_->ui.shown[0].title, QStringLiteral("確認"));
    QCOMPARE(folder_->ui.shown[0].buttons, hm::ui::Buttons::YesNo);
    QCOMPARE(folder_->read(file), hm::ansi::encode(expected + QStringLiteral("\r\n")));

    clickRow(form, 1);
    form->Text9->setText(QStringLiteral("new date"));
    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command2);
    QVERIFY(hm::ansi::decode(folder_->read(file)).contains(QStringLiteral("\r\nDate:  new date\r\n")));
}

void TestTyakuForm::quickSaveWithHostileSubjectsStaysInItsFolder()
{
    append(Store::Received, oneMail());
    TyakuForm* form = open(HistoryMode::Received);
    const QString quickFolder = folder_->file(QStringLiteral("\\■TextQuickSave"));
    // A missing folder is made again.
    QVERIFY(QDir(quickFolder).removeRecursively());
    const QString outside = QFileInfo(folder_->path()).absolutePath();
    const QStringList before = hm::test::filesUnder(folder_->path());

    const QStringList subjects{QStringLiteral("../../x"), QStringLiteral("a/b"), QString(300, QLatin1Char('s')),
                               QString(120, QChar(0x6F22)), QString(), QStringLiteral(".."), QStringLiteral("."),
                               QStringLiteral("tab\there\nnl"), QStringLiteral("a\\..\\b:c*?\"<>|")};
    for (const QString& subject : subjects) {
        clickRow(form, 1);
        form->Text7->setText(subject);
        form->SetEditorText(QStringLiteral("body"));
        hm::test::click(form->Command2);
    }
    QVERIFY2(folder_->ui.shown.isEmpty(), qPrintable(folder_->ui.texts().join(QLatin1Char('|'))));
    QVERIFY(!QFileInfo::exists(outside + QStringLiteral("/x.txt")));

    QStringList added = hm::test::filesUnder(folder_->path());
    for (const QString& f : before)
        added.removeOne(f);
    QCOMPARE(added.size(), subjects.size());
    for (const QString& f : added) {
        QCOMPARE(QFileInfo(f).absolutePath(), QFileInfo(quickFolder).absoluteFilePath());
        QVERIFY(QFileInfo(f).fileName().toUtf8().size() <= 255);
        QFile file(f);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().startsWith("Subject:  "));
    }
    // A plain subject keeps its name.
    clickRow(form, 1);
    form->Text7->setText(QStringLiteral("お知らせ 12月"));
    hm::test::click(form->Command2);
    QVERIFY(QFileInfo::exists(quickFolder + QStringLiteral("/お知らせ 12月.txt")));
}

void TestTyakuForm::quickSaveReportsAFailedWrite()
{
    append(Store::Received, oneMail());
    TyakuForm* form = open(HistoryMode::Received);
    // A folder where the file should go: the write cannot replace it.
    const QString blocker = folder_->file(QStringLiteral("\\■TextQuickSave")) + QStringLiteral("/blocked.txt");
    QVERIFY(QDir().mkpath(blocker));
    clickRow(form, 1);
    form->Text7->setText(QStringLiteral("blocked"));
    form->SetEditorText(QStringLiteral("kept body"));
    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command2);
    QCOMPARE(folder_->ui.shown.size(), 2);
    QVERIFY(folder_->ui.shown[1].text.startsWith(QStringLiteral("ファイルを保存できませんでした。")));
    QCOMPARE(form->EditorText(), QStringLiteral("kept body"));
    QVERIFY(QFileInfo(blocker).isDir());
}

void TestTyakuForm::quickSaveReplacesALinkWithoutWritingThroughIt_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a file elsewhere") << true;
    QTest::newRow("link leading nowhere") << false;
}

void TestTyakuForm::quickSaveReplacesALinkWithoutWritingThroughIt()
{
    QFETCH(bool, targetExists);
    append(Store::Received, oneMail());
    TyakuForm* form = open(HistoryMode::Received);
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("target.txt"));
    if (targetExists) {
        QFile t(target);
        QVERIFY(t.open(QIODevice::WriteOnly) && t.write("precious") == 8);
    }
    const QString file = folder_->file(QStringLiteral("\\■TextQuickSave")) + QStringLiteral("/abc.txt");
    QVERIFY(QFile::link(target, file));
    clickRow(form, 1);
    form->Text7->setText(QStringLiteral("abc"));
    form->SetEditorText(QStringLiteral("body"));
    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command2);

    QCOMPARE(folder_->ui.texts(), QStringList{QStringLiteral("同名のファイルが既に存在します。上書きしますか？ ")});
    const QFileInfo saved(file);
    QVERIFY(!saved.isSymLink());
    QVERIFY(saved.isFile());
    QCOMPARE(saved.permissions() & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(hm::ansi::decode(folder_->read(QStringLiteral("\\■TextQuickSave\\abc.txt"))).startsWith(QStringLiteral("Subject:  abc")));
    if (targetExists) {
        QFile t(target);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QCOMPARE(t.readAll(), QByteArray("precious"));
    } else {
        QVERIFY(!QFileInfo::exists(target));
    }
    QCOMPARE(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(),
             targetExists ? 1 : 0);
}

void TestTyakuForm::deleteAllEmptiesListStoreAndBoxes()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    folder_->ui.answers.enqueue(Answer::No);
    hm::test::click(form->Command6);
    QCOMPARE(folder_->ui.texts(), QStringList{QStringLiteral("すべてのデータを削除して良いですか？")});
    QCOMPARE(storeSize(*folder_, Store::Received), 3 * hm::store::kRecordSize);
    QCOMPARE(form->MailListView->topLevelItemCount(), 3);

    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command6);
    QCOMPARE(form->MailListView->topLevelItemCount(), 0);
    QCOMPARE(form->Text2->text(), QStringLiteral("0"));
    QVERIFY(form->Text7->text().isEmpty());
    QVERIFY(form->Text8->text().isEmpty());
    QVERIFY(form->Text9->text().isEmpty());
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    QVERIFY(QFileInfo::exists(folder_->file(hm::store::storePath(Store::Received))));
    QCOMPARE(storeSize(*folder_, Store::Received), 0);
}

void TestTyakuForm::copyFieldFollowsTheMouseAndCopyButtonUsesIt()
{
    fill(Store::Received, threeMails());
    TyakuForm* form = open(HistoryMode::Received);
    enter(form->Text8);
    QCOMPARE(form->Text6->text(), QStringLiteral("c@example.jp"));
    enter(form->Text7);
    QCOMPARE(form->Text6->text(), QStringLiteral("三番目"));
    hm::test::click(form->Command1);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("三番目"));
}

void TestTyakuForm::helpBoxFollowsTheMouse()
{
    TyakuForm* form = open(HistoryMode::Received);
    QVERIFY(!form->Text4->isVisible());
    enter(form->Command3);
    QVERIFY(form->Text4->isVisible());
    QCOMPARE(form->Text4->toPlainText(),
             QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。"));
    enter(form->Command1);
    QVERIFY(form->Text4->toPlainText().contains(QStringLiteral("出来ます。\n\n 本文への貼り付け")));
    QVERIFY(form->Text4->toPlainText().endsWith(QStringLiteral("可能です。\n\nコピーされる内容は右の欄に反映されます。")));
    enter(form->Text1);
    QVERIFY(form->Text4->toPlainText().startsWith(QStringLiteral("検索したい文字を入力し")));
    // It lies over the body, so it goes as the mouse leaves what it explains.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(form->Text1, &leave);
    QVERIFY(!form->Text4->isVisible());
    enter(form->Text1);

    // Over the editor the box hides and keeps its text; over the list it is emptied too.
    enter(form->rtfEd->viewport());
    QVERIFY(!form->Text4->isVisible());
    QVERIFY(!form->Text4->toPlainText().isEmpty());
    const int h = form->frameGeometry().height() * 15;
    QVERIFY(qAbs(form->Text6->y() * 15 - (h - 1000)) < 30);
    QVERIFY(qAbs(form->Command1->y() * 15 - (h - 980)) < 30);
    enter(form->Command6);
    enter(form->MailListView->viewport());
    QVERIFY(!form->Text4->isVisible());
    QVERIFY(form->Text4->toPlainText().isEmpty());

    // Over the window's own background the copy controls go back onto the status bar.
    const QPointF free = form->Picture1->mapTo(form, QPoint(form->Picture1->width() - 4, 4));
    QMouseEvent move(QEvent::MouseMove, free, form->mapToGlobal(free), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form, &move);
    QCOMPARE(form->Text6->y(), form->StatusBar1->y() + hm::twips(80));
    QCOMPARE(form->Command1->y(), form->StatusBar1->y() + hm::twips(80));
}

void TestTyakuForm::layoutFollowsTheWindowSize()
{
    TyakuForm* form = open(HistoryMode::Received);
    form->resize(900, 700);
    QCoreApplication::processEvents();
    const int W = form->frameGeometry().width() * 15;
    const int H = form->frameGeometry().height() * 15;
    auto near = [](int pixels, int twips) { return qAbs(pixels * 15 - twips) <= 30; };
    QVERIFY(near(form->MailListView->width(), W * 99 / 100));
    QVERIFY(near(form->MailListView->height(), H / 4));
    const int listH = form->MailListView->height() * 15;
    QVERIFY(near(form->Text7->y(), listH + 940));
    QVERIFY(near(form->Text7->width(), W / 2));
    QVERIFY(near(form->Text8->x(), form->Text7->x() * 15 + W / 2));
    QVERIFY(near(form->Text9->x(), form->Text8->x() * 15 + W * 3 / 10 - 20));
    QVERIFY(near(form->rtfEd->y(), listH + 1300));
    QVERIFY(near(form->rtfEd->width(), W * 99 / 100));
    // The editor grows with the window but never runs under the status bar.
    QVERIFY(form->rtfEd->geometry().bottom() < form->StatusBar1->y());
    QVERIFY(form->rtfEd->height() > 150);
    QCOMPARE(form->Command1->x(), hm::twips(1880));
    QCOMPARE(form->Text6->x(), hm::twips(1880 + 3380));

    // Larger than the screen and past its corner, the window comes back inside whole.
    form->resize(2000, 1500);
    form->move(500, 400);
    hm::fitInsideScreen(form);
    QVERIFY(form->screen()->availableGeometry().contains(form->frameGeometry()));
    QVERIFY(form->rtfEd->geometry().bottom() < form->StatusBar1->y());
}

void TestTyakuForm::mailCheckStagingMatchesTheEditor()
{
    // The mail check stores what the editor would give back without filling it per message:
    // the two must agree on every text a message can hold.
    const QString body = QStringLiteral("  本文\r\n二行目\r三行目\n") + QChar(0x2028) + QStringLiteral("x") +
                         QChar(0x2029) + QChar(0x00A0) + QStringLiteral("\t末尾  ");
    hm::history::StagingWindow().StageMessage(QStringLiteral("  件名  "), QStringLiteral(" s@example.jp "),
                                              QStringLiteral(" Tue, 8 Dec 2026 "), body);
    TyakuForm* form = hm::loadedWindow<TyakuForm>();
    QVERIFY(form);
    QCOMPARE(form->EditorText(), hm::history::EditorPlainText(body));
    QCOMPARE(form->Text7->text(), QStringLiteral("  件名  "));
    QCOMPARE(form->Text8->text(), QStringLiteral(" s@example.jp "));
    QCOMPARE(form->Text9->text(), QStringLiteral(" Tue, 8 Dec 2026 "));
    QVERIFY(!form->isVisible());
}

void TestTyakuForm::keyboardShowsTheRowAndNothingUnchosenIsActedOn()
{
    QList<Mail> mails = threeMails();
    mails[2].date = QStringLiteral("Wed, 30 Dec 2026 10:55:23 +0000");
    fill(Store::Received, mails);
    TyakuForm* form = open(HistoryMode::Received);
    // The whole date shows at the default size, in its column and in its box.
    const QModelIndex date = form->MailListView->model()->index(2, 2);
    QVERIFY(form->MailListView->sizeHintForIndex(date).width() <= form->MailListView->columnWidth(2));
    QVERIFY(showsWholeText(form->Text9));
    QCOMPARE(form->Text4->focusPolicy(), Qt::NoFocus);
    // It opens inside the screen, and the list shows From and Date whole within its width.
    QVERIFY(form->screen()->availableGeometry().contains(form->frameGeometry()));
    QVERIFY(form->MailListView->columnViewportPosition(2) + form->MailListView->columnWidth(2)
            <= form->MailListView->viewport()->width());

    // Keyboard moves show the row they reach, so delete one deletes the message on screen.
    clickRow(form, 1);
    QTest::keyClick(form->MailListView, Qt::Key_Down);
    QCOMPARE(form->Text7->text(), QStringLiteral("Second"));
    QTest::keyClick(form->MailListView, Qt::Key_End);
    QCOMPARE(form->Text7->text(), QStringLiteral("三番目"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("third body\nline 2"));
    folder_->ui.answers.enqueue(Answer::Yes);
    hm::test::click(form->Command3);
    QCOMPARE(rowTexts(form, 0), (QStringList{QStringLiteral("最初の件名"), QStringLiteral("Second")}));
    QCOMPARE(folder_->ui.shown.size(), 1);

    // In the sent history a refused delete leaves no marker for reply or quick save to use.
    fill(Store::Sent, threeMails());
    form = open(HistoryMode::Sent);
    for (QPushButton* command : {form->Command3, form->Command5, form->Command2}) {
        folder_->ui.shown.clear();
        hm::test::click(command);
        QCOMPARE(folder_->ui.texts(), QStringList{kNotSelected});
        QVERIFY(!form->SelectionMarked());
    }
    QVERIFY(!hm::loadedWindow<BackForm>());
}

QTEST_MAIN(TestTyakuForm)
#include "test_tyaku_form.moc"
