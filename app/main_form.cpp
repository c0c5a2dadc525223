#include "app/main_form.h"

#include "app/command_label.h"
#include "app/program_icon.h"
#include "app/single_instance.h"
#include "common/clock_text.h"
#include "common/japanese_font.h"
#include "common/program_folder.h"
#include "common/form_geometry.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "common/window_registry.h"
#include "addressbook/friend_form.h"
#include "compose/unsent_text.h"
#include "compose/write_form.h"
#include "emoticons/kao_form.h"
#include "history/history_mode.h"
#include "mail/mail_module.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "settings/option_form.h"
#include "settings/set_form.h"
#include "app/new_mail_sound.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QApplication>
#include <QTimer>

#include <cstdlib>

using hm::button;
using hm::control;
using hm::twips;

namespace {
const QColor kBackground(0x10, 0x18, 0x30);
const QString kHomePage = QStringLiteral("https://hayatemail.example/");
// The pictures' area, 200 by 320 pixels.
constexpr int kPictureWidthTwips = 3000;
constexpr int kPictureHeightTwips = 4800;

QPixmap loadPicture(const QString& path)
{
    // A missing or unreadable picture leaves the area empty; start-up goes on.
    QImageReader reader(path);
    return QPixmap::fromImage(reader.read());
}

const QColor kWhite(0xff, 0xff, 0xff);
const QColor kCyan(0x00, 0xff, 0xff);

// A disabled command turns grey, as a disabled button does. Through the palette, not a style
// sheet: a sheet on every command cost the launch a millisecond or two in style polishing.
void setCommandColour(QLabel* label, const QColor& colour)
{
    QPalette pal = label->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text}) {
        pal.setColor(QPalette::Active, role, colour);
        pal.setColor(QPalette::Inactive, role, colour);
        pal.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    }
    label->setPalette(pal);
}
} // namespace

