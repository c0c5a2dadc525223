#include "common/ansi_codec.h"
#include "common/document_printer.h"
#include "common/text_accessibility.h"
#include "common/window_registry.h"
#include "history/editor_text.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "store/mail_store.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolBar>

using hm::history::editorState;
using hm::ui::Answer;

namespace {

TyakuForm* openWindow()
{
    TyakuForm* form = hm::history::OpenHistory(hm::history::HistoryMode::Received);
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowExposed(form))
        qWarning("history window not exposed");
    return form;
}

void closeWindow()
{
    if (TyakuForm* w = hm::loadedWindow<TyakuForm>()) {
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

struct Selection {
    int start, length;
    bool operator==(const Selection&) const = default;
};

Selection selection(const QTextEdit* e)
{
    const QTextCursor c = e->textCursor();
    return {c.selectionStart(), c.selectionEnd() - c.selectionStart()};
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The tool bar's button for a command, as the user clicks it.
QWidget* toolButton(TyakuForm* form, const QString& key)
{
    return form->tbToolBar->widgetForAction(form->tbToolBar->findChild<QAction*>(key));
}
} // namespace

class TestBodyEditor : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        folder_ = std::make_unique<hm::test::TestFolder>();
        editorState() = {};
        // Every flow runs the editor the way a user does; none may leave a cursor out of its text.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("^QTextCursor::")));
        savedCwd_ = QDir::currentPath();
        QDir::setCurrent(work_.path());
    }
    void cleanup()
    {
        closeWindow();
        QDir::setCurrent(savedCwd_);
        for (const QString& f : QDir(work_.path()).entryList(QDir::Files))
            QFile::remove(work_.filePath(f));
        folder_.reset();
    }

    void searchSelectsExactMatchesInTurn();
    void searchWorksBeyondSixteenBitPositions();
    void searchNextWithoutSearchTextDoesNothing();
    void copyCutAndPasteFollowTheClipboardRules();
    void selectAllAndJumps();
    void newNamesTheNewFileAndWritesNothing();
    void newSavesModifiedTextToTheCurrentFile();
    void openReadsLinesAsCp932();
    void saveAsWritesTheHeaderBlockAndCancelWritesNothing();
    void printWritesThroughThePrintDialog();
    void fontSwitchesCountTheirClicks();
    void modifiedFlagAndStartUpLoad();
    void closeCommandUnloadsTheWindow();
    void screenReaderQueriesStayInsideTheText_data();
    void screenReaderQueriesStayInsideTheText();

private:
    std::unique_ptr<hm::test::TestFolder> folder_;
    QTemporaryDir work_;
    QString savedCwd_;
};

void TestBodyEditor::searchSelectsExactMatchesInTurn()
{
    TyakuForm* form = openWindow();
    form->SetEditorText(QStringLiteral("xxabyyab"));
    form->Text1->setText(QStringLiteral("ab"));
    hm::test::trigger(form->mkensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{2, 2}));
    QCOMPARE(editorState().lastMatch, 3);
    hm::test::trigger(form->mtugikensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{6, 2}));
    hm::test::trigger(form->mtugikensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{6, 2}));
    QCOMPARE(editorState().lastMatch, 0);

    // Case and width both matter.
    form->SetEditorText(QStringLiteral("xxab ａｂ"));
    form->Text1->setText(QStringLiteral("AB"));
    hm::test::trigger(form->mkensaku);
    QCOMPARE(editorState().lastMatch, 0);
    QCOMPARE(selection(form->rtfEd).length, 0);
    form->Text1->setText(QStringLiteral("ａｂ"));
    hm::test::trigger(form->mkensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{5, 2}));

    // Through the menu too, across line ends.
    form->SetEditorText(QStringLiteral("一行目\r\n二行目の語"));
    form->Text1->setText(QStringLiteral("語"));
    hm::test::trigger(form->mkensaku);
    QCOMPARE(form->rtfEd->textCursor().selectedText(), QStringLiteral("語"));
    QCOMPARE(selection(form->rtfEd), (Selection{8, 1}));
}

