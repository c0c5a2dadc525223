#include "common/ansi_codec.h"
#include "common/window_registry.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTest>

using hm::emoticons::kPages;

namespace {
QString page(const char* name)
{
    return QStringLiteral("\\顔文字データ\\") + QLatin1String(name);
}

// The compose window as "新規作成" shows it, and the palette its "顔・絵文字" button opens.
KaoForm* openPalette(WriteForm** compose = nullptr)
{
    WriteForm* write = hm::window<WriteForm>();
    write->show();
    hm::test::click(write->Command8);
    if (compose)
        *compose = write;
    return hm::loadedWindow<KaoForm>();
}

void select(QPlainTextEdit* box, int from, int to)
{
    QTextCursor c = box->textCursor();
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    box->setTextCursor(c);
}

// A page's button as the user reaches it: its page brought to the front first.
void click(QPushButton* b)
{
    QVERIFY(b);
    QWidget* page = b->parentWidget();
    for (QWidget* w = page; w; w = w->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(w))
            tabs->setCurrentWidget(page);
    hm::test::click(b);
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Closes every window (the palette saves then) while the test's program folder still exists.
struct WindowsClosed {
    ~WindowsClosed()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        settle();
    }
};

QMap<QString, QByteArray> pageFiles(const hm::test::TestFolder& folder)
{
    QMap<QString, QByteArray> files;
    const QDir dir(folder.file(QStringLiteral("\\顔文字データ")));
    for (const QString& name : dir.entryList(QDir::Files))
        files[name] = folder.read(page(name.toUtf8().constData()));
    return files;
}
} // namespace

class TestKaoForm : public QObject {
    Q_OBJECT
private slots:
    void opensWithEveryPageWhole();
    void insertTrimsIntoTheBodyAndCloses();
    void favouritesLineUpAndPasteReplacesTheSelection();
    void untouchedPagesStayByteForByteAndEditsComeBack();
    void missingPagesUnwritablePagesAndAClosedComposeWindow();
};

void TestKaoForm::opensWithEveryPageWhole()
{
    hm::test::TestFolder folder;
    WindowsClosed closed;
    // A long page loads whole, its last line included.
    QByteArray longPage;
    for (int i = 1; i <= 400; ++i)
        longPage += hm::ansi::encode(QStringLiteral("（＾＿＾）その%1\r\n").arg(i));
    longPage += hm::ansi::encode(QStringLiteral("おしまい"));
    folder.write(page("Text5.txt"), longPage);

    KaoForm* kao = openPalette();
    QVERIFY(kao && kao->isVisible());
    QCOMPARE(kao->windowTitle(), QStringLiteral("絵・顔文字"));
    QCOMPARE(kao->SSTab1->count(), 12);
    QCOMPARE(kao->SSTab1->tabText(7), QStringLiteral("衣料、雑貨、ゲーム、スポーツ"));
    QCOMPARE(kao->SSTab1->tabText(11), QStringLiteral("○お気に入り"));
    // Opened inside this small screen, the tabs scroll; given the room, all twelve captions
    // stand whole and side by side in the window, with no scroll arrows.
    const QTabBar* bar = kao->SSTab1->tabBar();
    QVERIFY(kao->rect().contains(kao->SSTab1->geometry()));
    if (kao->width() < bar->sizeHint().width())
        QVERIFY(kao->SSTab1->usesScrollButtons());
    kao->resize(bar->sizeHint().width() + 40, kao->height());
    QVERIFY(kao->rect().contains(kao->SSTab1->geometry()));
    for (int t = 0; t < 12; ++t) {
        QVERIFY2(bar->rect().contains(bar->tabRect(t)), qPrintable(kao->SSTab1->tabText(t)));
        QVERIFY(bar->fontMetrics().horizontalAdvance(bar->tabText(t)) <= bar->tabRect(t).width());
    }
    for (const QWidget* arrow : bar->findChildren<QWidget*>())
        QVERIFY(!arrow->isVisible());
    QCOMPARE(kao->Pages[5]->document()->blockCount(), 401);
    QCOMPARE(kao->Pages[5]->document()->lastBlock().text(), QStringLiteral("おしまい"));

    // 35 buttons with the window's names and captions.
    int buttons = 0;
    for (int p = 0; p < 12; ++p) {
        QCOMPARE(kao->Pages[p]->objectName(), QLatin1String(kPages[p].box));
        for (auto [name, caption] : {std::pair{kPages[p].insertButton, "新規作成本文に挿入"},
                                     std::pair{kPages[p].pasteButton, "追加（貼付）"},
                                     std::pair{kPages[p].favouriteButton, "お気に入りに追加"}}) {
            if (!name)
                continue;
            auto* b = kao->findChild<QPushButton*>(QLatin1String(name));
            QVERIFY2(b, name);
            QCOMPARE(b->text(), QString::fromUtf8(caption));
            ++buttons;
        }
    }
    QCOMPARE(buttons, 35);
    QCOMPARE(kao->findChildren<QPushButton*>().size(), 35);
    QCOMPARE(kao->Label3.size(), size_t(11));
    QVERIFY(kao->Label3[10]->text().startsWith(QStringLiteral("本文に挿入したい部分")));
    QCOMPARE(kao->Label6->text(), QStringLiteral("文字署名"));
    QCOMPARE(kao->Label7->text(), QStringLiteral("(^-^)なページ"));

    // The installed pages: several hundred lines of pictures, a signature among them.
    int lines = 0;
    for (int p = 0; p < 12; ++p) {
        if (p != 5)
            lines += kao->Pages[p]->document()->blockCount();
    }
    QVERIFY2(lines >= 300, qPrintable(QString::number(lines)));
    QVERIFY(kao->Pages[9]->toPlainText().contains(QStringLiteral("【文字署名】")));
}

