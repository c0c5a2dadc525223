#include "app/command_label.h"
#include "app/main_form.h"
#include "app/program_icon.h"
#include "app/single_instance.h"
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
#include "common/ansi_codec.h"
#include "emoticons/kao_form.h"
#include <QCheckBox>
#include "tests/support/click.h"
#include "tests/support/test_folder.h"
#include "tests/support/main_form_controls.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QSet>
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
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using hm::test::statusLine;
using hm::test::helpLine;
using hm::test::receiveCommand;

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
    return l->palette().color(QPalette::WindowText) == QColor(0x00, 0xff, 0xff);
}

QImage shown(const QLabel* l)
{
    return l->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage picture(const hm::test::TestFolder& folder, int n)
{
    return QImage(folder.file(QStringLiteral("\\疾風データ\\%1.jpg").arg(n))).convertToFormat(QImage::Format_RGB32);
}

// Records what the picture panel shows each time it paints, and whether the pointer was the
// hourglass then.
class PanelRecorder : public QObject {
public:
    explicit PanelRecorder(QLabel* panel) : panel_(panel) { panel->installEventFilter(this); }
    QList<QImage> frames;
    bool hourglass = true;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == panel_ && event->type() == QEvent::Paint) {
            frames << shown(panel_);
            const QCursor* c = QGuiApplication::overrideCursor();
            hourglass = hourglass && c && c->shape() == Qt::WaitCursor;
        }
        return false;
    }

private:
    QLabel* panel_;
};

MainForm* shownMainForm(MainForm& form)
{
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        qWarning("main window was not exposed");
    return &form;
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
    void shutdownAsksBeforeDroppingUnsentMailAndSavesThePalette();
    void homePageOpensABrowserEachClick();
    void captionsRenderInAJapaneseFont();
    void programIconHasEverySizeDrawnFromItsPicture();
    void effectPressesShowTheNextPictureThroughATransition();
    void secondPressDuringATransitionTakesOver();
    void picturesAreCentredAndAMissingOneShowsTheBackground();
    void standardDialogsAreJapaneseDisabledCommandsGreyAndTheClockOutlivesTheWindow();
};

void TestMainForm::startsWithEffectDisplayAndServerWindowWhenNoServer()
{
    hm::test::TestFolder folder;
    MainForm form;
    QVERIFY(form.Form_Load());
    QCOMPARE(form.windowTitle(), QStringLiteral("倦まぬ情熱、弛まぬ活力、疾風メールぜよっ！！"));
    QCOMPARE(statusLine(form)->text(), QStringLiteral("Ver 1.0"));
    QVERIFY(form.Label13->isEnabled());
    QVERIFY(!form.Label14->isEnabled());
    QVERIFY(receiveCommand(form)->isEnabled() && form.Label9->isEnabled());
    QVERIFY(form.Image3->isHidden());
    QVERIFY(!form.Display->isHidden());
    QCOMPARE(form.pos(), QPoint(0, 0));
    QCOMPARE(form.effectPictures.size(), 3);
    QVERIFY(form.effectPictures[2].endsWith(QStringLiteral("/疾風データ/3.jpg")));
    QCOMPARE(form.effectCounter, 1);
    QCOMPARE(form.Display->size(), QSize(200, 320));
    QVERIFY(form.Text2->geometry().bottom() < 0); // outside the visible area
    auto* option = hm::loadedWindow<OptionForm>();
    QVERIFY(option && option->isVisible());
    // What the first frame does not show is loaded once the window is on screen: the new-mail
    // picture, picture 2 in the effects' second buffer, the compose window hidden.
    shownMainForm(form);
    QTRY_VERIFY(hm::loadedWindow<WriteForm>());
    auto* compose = hm::loadedWindow<WriteForm>();
    QVERIFY(compose->isHidden());
    QVERIFY(!compose->Check1->isChecked());
    QCOMPARE(form.Image3->pixmap().size(), QImage(folder.file(QStringLiteral("\\新着画像\\1.jpg"))).size());
    QVERIFY(!form.Master[1]->pixmap().isNull());
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
    QCOMPARE(helpLine(form)->text(), QStringLiteral("メールの新規作成・送信を行います。"));
    QVERIFY(isCyan(form.Label9));
    hover(receiveCommand(form));
    QCOMPARE(helpLine(form)->text(), QStringLiteral("新着メールの受信を行います。"));
    QVERIFY(isCyan(form.Label9)); // the label left behind stays cyan
    QVERIFY(isCyan(receiveCommand(form)));
    hover(form.Display);
    QCOMPARE(helpLine(form)->text(), QStringLiteral("新着メールの受信を行います。"));
    QVERIFY(isCyan(form.Label9));
    // Only the window's own background resets everything.
    const QPoint background(form.width() - 2, form.height() - 2);
    QVERIFY(!form.childAt(background));
    hover(&form, background);
    QVERIFY(helpLine(form)->text().isEmpty());
    QVERIFY(!isCyan(form.Label9) && !isCyan(receiveCommand(form)));
}