void TestBodyEditor::searchWorksBeyondSixteenBitPositions()
{
    TyakuForm* form = openWindow();
    const QString text = QString(40000, QLatin1Char('x')) + QStringLiteral("needle") + QString(5000, QLatin1Char('y'))
        + QStringLiteral("needle");
    form->SetEditorText(text);
    form->Text1->setText(QStringLiteral("needle"));
    hm::test::trigger(form->mkensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{40000, 6}));
    QCOMPARE(editorState().lastMatch, 40001);
    hm::test::trigger(form->mtugikensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{45006, 6}));
}

void TestBodyEditor::searchNextWithoutSearchTextDoesNothing()
{
    TyakuForm* form = openWindow();
    form->SetEditorText(QStringLiteral("abc abc"));
    form->Text1->setText(QStringLiteral("bc"));
    hm::test::trigger(form->mkensaku);
    form->Text1->clear();
    hm::test::trigger(form->mtugikensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{1, 2}));
    QCOMPARE(editorState().lastMatch, 2);
    hm::test::trigger(form->mkensaku);
    QCOMPARE(selection(form->rtfEd), (Selection{1, 2}));
}

void TestBodyEditor::copyCutAndPasteFollowTheClipboardRules()
{
    TyakuForm* form = openWindow();
    QClipboard* clipboard = QGuiApplication::clipboard();
    form->SetEditorText(QStringLiteral("hello world"));

    // Copy without a selection empties the clipboard and moves the caret to the start.
    clipboard->setText(QStringLiteral("old"));
    QTextCursor c = form->rtfEd->textCursor();
    c.setPosition(5);
    form->rtfEd->setTextCursor(c);
    hm::test::trigger(form->mcopy);
    QVERIFY(clipboard->text().isEmpty());
    QCOMPARE(form->rtfEd->textCursor().position(), 0);

    c.setPosition(6);
    c.setPosition(11, QTextCursor::KeepAnchor);
    form->rtfEd->setTextCursor(c);
    hm::test::trigger(form->mcopy);
    QCOMPARE(clipboard->text(), QStringLiteral("world"));
    QVERIFY(!form->rtfEd->textCursor().hasSelection());
    QCOMPARE(form->rtfEd->textCursor().position(), 11);

    c.setPosition(0);
    c.setPosition(6, QTextCursor::KeepAnchor);
    form->rtfEd->setTextCursor(c);
    hm::test::click(toolButton(form, QStringLiteral("Cut")));
    QCOMPARE(clipboard->text(), QStringLiteral("hello "));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("world"));

    // Paste drops the spaces around the clipboard's text and replaces the selection.
    clipboard->setText(QStringLiteral("  word  "));
    c = form->rtfEd->textCursor();
    c.setPosition(0);
    c.setPosition(5, QTextCursor::KeepAnchor);
    form->rtfEd->setTextCursor(c);
    hm::test::trigger(form->mpaste);
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("word"));
    clipboard->setText(QStringLiteral(" 行1\n行2 "));
    hm::test::trigger(form->mpaste);
    QCOMPARE(form->EditorText(), QStringLiteral("word行1\r\n行2"));
}

void TestBodyEditor::selectAllAndJumps()
{
    TyakuForm* form = openWindow();
    form->SetEditorText(QStringLiteral("abc\r\ndef"));
    hm::test::trigger(form->mall);
    QCOMPARE(selection(form->rtfEd), (Selection{0, 7}));
    hm::test::trigger(form->mbunmatujump);
    QCOMPARE(form->rtfEd->textCursor().position(), 7);
    hm::test::trigger(form->matamajump);
    QCOMPARE(form->rtfEd->textCursor().position(), 0);
    QVERIFY(!form->rtfEd->textCursor().hasSelection());
}

