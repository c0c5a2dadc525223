#include "app/command_label.h"
#include "app/main_form.h"
#include "common/clock_text.h"
#include "common/japanese_font.h"
#include "common/japanese_translations.h"
#include "common/ui_services.h"
#include "common/window_registry.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "compose/write_form.h"
#include <QCheckBox>
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QRegularExpression>

namespace {
void closeAll()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!qobject_cast<MainForm*>(w))
            w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A plain mouse move at pos of w, as the window system would deliver it.
void hover(QWidget* w, QPoint pos = QPoint(2, 2))
{
    QMouseEvent move(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &move);
}

bool isCyan(QLabel* l)
{
    return l->styleSheet().contains(QStringLiteral("#00ffff"));
}
} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void init() { hm::settings::account() = {}; }
    void cleanup() { closeAll(); }

    void startsWithEffectDisplayAndServerWindowWhenNoServer();
    void knownServerOpensNoServerWindow();
    void hoverColoursAndHelpLine();
    void newMailPictureReplacesTheDisplay();
    void clockTextFeedsSentRecords();
    void shutdownEndsAtOnceWithoutOtherWindowsClosing();
    void homePageOpensABrowserEachClick();
    void captionsRenderInAJapaneseFont();
    void standardDialogsAreJapaneseDisabledCommandsGreyAndTheClockOutlivesTheWindow();
};

void TestMainForm::startsWithEffectDisplayAndServerWindowWhenNoServer()
{
    hm::test::TestFolder folder;
    MainForm form;
    QVERIFY(form.Form_Load());
    QCOMPARE(form.windowTitle(), QStringLiteral("倦まぬ情熱、弛まぬ活力、疾風メールぜよっ！！"));
    QCOMPARE(form.Text1->text(), QStringLiteral("Ver 1.0"));
    QVERIFY(form.Label13->isEnabled());
    QVERIFY(!form.Label14->isEnabled());
    QVERIFY(form.Label8->isEnabled() && form.Label9->isEnabled());
    QVERIFY(form.Image3->isHidden());
    QVERIFY(!form.Display->isHidden());
    QCOMPARE(form.pos(), QPoint(0, 0));
    QCOMPARE(form.effectPictures.size(), 3);
    QVERIFY(form.effectPictures[2].endsWith(QStringLiteral("/疾風データ/3.jpg")));
    QCOMPARE(form.effectCounter, 1);
    QCOMPARE(form.Display->size(), QSize(200, 320));
    QVERIFY(form.Text2->geometry().bottom() < 0); // outside the visible area
    auto* compose = hm::loadedWindow<WriteForm>();
    QVERIFY(compose && compose->isHidden());
    QVERIFY(!compose->Check1->isChecked());
    auto* option = hm::loadedWindow<OptionForm>();
    QVERIFY(option && option->isVisible());
    QVERIFY(folder.ui.shown.isEmpty()); // start-up shows no message of its own
}

void TestMainForm::knownServerOpensNoServerWindow()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=pop.example.jp\r\nAPOP=1\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    QCOMPARE(hm::settings::account().Pop3Server, QStringLiteral("pop.example.jp"));
    QCOMPARE(hm::settings::account().ApopFlag, qint16(1));
    QVERIFY(hm::settings::account().SmtpServer.isEmpty());
    QVERIFY(!hm::loadedWindow<OptionForm>());
}

void TestMainForm::hoverColoursAndHelpLine()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    hover(form.Label9);
    QCOMPARE(form.Label2->text(), QStringLiteral("メールの新規作成・送信を行います。"));
    QVERIFY(isCyan(form.Label9));
    hover(form.Label8);
    QCOMPARE(form.Label2->text(), QStringLiteral("新着メールの受信を行います。"));
    QVERIFY(isCyan(form.Label9)); // the label left behind stays cyan
    QVERIFY(isCyan(form.Label8));
    hover(form.Display);
    QCOMPARE(form.Label2->text(), QStringLiteral("新着メールの受信を行います。"));
    QVERIFY(isCyan(form.Label9));
    // Only the window's own background resets everything.
    const QPoint background(form.width() - 2, form.height() - 2);
    QVERIFY(!form.childAt(background));
    hover(&form, background);
    QVERIFY(form.Label2->text().isEmpty());
    QVERIFY(!isCyan(form.Label9) && !isCyan(form.Label8));
}