void TestMainForm::newMailPictureReplacesTheDisplay()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    form.show();
    hm::test::click(form.Command1);
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
    form.Text2->clear(); // what the box holds, even nothing, is what the clock text is
    QCOMPARE(hm::clockText(), QString());
    form.Timer2_Timer();
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{1,2}:\\d{2}:\\d{2}$"))
                .match(hm::clockText()).hasMatch());
}

void TestMainForm::shutdownEndsAtOnceWithoutOtherWindowsClosing()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const auto restore = qScopeGuard([] { qunsetenv("XDG_RUNTIME_DIR"); });
    hm::releaseSingleInstance(); // earlier tests' claim
    // Whether another opening of the lock file can take the claim.
    const auto claimFree = [] {
        const int fd = ::open(QFile::encodeName(hm::instanceLockPath()).constData(), O_RDONLY | O_CLOEXEC);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        return free;
    };
    MainForm form;
    QVERIFY(form.Form_Load());
    QCOMPARE(QFileInfo(hm::instanceLockPath()).dir(), QDir(folder.file(QStringLiteral("\\★MAilData"))));
    QVERIFY(!claimFree());
    int ended = 0;
    form.endProcess = [&] { ++ended; };
    auto* account = hm::window<IdPassForm>();
    account->show();
    form.close();
    QCOMPARE(ended, 1);
    QVERIFY(claimFree()); // given up before the quick exit
    QVERIFY(QFileInfo(hm::instanceLockPath()).isFile()); // the file stays for the next claim
    QCOMPARE(QDir(runtime.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QVERIFY(hm::loadedWindow<IdPassForm>()); // no closing step of its own ran
    QVERIFY(account->isVisible());
}

// The quick exit runs no closing step of another window: what those steps would keep is kept
// before it, and unsent mail is dropped only when the user says so.
void TestMainForm::shutdownAsksBeforeDroppingUnsentMailAndSavesThePalette()
{
    hm::test::TestFolder folder;
    const auto closed = qScopeGuard([] { closeAll(); });
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    const QString page = QStringLiteral("\\顔文字データ\\Text1.txt");
    const QByteArray pageBefore = folder.read(page);
    MainForm form;
    QVERIFY(form.Form_Load());
    int ended = 0;
    form.endProcess = [&] { ++ended; };
    form.show();
    WriteForm* compose = hm::window<WriteForm>();
    compose->show();
    QVERIFY(form.Form_QueryUnload()); // nothing written yet: nothing to ask
    hm::test::click(compose->Command8);
    KaoForm* palette = hm::loadedWindow<KaoForm>();
    QVERIFY(palette && palette->isVisible());
    palette->Pages[1]->setPlainText(QStringLiteral("新しい線"));
    compose->BodyText->setPlainText(QStringLiteral("書きかけの本文"));

    folder.ui.answers.enqueue(hm::ui::Answer::No);
    QVERIFY(!form.close());
    QCOMPARE(ended, 0);
    QCOMPARE(folder.ui.shown.size(), 1);
    QCOMPARE(folder.ui.shown[0].title, QStringLiteral("確認"));
    QCOMPARE(folder.ui.shown[0].buttons, hm::ui::Buttons::YesNo);
    QCOMPARE(folder.ui.shown[0].icon, hm::ui::Icon::Question);
    QVERIFY(form.isVisible() && compose->isVisible() && palette->isVisible());
    QCOMPARE(compose->BodyText->toPlainText(), QStringLiteral("書きかけの本文"));
    QCOMPARE(folder.read(page), pageBefore);

    folder.ui.answers.enqueue(hm::ui::Answer::Yes);
    QVERIFY(form.close());
    QCOMPARE(ended, 1);
    QCOMPARE(folder.ui.shown.size(), 2);
    QCOMPARE(folder.read(page), hm::ansi::encode(QStringLiteral("新しい線")));
}

void TestMainForm::homePageOpensABrowserEachClick()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    form.show();
    hm::test::click(form.Label5);
    hm::test::click(form.Label5);
    QCOMPARE(folder.ui.urls.size(), 2);
    hm::test::click(form.Label11);
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

void TestMainForm::programIconHasEverySizeDrawnFromItsPicture()
{
    const QIcon icon = hm::programIcon();
    QVERIFY(!icon.isNull());
    QList<QSize> sizes;
    for (int n : {16, 24, 32, 48, 64, 128, 256})
        sizes << QSize(n, n);
    QCOMPARE(icon.availableSizes(), sizes);
    for (const QSize& size : sizes) {
        const QImage drawn = icon.pixmap(size).toImage();
        QCOMPARE(drawn.size(), size);
        QCOMPARE(drawn, QImage(QStringLiteral(":/icons/%1x%1/hayatemail.png").arg(size.width()))
                            .convertToFormat(drawn.format()));
    }
    QVERIFY(icon.availableSizes(QIcon::Disabled).isEmpty());
    QVERIFY(!icon.pixmap(QSize(48, 48), QIcon::Disabled).isNull()); // drawn greyed from the picture
}

void TestMainForm::effectPressesShowTheNextPictureThroughATransition()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    shownMainForm(form);
    const QImage pictures[] = {picture(folder, 1), picture(folder, 2), picture(folder, 3)};
    QCOMPARE(shown(form.Display), pictures[0]);
    QCOMPARE(form.Cmd_Effect[4]->text(), QStringLiteral("疾風（１）"));
    QCOMPARE(form.Cmd_Effect[5]->text(), QStringLiteral("疾風（２）"));
    QCOMPARE(form.Cmd_Effect[6]->text(), QStringLiteral("疾風（３）"));

    // From start-up on, presses show pictures 2, 3 and 1, also once a check has shown the
    // new-mail picture in the panel's place.
    const int next[] = {1, 2, 0};
    for (int kind = 4; kind <= 6; ++kind) {
        const QImage& before = pictures[(next[kind - 4] + 2) % 3];
        const QImage& after = pictures[next[kind - 4]];
        static_cast<MailCheckDisplay&>(form).showNewMailPicture();
        QVERIFY(form.Image3->isVisible());
        PanelRecorder recorder(form.Display);
        hm::test::click(form.Cmd_Effect[kind]);
        QVERIFY(form.Display->isVisible());
        QVERIFY(!form.Image3->isVisible());
        QVERIFY(!QGuiApplication::overrideCursor());
        QVERIFY(recorder.hourglass);
        QCOMPARE(form.effectCounter, next[kind - 4] + 1);
        QCOMPARE(shown(form.Master[form.bufferIndex]), after);
        QCOMPARE(shown(form.Display), after);

        // A frame in the middle shows neither picture whole, and every pixel in it comes from
        // one of the two pictures or the background: nothing is blended.
        QVERIFY(recorder.frames.size() > 4);
        const QImage middle = recorder.frames[recorder.frames.size() / 2];
        QVERIFY(middle != before && middle != after);
        QSet<QRgb> colours{form.effectBackground.rgb()};
        for (const QImage* img : {&before, &after})
            for (int y = 0; y < img->height(); ++y)
                for (int x = 0; x < img->width(); ++x)
                    colours.insert(img->pixel(x, y));
        for (int y = 0; y < middle.height(); ++y)
            for (int x = 0; x < middle.width(); ++x)
                QVERIFY2(colours.contains(middle.pixel(x, y)), qPrintable(QStringLiteral("kind %1 at %2,%3").arg(kind).arg(x).arg(y)));
    }
}