void TestBodyEditor::newNamesTheNewFileAndWritesNothing()
{
    const QString name = QStringLiteral("新規作成.TXT");
    TyakuForm* form = openWindow();
    const QStringList programFiles = hm::test::filesUnder(folder_->path());
    form->SetEditorText(QStringLiteral("typed text"));
    hm::test::trigger(form->mnew);
    QCOMPARE(editorState().currentFile, name);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
    QVERIFY(!editorState().modified);
    QCOMPARE(form->windowTitle(), name);
    // Nothing is written until the user saves: not here, not in the program folder.
    QVERIFY(QDir(work_.path()).entryList(QDir::Files).isEmpty());
    QCOMPARE(hm::test::filesUnder(folder_->path()), programFiles);

    // The second press does nothing: the current file already is the new file.
    form->SetEditorText(QStringLiteral("more"));
    hm::test::click(toolButton(form, QStringLiteral("New")));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("more"));

    // A file of that name is left as it is, without a question.
    closeWindow();
    editorState() = {};
    hm::test::writeFile(work_.filePath(name), "kept");
    form = openWindow();
    hm::test::trigger(form->mnew);
    QVERIFY(folder_->ui.shown.isEmpty());
    QCOMPARE(readFile(work_.filePath(name)), QByteArray("kept"));
}

void TestBodyEditor::newSavesModifiedTextToTheCurrentFile()
{
    QTemporaryDir docs;
    const QString current = docs.filePath(QStringLiteral("memo.txt"));
    hm::test::writeFile(current, "old");
    editorState().currentFile = current;
    TyakuForm* form = hm::window<TyakuForm>();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("old"));
    form->SetEditorText(QStringLiteral("メモ\r\n二行"));
    QVERIFY(editorState().modified);
    hm::test::trigger(form->mnew);
    QCOMPARE(readFile(current), hm::ansi::encode(QStringLiteral("メモ\r\n二行")));
    QCOMPARE(editorState().currentFile, docs.filePath(QStringLiteral("新規作成.TXT")));
    QVERIFY(!QFileInfo::exists(editorState().currentFile));
}

void TestBodyEditor::openReadsLinesAsCp932()
{
    TyakuForm* form = openWindow();
    const QString withEnd = work_.filePath(QStringLiteral("with.txt"));
    const QString withoutEnd = work_.filePath(QStringLiteral("without.txt"));
    hm::test::writeFile(withEnd, hm::ansi::encode(QStringLiteral("a\r\nb\r\n")));
    hm::test::writeFile(withoutEnd, hm::ansi::encode(QStringLiteral("漢字①\nb")));

    folder_->ui.fileNames.enqueue(withEnd);
    hm::test::trigger(form->mopen);
    QCOMPARE(form->EditorText(), QStringLiteral("a\r\nb\r\n"));
    QCOMPARE(form->windowTitle(), withEnd);
    folder_->ui.fileNames.enqueue(withoutEnd);
    hm::test::click(toolButton(form, QStringLiteral("Open")));
    QCOMPARE(form->EditorText(), QStringLiteral("漢字①\r\nb\r\n"));
    QVERIFY(editorState().currentFile.isEmpty());

    // Cancel and a missing file change nothing and say nothing.
    hm::test::trigger(form->mopen);
    folder_->ui.fileNames.enqueue(work_.filePath(QStringLiteral("missing.txt")));
    hm::test::trigger(form->mopen);
    QCOMPARE(form->EditorText(), QStringLiteral("漢字①\r\nb\r\n"));
    QCOMPARE(form->windowTitle(), withoutEnd);
    QVERIFY(folder_->ui.shown.isEmpty());
}