void TestKaoForm::insertTrimsIntoTheBodyAndCloses()
{
    hm::test::TestFolder folder;
    WindowsClosed closed;
    WriteForm* write = nullptr;
    QPointer<KaoForm> kao = openPalette(&write);
    write->BodyText->setPlainText(QStringLiteral("前XX後"));
    select(write->BodyText, 1, 3);
    kao->Pages[2]->setPlainText(QStringLiteral("顔たち  (^_^)v  おわり"));
    select(kao->Pages[2], 3, 13);
    click(kao->InsertButtons[2]);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("  (^_^)v  "));
    QCOMPARE(write->BodyText->toPlainText(), QStringLiteral("前(^_^)v後"));
    QVERIFY(!kao->isVisible());
    settle();
    QVERIFY(!kao);

    // Nothing marked: the clipboard is emptied, the body's selection goes, the page's caret
    // goes to the start, and the palette closes.
    kao = openPalette();
    select(write->BodyText, 0, 1);
    kao->Pages[0]->moveCursor(QTextCursor::End);
    click(kao->InsertButtons[0]);
    QCOMPARE(QApplication::clipboard()->text(), QString());
    QCOMPARE(write->BodyText->toPlainText(), QStringLiteral("(^_^)v後"));
    QCOMPARE(kao->Pages[0]->textCursor().position(), 0);
    QVERIFY(!kao->isVisible());
}

