#include "common/twips.h"
#include "common/window_registry.h"
#include "compose/back_form.h"
#include "common/form_geometry.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

namespace {
void closeAll()
{
    if (BackForm* f = hm::loadedWindow<BackForm>()) {
        f->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

int widthTwips(const QWidget* w)
{
    return w->width() * 15;
}
} // namespace

class TestBackForm : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { closeAll(); }
    void replyIsFilledFromTheAnsweredMessage();
    void pastePutsTheClipboardAboveTheAnsweredBody();
    void attachmentsStayAcrossReplies();
    void layoutFollowsTheWindowSize();
    void pasteFillsTheBodyItselfAndTheBodyFitsTheWindow();
};

void TestBackForm::replyIsFilledFromTheAnsweredMessage()
{
    hm::test::TestFolder folder;
    BackForm* form = hm::compose::OpenReply(QStringLiteral("  会議の件  "), QStringLiteral(" taro@example.jp "),
                                            QStringLiteral("  本文です。\r\n二行目　"));
    QCOMPARE(form->windowTitle(), QStringLiteral("返事を書く"));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Re:  会議の件"));
    QCOMPARE(form->ToText->text(), QStringLiteral("taro@example.jp"));
    // Only ASCII spaces are trimmed; the ideographic space stays.
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("本文です。\n二行目　"));
    QVERIFY(form->List2->isHidden());
    QVERIFY(form->Command9->isEnabled());

    // Answering an answer stacks the prefix; the same window is reused.
    BackForm* again = hm::compose::OpenReply(QStringLiteral("Re: 会議の件"), QStringLiteral("b@example.jp"),
                                             QStringLiteral("x"));
    QCOMPARE(again, form);
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Re:  Re: 会議の件"));
    QCOMPARE(form->ToText->text(), QStringLiteral("b@example.jp"));
}

void TestBackForm::pastePutsTheClipboardAboveTheAnsweredBody()
{
    hm::test::TestFolder folder;
    BackForm* form = hm::compose::OpenReply(QStringLiteral("件名"), QStringLiteral("a@example.jp"),
                                            QStringLiteral(" 元の本文\r\n２行目 "));
    form->BodyText->setPlainText(QStringLiteral("書きかけの返事"));
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->setText(QStringLiteral("  了解しました。"));
    hm::test::click(form->Command4);

    const QString expected = QStringLiteral("  了解しました。\r\n\r\n\r\n\r元の本文\r\n２行目");
    QCOMPARE(clipboard->text(), expected);
    // The typed answer is gone; the body is the clipboard text trimmed.
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("了解しました。\n\n\n\n元の本文\n２行目"));

    // With an empty clipboard only the break and the answered body remain.
    clipboard->clear();
    hm::test::click(form->Command4);
    QCOMPARE(clipboard->text(), QStringLiteral("\r\n\r\n\r\n\r元の本文\r\n２行目"));
}

void TestBackForm::attachmentsStayAcrossReplies()
{
    hm::test::TestFolder folder;
    BackForm* form = hm::compose::OpenReply(QStringLiteral("s"), QStringLiteral("a@example.jp"), QStringLiteral("b"));
    // "追加" before any file only shows the list.
    hm::test::click(form->Command9);
    QVERIFY(folder.ui.fileDialogs.isEmpty());
    QVERIFY(form->List2->isVisible());

    folder.ui.fileNames << QStringLiteral("/tmp/a.txt") << QStringLiteral("/tmp/b.txt");
    hm::test::click(form->AttachCommand);
    QVERIFY(!form->AttachCommand->isEnabled());
    hm::test::click(form->Command9);
    QCOMPARE(form->AttachText->text(), QStringLiteral("/tmp/a.txt,/tmp/b.txt"));
    // The list covers neither the body nor the buttons beside its box.
    for (QWidget* w : std::initializer_list<QWidget*>{form->BodyText, form->AttachCommand, form->Command9,
                                                      form->Command10})
        QVERIFY2(!form->List2->geometry().intersects(w->geometry()), qPrintable(w->objectName()));
    QVERIFY(form->rect().contains(form->BodyText->geometry()));

    hm::compose::OpenReply(QStringLiteral("t"), QStringLiteral("c@example.jp"), QStringLiteral("d"));
    QCOMPARE(form->AttachText->text(), QStringLiteral("/tmp/a.txt,/tmp/b.txt"));
    QCOMPARE(form->List2->count(), 2);

    hm::test::click(form->Command10);
    QVERIFY(form->AttachText->text().isEmpty());
    QVERIFY(form->List2->isHidden());
    QVERIFY(!form->Command9->isEnabled());
    QVERIFY(form->AttachCommand->isEnabled());

    // Closed, the next reply starts without attachments.
    QPointer<BackForm> old = form;
    folder.ui.fileNames << QStringLiteral("/tmp/c.txt");
    hm::test::click(form->AttachCommand);
    hm::test::click(form->Command3);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    BackForm* fresh = hm::compose::OpenReply(QStringLiteral("u"), QStringLiteral("e@example.jp"), QStringLiteral("f"));
    QVERIFY(fresh->AttachText->text().isEmpty());
    QVERIFY(fresh->AttachCommand->isEnabled());
}