MainForm::MainForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("倦まぬ情熱、弛まぬ活力、疾風メールぜよっ！！"));
    setFixedSize(twips(4800), twips(6480));
    setMouseTracking(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    setPalette(pal);
    startFirstEffectPicture();

    endProcess = [] { std::_Exit(0); };

    addCommand(QStringLiteral("Label9"), QStringLiteral("     新規作成"), QStringLiteral("メールの新規作成・送信を行います。"), 120);
    Label9 = commands_.last();
    addCommand(QStringLiteral("Label8"), QStringLiteral("        受信"), QStringLiteral("新着メールの受信を行います。"), 540);
    Label8 = commands_.last();
    addCommand(QStringLiteral("Label7"), QStringLiteral("   着信履歴"),
               QStringLiteral("着信（着信履歴）したメールを見ます。画面はマウスでストレッチが出来ます。"), 960);
    Label7 = commands_.last();
    addCommand(QStringLiteral("Label6"), QStringLiteral("     送信履歴"),
               QStringLiteral("送信（送信履歴）したメールを見ます。画面はマウスでストレッチが出来ます。"), 1380);
    Label6 = commands_.last();
    addCommand(QStringLiteral("Label10"), QStringLiteral("    アドレス帳"),
               QStringLiteral("アドレス帳への登録を行います。着信からの自動入力、送信時の一発入力が可能になります。"), 1800);
    Label10 = commands_.last();
    // Designed as labels reaching 1200 twips left of the window, where 18 of their leading
    // spaces lay: they start at the edge without those, so the words stay in the column and
    // nothing of them is outside the window.
    addCommand(QStringLiteral("Label11"), QStringLiteral("        設定"),
               QStringLiteral("ID,PASS,サーバーの設定。これを行わないと通信エラーになります。"), 2220);
    Label11 = commands_.last();
    addCommand(QStringLiteral("Label5"), QStringLiteral("        HomePage"),
               QStringLiteral("メーラー専門店、作者のホームページです。"), 2640);
    Label5 = commands_.last();
    addCommand(QStringLiteral("Label4"), QStringLiteral("       Small"), QStringLiteral("フォーム（画面）を最小化します。"), 3060);
    Label4 = commands_.last();
    addCommand(QStringLiteral("Label13"), QStringLiteral("Play"), QStringLiteral("新着メール時に再生する波音の確認を行います。"), 5220, 120, 600);
    Label13 = commands_.last();
    addCommand(QStringLiteral("Label14"), QStringLiteral("Stop"), QStringLiteral("現在再生している波音を停止します。"), 5220, 780, 600);
    Label14 = commands_.last();
    QFont bold = hm::pGothic(9);
    bold.setBold(true);
    Label13->setFont(bold);
    Label14->setFont(bold);

    connect(Label4, &CommandLabel::clicked, this, &MainForm::Label4_Click);
    connect(Label5, &CommandLabel::clicked, this, &MainForm::Label5_Click);
    connect(Label6, &CommandLabel::clicked, this, &MainForm::Label6_Click);
    connect(Label7, &CommandLabel::clicked, this, &MainForm::Label7_Click);
    connect(Label8, &CommandLabel::clicked, this, &MainForm::Label8_Click);
    connect(Label9, &CommandLabel::clicked, this, &MainForm::Label9_Click);
    connect(Label10, &CommandLabel::clicked, this, &MainForm::Label10_Click);
    connect(Label11, &CommandLabel::clicked, this, &MainForm::Label11_Click);
    connect(Label13, &CommandLabel::clicked, this, &MainForm::Label13_Click);
    connect(Label14, &CommandLabel::clicked, this, &MainForm::Label14_Click);

    Display = control<QLabel>(this, "Display", 1620, 120, kPictureWidthTwips, kPictureHeightTwips);
    Image3 = control<QLabel>(this, "Image3", 1620, 120, kPictureWidthTwips, kPictureHeightTwips);
    Image3->setScaledContents(false);
    Display->setAccessibleName(QStringLiteral("疾風の画像"));
    Image3->setAccessibleName(QStringLiteral("新着画像"));
    for (size_t i = 0; i < Master.size(); ++i) {
        Master[i] = control<QLabel>(this, QStringLiteral("Master%1").arg(i));
        Master[i]->hide();
    }
    Pic_D = control<QLabel>(this, "Pic_D");
    Pic_D->hide();
    Pic_DD = control<QLabel>(this, "Pic_DD");
    Pic_DD->hide();

    Text1 = control<QLineEdit>(this, "Text1", 1620, 5040, kPictureWidthTwips, 330);
    Text1->setText(QStringLiteral("Ver 1.0"));
    Text1->setAccessibleName(QStringLiteral("状態"));

    Label2 = control<QLabel>(this, "Label2", 120, 5700, 4560, 660);
    Label2->setAccessibleName(QStringLiteral("ヘルプ"));
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setCommandColour(Label2, kWhite);

    // Kept outside the visible client area, as designed; the keyboard never goes there.
    Text2 = control<QLineEdit>(this, "Text2", -3000, -3000, 1800, 300);
    Text2->setAccessibleName(QStringLiteral("時計"));
    Text2->setFocusPolicy(Qt::NoFocus);
    Command1 = button(this, "Command1", QString(), -3000, -2000, 600, 300);
    Command1->setAccessibleName(QStringLiteral("新着画像を表示"));
    Command1->setFocusPolicy(Qt::NoFocus);
    connect(Command1, &QPushButton::clicked, this, &MainForm::Command1_Click);

    // The sound options sit below the visible area: a sound normally plays once, in the
    // background, straight from the file. Neither Tab nor their access keys reach them there.
    ChkSynchro = control<QCheckBox>(this, "ChkSynchro", 120, 6600, 2400, 300);
    ChkOnMem = control<QCheckBox>(this, "ChkOnMem", 120, 6960, 3000, 300);
    ChkLoop = control<QCheckBox>(this, "ChkLoop", 120, 7320, 2400, 300);
    sound_ = std::make_unique<hm::sound::NewMailSound>(Label13, Label14, ChkSynchro, ChkOnMem, ChkLoop);
    for (QCheckBox* option : {ChkSynchro, ChkOnMem, ChkLoop}) {
        option->setFocusPolicy(Qt::NoFocus);
        option->setShortcut(QKeySequence()); // after the caption, which brings its access key
    }
    createEffectButtons();

    Timer2 = new QTimer(this);
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &MainForm::Timer2_Timer);
    hm::setClockTextSource([text = Text2] { return text->text(); });
}

MainForm::~MainForm()
{
    // The clock text lives in this window; later readers fall back to the current time.
    hm::setClockTextSource({});
}

CommandLabel* MainForm::addCommand(const QString& name, const QString& caption, const QString& help, int top, int left,
                                   int width)
{
    auto* label = new CommandLabel(caption, this);
    label->setObjectName(name);
    hm::placeTwips(label, left, top, width, 360);
    label->setFont(hm::pGothic(9));
    setCommandColour(label, kWhite);
    connect(label, &CommandLabel::hovered, this, [this, label, help] {
        setHelpLine(help);
        setCommandColour(label, kCyan);
    });
    commands_ << label;
    return label;
}

bool MainForm::Form_Load()
{
    Label13->setEnabled(true);
    Label14->setEnabled(false);
    Image3->hide();
    Display->show();

    if (!hm::claimSingleInstance()) {
        // The running one comes forward instead; the user learns why nothing new opened when
        // it cannot be reached.
        if (!hm::askRunningInstanceToRaise())
            hm::ui::message(nullptr,
                            QStringLiteral("疾風メールはすでに起動していますが、そのウィンドウを前に出せませんでした。\n"
                                           "タスクバーなどから開いてください。"),
                            QStringLiteral("疾風メール"), hm::ui::Buttons::Ok, hm::ui::Icon::Information);
        return false;
    }
    hm::setRaiseHandler([window = QPointer<MainForm>(this)] {
        if (!window)
            return;
        if (window->isMinimized())
            window->showNormal();
        window->show();
        window->raise();
        window->activateWindow();
    });

    move(0, 0);
    prepareEffects();

    QString serverFileProblem;
    hm::settings::LoadServerSettings(hm::settings::account(), &serverFileProblem);
    if (!serverFileProblem.isEmpty())
        hm::ui::message(this, serverFileProblem, QStringLiteral("サーバー設定"), hm::ui::Buttons::Ok,
                        hm::ui::Icon::Warning);

    hm::mail::NMailInitializeWinSock();
    hm::mail::NMailSetOption(1, 8192);

    if (hm::settings::account().Pop3Server.isEmpty())
        hm::window<OptionForm>();

    Label8->setEnabled(true);
    Label9->setEnabled(true);
    Timer2_Timer();
    Timer2->start();
    startUpLeft_ = true;
    return true;
}