void TestKaoForm::favouritesLineUpAndPasteReplacesTheSelection()
{
    hm::test::TestFolder folder;
    WindowsClosed closed;
    KaoForm* kao = openPalette();
    kao->Pages[11]->setPlainText(QStringLiteral("前からの分"));
    // A selection left on the favourites page, out of sight, is not overwritten.
    select(kao->Pages[11], 2, 0);
    kao->SSTab1->setCurrentIndex(1);
    kao->Pages[1]->setPlainText(QStringLiteral(" ☆★☆ \n  ○●○  "));
    select(kao->Pages[1], 0, 5);
    click(kao->FavouriteButtons[1]);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral(" ☆★☆ "));
    QCOMPARE(kao->Pages[1]->textCursor().position(), 5);
    select(kao->Pages[1], 6, 13);
    click(kao->FavouriteButtons[1]);
    QCOMPARE(kao->Pages[11]->toPlainText(), QStringLiteral("☆★☆○●○前からの分"));
    QVERIFY(kao->isVisible());
    QCOMPARE(kao->SSTab1->currentIndex(), 1);

    // A paste replaces the page's selection with the clipboard, spaces removed.
    QApplication::clipboard()->setText(QStringLiteral("  (^o^)/  "));
    kao->Pages[3]->setPlainText(QStringLiteral("はる なつ あき"));
    select(kao->Pages[3], 3, 5);
    click(kao->PasteButtons[3]);
    QCOMPARE(kao->Pages[3]->toPlainText(), QStringLiteral("はる (^o^)/ あき"));
    QVERIFY(kao->isVisible());
}

void TestKaoForm::untouchedPagesStayByteForByteAndEditsComeBack()
{
    hm::test::TestFolder folder;
    WindowsClosed closed;
    // Bytes the box would not give back as they are: a bare LF, a lone CR, no CP932.
    folder.write(page("Text4.txt"), QByteArray("a\nb\rc\x81\xff" "d"));
    const auto before = pageFiles(folder);
    QCOMPARE(before.size(), 12);
    openPalette()->close();
    settle();
    QCOMPARE(pageFiles(folder), before);

    // An edit, saved when an insert closes the palette, is found on the next opening; the
    // lower-case name written is the same file as the capitalised one read.
    KaoForm* kao = openPalette();
    kao->Pages[1]->setPlainText(QStringLiteral("新しい線\n～～～"));
    click(kao->InsertButtons[1]);
    settle();
    const auto after = pageFiles(folder);
    QCOMPARE(after.keys(), before.keys());
    QCOMPARE(after[QStringLiteral("Text1.txt")], hm::ansi::encode(QStringLiteral("新しい線\r\n～～～")));
    QCOMPARE(openPalette()->Pages[1]->toPlainText(), QStringLiteral("新しい線\n～～～"));
}

void TestKaoForm::missingPagesUnwritablePagesAndAClosedComposeWindow()
{
    hm::test::TestFolder folder;
    WindowsClosed closed;
    QVERIFY(QFile::remove(folder.file(page("Text2.txt"))));
    // A folder where the page should be: it can be neither read nor replaced.
    const QString blocked = folder.file(page("Text3.txt"));
    QVERIFY(QFile::remove(blocked));
    QVERIFY(QDir().mkdir(blocked));

    WriteForm* write = nullptr;
    KaoForm* kao = openPalette(&write);
    QVERIFY(kao->Pages[2]->toPlainText().isEmpty());
    QVERIFY(kao->Pages[3]->toPlainText().isEmpty());
    kao->Pages[0]->setPlainText(QStringLiteral("かお"));
    kao->Pages[2]->setPlainText(QStringLiteral("あたらしい"));
    kao->Pages[3]->setPlainText(QStringLiteral("きえない"));
    kao->Pages[3]->selectAll();

    // The compose window closes first; the insert then only closes the palette and saves.
    write->BodyText->setPlainText(QStringLiteral("本文"));
    write->close();
    settle();
    QVERIFY(!hm::loadedWindow<WriteForm>());
    click(kao->InsertButtons[3]);
    QVERIFY(!hm::loadedWindow<WriteForm>());

    QCOMPARE(folder.ui.shown.size(), 1);
    QVERIFY2(folder.ui.shown[0].text.contains(blocked), qPrintable(folder.ui.shown[0].text));
    QCOMPARE(folder.read(page("Kao1.txt")), hm::ansi::encode(QStringLiteral("かお")));
    QCOMPARE(folder.read(page("Text2.txt")), hm::ansi::encode(QStringLiteral("あたらしい")));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("きえない"));
}

QTEST_MAIN(TestKaoForm)
#include "test_kao_form.moc"