void TestBackForm::layoutFollowsTheWindowSize()
{
    hm::test::TestFolder folder;
    BackForm* form = hm::compose::OpenReply(QStringLiteral("s"), QStringLiteral("a@example.jp"), QStringLiteral("b"));
    const int toTop = form->ToText->y();
    const int bodyTop = form->BodyText->y();

    hm::setOuterSizeTwips(form, 9000, 6000);
    QApplication::processEvents();
    QCOMPARE(hm::outerWidthTwips(form), 9000);
    // 0.99 of the outer width, but never past the client area (8,880 here).
    QVERIFY(qAbs(widthTwips(form->BodyText) - 8880) < 15);
    QVERIFY(qAbs(widthTwips(form->ToText) - 6300) < 15);
    QVERIFY(qAbs(widthTwips(form->SubjectText) - 6300) < 15);
    QVERIFY(qAbs(widthTwips(form->AttachText) - 3600) < 15);
    QVERIFY(qAbs(form->AttachCommand->x() * 15 - 4840) < 15);
    QVERIFY(qAbs(form->Command9->x() * 15 - 5660) < 15);
    QVERIFY(qAbs(form->Command10->x() * 15 - 6540) < 15);
    const int h = hm::outerHeightTwips(form);
    QVERIFY(qAbs(form->BodyText->height() * 15 - (h - 900 - 1500)) < 15);
    QCOMPARE(form->ToText->y(), toTop);
    QCOMPARE(form->BodyText->y(), bodyTop);

    // At 3,500 twips or less only the widths follow.
    const int bodyHeight = form->BodyText->height();
    hm::setOuterSizeTwips(form, 6000, 3450);
    QApplication::processEvents();
    QCOMPARE(form->BodyText->height(), bodyHeight);
    QVERIFY(qAbs(widthTwips(form->BodyText) - 5880) < 15);
    QVERIFY(qAbs(widthTwips(form->ToText) - 4200) < 15);
}

void TestBackForm::pasteFillsTheBodyItselfAndTheBodyFitsTheWindow()
{
    hm::test::TestFolder folder;
    BackForm* form = hm::compose::OpenReply(QStringLiteral("s"), QStringLiteral("a@example.jp"), QStringLiteral("元の本文"));
    QCOMPARE(form->BodyText->geometry().right(), form->width() - 1);

    // A clipboard manager that takes over every new content: the body does not depend on it.
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->setText(QStringLiteral("了解です。"));
    QStringList offered;
    const auto manager = connect(clipboard, &QClipboard::dataChanged, [&] {
        if (!clipboard->text().isEmpty() && clipboard->text() != QStringLiteral("managed")) {
            offered << clipboard->text();
            clipboard->setText(QStringLiteral("managed"));
        }
    });
    hm::test::click(form->Command4);
    disconnect(manager);
    QCOMPARE(offered, QStringList{QStringLiteral("了解です。\r\n\r\n\r\n\r元の本文")});
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("了解です。\n\n\n\n元の本文"));
}

QTEST_MAIN(TestBackForm)
#include "test_back_form.moc"