void TestMainForm::newMailPictureReplacesTheDisplay()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    form.show();
    form.Command1_Click();
    QVERIFY(form.Image3->isVisible());
    QVERIFY(!form.Display->isVisible());
}

void TestMainForm::clockTextFeedsSentRecords()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    QVERIFY(form.Timer2->isActive());
    QCOMPARE(form.Timer2->interval(), 1000);
    QVERIFY(form.Text2->text().contains(QStringLiteral("  ")));
    QCOMPARE(hm::clockText(), form.Text2->text());
    form.Text2->clear(); // a mail check uses it as scratch space
    QCOMPARE(hm::clockText(), QString());
    form.Timer2_Timer();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{1,2}:\\d{2}:\\d{2}$"))
                .match(hm::clockText()).hasMatch());
}

void TestMainForm::shutdownEndsAtOnceWithoutOtherWindowsClosing()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    int ended = 0;
    form.endProcess = [&] { ++ended; };
    auto* account = hm::window<IdPassForm>();
    account->show();
    form.close();
    QCOMPARE(ended, 1);
    QVERIFY(hm::loadedWindow<IdPassForm>()); // no closing step of its own ran
    QVERIFY(account->isVisible());
}

void TestMainForm::homePageOpensABrowserEachClick()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    form.Label5_Click();
    form.Label5_Click();
    QCOMPARE(folder.ui.urls.size(), 2);
    form.Label11_Click();
    QVERIFY(hm::loadedWindow<SetForm>() && hm::loadedWindow<SetForm>()->isVisible());
}

void TestMainForm::captionsRenderInAJapaneseFont()
{
    hm::installJapaneseFonts();
    const QFont font = hm::pGothic(9);
    const QFontInfo info(font);
    QVERIFY2(info.family().startsWith(QStringLiteral("IPA")), qPrintable(info.family()));
    const QFontMetrics metrics(font);
    for (const QChar c : QStringLiteral("倦まぬ情熱疾風メール受信着信履歴アドレス帳設定"))
        QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
    QCOMPARE(QApplication::font().family(), font.family());
}

// The brightest text pixel of the label as the window paints it.
int brightest(MainForm& form, QWidget* label)
{
    const QImage image = form.grab(label->geometry()).toImage();
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, qGray(image.pixel(x, y)));
    return best;
}

void TestMainForm::standardDialogsAreJapaneseDisabledCommandsGreyAndTheClockOutlivesTheWindow()
{
    QVERIFY(hm::installJapaneseTranslations());
    hm::ui::QtServices qt;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        buttons << box->button(QMessageBox::Yes)->text() << box->button(QMessageBox::No)->text();
        box->button(QMessageBox::No)->click();
    });
    QCOMPARE(qt.message(nullptr, QStringLiteral("よろしいですか"), QStringLiteral("確認"), hm::ui::Buttons::YesNo,
                        hm::ui::Icon::Question),
             hm::ui::Answer::No);
    QCOMPARE(buttons, (QStringList{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)")}));
    QStringList labels;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        for (auto label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::Accept, QFileDialog::Reject})
            labels << dialog->labelText(label);
        dialog->reject();
    });
    QVERIFY(qt.openFileName(nullptr, QStringLiteral("開く"), QDir::tempPath(), QString()).isEmpty());
    QCOMPARE(labels, (QStringList{QStringLiteral("アドレス:"), QStringLiteral("ファイル名(&N):"),
                                  QStringLiteral("開く(&O)"), QStringLiteral("キャンセル")}));

    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    {
        MainForm form;
        QVERIFY(form.Form_Load());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        // "Play" enabled reads white; "Stop" disabled reads grey, still readable on the dark panel.
        QVERIFY(brightest(form, form.Label13) > 230);
        QVERIFY(brightest(form, form.Label14) < 200);
        QVERIFY(brightest(form, form.Label14) > 100);
    }
    // Without the window the clock text is the current time again.
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{1,2}:\\d{2}:\\d{2}$"))
                .match(hm::clockText()).hasMatch());
}

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