void MainForm::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // Queued, so it runs after this frame has reached the screen.
    if (startUpLeft_)
        QTimer::singleShot(0, this, &MainForm::finishStartUp);
}

void MainForm::finishStartUp()
{
    if (!startUpLeft_)
        return;
    startUpLeft_ = false;
    // Given to X11 as every size's pixels, so not before the first frame.
    QApplication::setWindowIcon(hm::programIcon());
    Image3->setPixmap(loadPicture(hm::dataPath(QStringLiteral("\\新着画像\\1.jpg"))));
    loadEffectBuffer(1, effectPictures[1]);
    // The compose window is loaded hidden; its own load step unticks the fortune.
    hm::window<WriteForm>();
    // The first check should not wait for the network and MIME libraries to be mapped.
    hm::mail::preloadMailModule();
}

bool MainForm::Form_QueryUnload()
{
    const WriteForm* compose = hm::loadedWindow<WriteForm>();
    if (unloading_ || !compose || !compose->HoldsUnsentText())
        return true;
    return hm::compose::MayDiscardUnsentText(this);
}

void MainForm::Form_Unload()
{
    if (unloading_)
        return;
    unloading_ = true;
    // The quick exit below runs no window's closing step: the palette's edited pages are
    // saved here, or they would be lost.
    if (KaoForm* palette = hm::loadedWindow<KaoForm>())
        palette->Form_Unload();
    sound_->Stop();
    hm::mail::NMailEndWinSock();
    hm::releaseSingleInstance(); // the quick exit runs no destructor
    endProcess();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    if (!Form_QueryUnload()) {
        event->ignore();
        return;
    }
    event->accept();
    Form_Unload();
}

void MainForm::Command1_Click()
{
    finishStartUp();
    Image3->show();
    Display->hide();
}

QWidget* MainForm::boxParent()
{
    return this;
}

void MainForm::showHelp(const QString& text)
{
    setHelpLine(text);
    Label2->repaint();
}

void MainForm::setHelpLine(const QString& text)
{
    Label2->setText(text);
    Label2->setAccessibleDescription(text);
}

void MainForm::showStatus(const QString& text)
{
    Text1->setText(text);
}

// The beginning says what happened; a line longer than the box is read from there, or whole
// as its tip.
void MainForm::showResult(const QString& text)
{
    if (Text1->text() != text)
        Text1->setText(text);
    Text1->setCursorPosition(0);
    Text1->setToolTip(text);
}

bool MainForm::receiveEnabled() const
{
    return Label8->isEnabled();
}

void MainForm::setReceiveEnabled(bool enabled)
{
    Label8->setEnabled(enabled);
}

void MainForm::showNewMailPicture()
{
    Command1_Click();
}

void MainForm::Timer2_Timer()
{
    Text2->setText(hm::formatClockText());
}

void MainForm::mouseMoveEvent(QMouseEvent* event)
{
    // Only the window's own background resets the commands; a move over the picture area
    // or another control leaves them as they are.
    if (!childAt(event->position().toPoint()))
        Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

void MainForm::Form_MouseMove()
{
    setHelpLine(QString());
    for (CommandLabel* label : commands_)
        setCommandColour(label, kWhite);
}

void MainForm::Label4_Click()
{
    showMinimized();
}

void MainForm::Label5_Click()
{
    if (!hm::ui::services().openUrl(QUrl(kHomePage)))
        hm::ui::message(this, QStringLiteral("ブラウザを起動できませんでした。"), QString(),
                        hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
}

void MainForm::Label6_Click()
{
    hm::history::OpenHistory(hm::history::HistoryMode::Sent);
}

void MainForm::Label7_Click()
{
    hm::history::OpenHistory(hm::history::HistoryMode::Received);
}

void MainForm::Label8_Click()
{
    if (MailCheckRunning())
        return;
    showHelp(QStringLiteral("メールを受信します。"));
    CheckMail(*this);
}

void MainForm::Label9_Click()
{
    hm::window<WriteForm>()->show();
}

void MainForm::Label10_Click()
{
    hm::window<FriendForm>()->show();
}

void MainForm::Label11_Click()
{
    hm::window<SetForm>()->show();
}

void MainForm::Label13_Click()
{
    sound_->Label13_Click();
}

void MainForm::Label14_Click()
{
    sound_->Label14_Click();
}

QString MainForm::playNewMailSound()
{
    return sound_->PlayForNewMail();
}