void TestBodyEditor::saveAsWritesTheHeaderBlockAndCancelWritesNothing()
{
    TyakuForm* form = openWindow();
    form->Text7->setText(QStringLiteral("件名"));
    form->Text8->setText(QStringLiteral("f@example.jp"));
    form->Text9->setText(QStringLiteral("date"));
    form->SetEditorText(QStringLiteral("body"));
    const QStringList before = QDir(work_.path()).entryList(QDir::Files);

    hm::test::trigger(form->msave); // cancelled
    const QString header = QStringLiteral("Subject:  件名\r\nFrom:  f@example.jp\r\nDate:  date\r\nBody:  ");
    QCOMPARE(form->EditorText(), header + QStringLiteral("body"));
    QCOMPARE(folder_->ui.fileDialogs.size(), 1);
    QCOMPARE(QDir(work_.path()).entryList(QDir::Files), before);
    QVERIFY(folder_->ui.shown.isEmpty());

    const QString target = work_.filePath(QStringLiteral("saved.txt"));
    folder_->ui.fileNames.enqueue(target);
    hm::test::click(toolButton(form, QStringLiteral("Save")));
    QCOMPARE(form->windowTitle(), target);
    QCOMPARE(readFile(target), hm::ansi::encode(header + header + QStringLiteral("body\r\n")));
    QVERIFY(editorState().currentFile.isEmpty());

    // A write that fails is reported, not passed over.
    folder_->ui.fileNames.enqueue(work_.filePath(QStringLiteral("no/such/dir.txt")));
    hm::test::trigger(form->msave);
    QCOMPARE(folder_->ui.shown.size(), 1);
    QVERIFY(folder_->ui.shown[0].text.startsWith(QStringLiteral("ファイルを保存できませんでした。")));
}

void TestBodyEditor::printWritesThroughThePrintDialog()
{
    TyakuForm* form = openWindow();
    form->SetEditorText(QStringLiteral("印刷する本文\r\n二行目"));
    hm::test::click(toolButton(form, QStringLiteral("Print"))); // dialog cancelled
    const QString pdf = work_.filePath(QStringLiteral("out.pdf"));
    QVERIFY(!QFileInfo::exists(pdf));
    folder_->ui.printPdfPath = pdf;
    hm::test::click(toolButton(form, QStringLiteral("Print")));
    QVERIFY(readFile(pdf).startsWith("%PDF"));
    QFile::remove(pdf);
    hm::test::trigger(form->mall);
    hm::test::trigger(form->mprint);
    QVERIFY(QFileInfo(pdf).size() > 0);
    QVERIFY(folder_->ui.shown.isEmpty());

    // Printing comes from its own module: without it a print names the file and prints nothing.
    QFile::remove(pdf);
    const QString missing = work_.filePath(QStringLiteral("hayatemail-print.so"));
    hm::ui::setPrintModulePath(missing);
    hm::test::trigger(form->mprint);
    QVERIFY(!QFileInfo::exists(pdf));
    QCOMPARE(folder_->ui.shown.size(), 1);
    QVERIFY(folder_->ui.shown[0].text.startsWith(QStringLiteral("印刷のモジュールを読み込めないため")));
    QVERIFY(folder_->ui.shown[0].text.contains(missing));
}

void TestBodyEditor::fontSwitchesCountTheirClicks()
{
    TyakuForm* form = openWindow();
    for (int i = 0; i < 3; ++i)
        hm::test::click(toolButton(form, QStringLiteral("Bold")));
    QVERIFY(form->rtfEd->font().bold());
    QCOMPARE(editorState().boldCount, 1);
    hm::test::click(toolButton(form, QStringLiteral("Italic")));
    QVERIFY(form->rtfEd->font().italic());
    hm::test::click(toolButton(form, QStringLiteral("Italic")));
    QVERIFY(!form->rtfEd->font().italic());
    QCOMPARE(editorState().italicCount, 2);
    hm::test::click(toolButton(form, QStringLiteral("Underline")));
    QVERIFY(form->rtfEd->font().underline());
    QVERIFY(form->rtfEd->font().bold());
    // Unknown keys do nothing.
    form->SetEditorText(QStringLiteral("same"));
    form->tbToolBar_ButtonClick(QStringLiteral("Nothing"));
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("same"));
}