void TestMainForm::secondPressDuringATransitionTakesOver()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    MainForm form;
    QVERIFY(form.Form_Load());
    shownMainForm(form);
    // The second press lands while the fold waits after its first frame.
    bool pressed = false;
    QTimer::singleShot(0, &form, [&] {
        pressed = true;
        hm::test::click(form.Cmd_Effect[4]);
    });
    hm::test::click(form.Cmd_Effect[6]);
    QVERIFY(pressed);
    QVERIFY(!QGuiApplication::overrideCursor());
    // The interrupted fold drew nothing more: the panel shows the second press's picture.
    QCOMPARE(form.effectCounter, 3);
    QCOMPARE(form.bufferIndex, 0);
    QCOMPARE(shown(form.Display), picture(folder, 3));
    QCOMPARE(shown(form.Master[0]), picture(folder, 3));
}

void TestMainForm::picturesAreCentredAndAMissingOneShowsTheBackground()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=p\r\n");
    // Lossless pictures, so every pixel can be compared.
    QImage small(100, 60, QImage::Format_RGB32);
    QImage large(400, 640, QImage::Format_RGB32);
    for (QImage* img : {&small, &large})
        for (int y = 0; y < img->height(); ++y)
            for (int x = 0; x < img->width(); ++x)
                img->setPixel(x, y, qRgb(x % 256, y % 256, 128 + x / 256 + 2 * (y / 256)));
    QVERIFY(small.save(folder.file(QStringLiteral("\\疾風データ\\1.jpg")), "PNG"));
    QVERIFY(large.save(folder.file(QStringLiteral("\\疾風データ\\2.jpg")), "PNG"));
    QVERIFY(QFile::remove(folder.file(QStringLiteral("\\疾風データ\\3.jpg"))));

    MainForm form;
    QVERIFY(form.Form_Load());
    shownMainForm(form);
    QImage centred(200, 320, QImage::Format_RGB32);
    centred.fill(form.effectBackground);
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x)
            centred.setPixel(50 + x, 130 + y, small.pixel(x, y));
    QCOMPARE(shown(form.Master[0]), centred);
    QCOMPARE(shown(form.Display), centred);
    QTRY_COMPARE(shown(form.Master[1]), large.copy(100, 160, 200, 320));

    hm::test::click(form.Cmd_Effect[5]);
    QCOMPARE(shown(form.Display), large.copy(100, 160, 200, 320));
    hm::test::click(form.Cmd_Effect[6]);
    QImage empty(200, 320, QImage::Format_RGB32);
    empty.fill(form.effectBackground);
    QCOMPARE(shown(form.Display), empty);
    QVERIFY(folder.ui.shown.isEmpty());
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