void TestBodyEditor::modifiedFlagAndStartUpLoad()
{
    // No current file: the start-up load is skipped without a question.
    TyakuForm* form = openWindow();
    QVERIFY(folder_->ui.shown.isEmpty());
    form->SetEditorText(QStringLiteral("x"));
    QVERIFY(editorState().modified);
    closeWindow();

    const QString current = work_.filePath(QStringLiteral("current.txt"));
    hm::test::writeFile(current, hm::ansi::encode(QStringLiteral("保存された\r\n本文")));
    editorState().currentFile = current;
    form = hm::window<TyakuForm>();
    QCOMPARE(form->rtfEd->toPlainText(), QStringLiteral("保存された\n本文"));
    QVERIFY(!editorState().modified);
    QVERIFY(folder_->ui.shown.isEmpty());
    closeWindow();

    // A current file that cannot be read asks: OK tries again, Cancel goes on.
    QFile::remove(current);
    folder_->ui.answers << Answer::Ok << Answer::Cancel;
    form = hm::window<TyakuForm>();
    QCOMPARE(folder_->ui.shown.size(), 2);
    QVERIFY(folder_->ui.shown[0].text.isEmpty());
    QVERIFY(folder_->ui.shown[0].title.endsWith(QStringLiteral("  Form_LoadError")));
    QCOMPARE(folder_->ui.shown[0].buttons, hm::ui::Buttons::OkCancel);
    QVERIFY(form->rtfEd->toPlainText().isEmpty());
}

void TestBodyEditor::closeCommandUnloadsTheWindow()
{
    QPointer<TyakuForm> form = openWindow();
    hm::test::trigger(form->mend);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(form.isNull());
    QVERIFY(!hm::loadedWindow<TyakuForm>());
}

void TestBodyEditor::screenReaderQueriesStayInsideTheText_data()
{
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("text");
    QTest::newRow("body, empty") << QStringLiteral("rtfEd") << QString();
    QTest::newRow("body") << QStringLiteral("rtfEd") << QStringLiteral("件名について\n二行目");
    QTest::newRow("help box, empty") << QStringLiteral("Text4") << QString();
    QTest::newRow("help box") << QStringLiteral("Text4") << QStringLiteral("件名について\n二行目");
}

// A screen reader asks for the caret's place at the end of the text, the text before its
// start and ranges of a text that has since changed; init() fails the test on a cursor warning.
void TestBodyEditor::screenReaderQueriesStayInsideTheText()
{
    QFETCH(QString, editor);
    QFETCH(QString, text);
    hm::installTextAccessibility();
    TyakuForm* form = openWindow();
    auto* w = form->findChild<QWidget*>(editor);
    QVERIFY(w);
    w->show();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    QAccessibleTextInterface* t = a ? a->textInterface() : nullptr;
    QVERIFY(t);
    a->setText(QAccessible::Value, text); // read-only help box: refused
    if (editor == QLatin1String("Text4"))
        QMetaObject::invokeMethod(w, "setPlainText", Q_ARG(QString, text));
    const int n = int(text.size());
    QCOMPARE(t->characterCount(), n);
    int s = 0, e = 0;
    for (int offset : {-1, 0, n, n + 30}) {
        for (auto b : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::LineBoundary,
                       QAccessible::ParagraphBoundary}) {
            t->textBeforeOffset(offset, b, &s, &e);
            t->textAtOffset(offset, b, &s, &e);
            t->textAfterOffset(offset, b, &s, &e);
        }
        t->characterRect(offset);
        t->attributes(offset, &s, &e);
        t->text(offset, n + 30);
    }
    QCOMPARE(t->text(2, n + 30), text.mid(2));
    t->setSelection(0, 1, n + 30);
    QCOMPARE(t->text(0, -1), text);
    if (n == 0)
        return;
    QCOMPARE(t->cursorPosition(), n);
    QCOMPARE(t->textAtOffset(n, QAccessible::LineBoundary, &s, &e), QStringLiteral("二行目"));
    QCOMPARE(t->textBeforeOffset(n, QAccessible::LineBoundary, &s, &e), QStringLiteral("件名について\n"));
    // The caret's place after the last character has a place on the screen, right of it.
    const QRect end = t->characterRect(n), last = t->characterRect(n - 1);
    QVERIFY(end.isValid() && end.left() >= last.right());
    QCOMPARE(t->offsetAtPoint(t->characterRect(1).center()), 1);
}

QTEST_MAIN(TestBodyEditor)
#include "test_body_editor.moc"
