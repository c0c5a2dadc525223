#include "compose/write_form.h"

#include "common/ansi_codec.h"
#include "common/form_geometry.h"
#include "common/ui_services.h"
#include "common/window_keys.h"
#include "common/window_registry.h"
#include "addressbook/address_store.h"
#include "compose/address_source.h"
#include "compose/unsent_text.h"
#include "emoticons/kao_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>

using hm::button;
using hm::control;
using hm::label;

namespace {
constexpr int kNormalWidth = 7100;
constexpr int kWideWidth = 9700;
constexpr int kNormalHeight = 8200;
constexpr int kExtraHeight = 8955;
// Rows in twips around the attachment list.
constexpr int kListBottom = 2280 + 1860;
constexpr int kFortuneTop = 2640;
// The note needs its whole line; "占い添付" is right-aligned, so its label gives up the room.
constexpr int kNoteWidth = 5200;
constexpr int kFortuneLabelLeft = 5460;
constexpr int kBodyTop = 3000;
constexpr int kBodyBottom = 3000 + 4335;

const QColor kWhite(255, 255, 255);
const QColor kGreen(0, 128, 0);

const char* const kGreetings[] = {
    "御社益々ご清祥の事とお慶び申し上げます。",
    "平素のご愛顧誠にありがとうございます。",
    "平素は格別のご愛顧を賜り深謝申し上げます。",
    "いつもお世話になっております。",
    "メールありがとうございました。確かに受け取りました。",
    "はじめまして、突然のメールで恐縮です。",
    "こんにちわ。はじめてメールいたします。",
    "こんにちわ。お変わりなく、お元気ですか？",
};

QString clipboardText()
{
    return QApplication::clipboard()->text();
}

} // namespace

void PressListWidget::mousePressEvent(QMouseEvent* event)
{
    QListWidget::mousePressEvent(event);
    emit pressed();
}

WriteForm::WriteForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("WriteForm"));
    setWindowTitle(QStringLiteral("新規作成・送信"));
    setMouseTracking(true);

    Command1 = button(this, "Command1", QStringLiteral("送信"), 240, 120, 1335, 375);
    Command4 = button(this, "Command4", QStringLiteral("アドレス帳"), 1800, 120, 1335, 375);
    Command6 = button(this, "Command6", QStringLiteral("元のサイズ"), 3360, 120, 1335, 375);
    Command8 = button(this, "Command8", QStringLiteral("顔・絵文字"), 4800, 120, 1455, 375);
    Command3 = button(this, "Command3", QStringLiteral("送信中止"), 240, 600, 1335, 375);
    Command5 = button(this, "Command5", QStringLiteral("本文に貼付"), 1800, 600, 1335, 375);
    Command7 = button(this, "Command7", QStringLiteral("宛先に貼付"), 3360, 600, 1335, 375);
    Command11 = button(this, "Command11", QStringLiteral("クリア"), 4800, 600, 1455, 375);

    ToText = control<QLineEdit>(this, "ToText", 1320, 1200, 5415, 300);
    label(this, "ToTextLabel", QStringLiteral("宛先"), 240, 1200, 1000, 300, ToText);
    SubjectText = control<QLineEdit>(this, "SubjectText", 1320, 1560, 5415, 300);
    label(this, "SubjectTextLabel", QStringLiteral("件名"), 240, 1560, 1000, 300, SubjectText);
    Combo1 = control<QComboBox>(this, "Combo1", 1320, 1920, 5415, 300);
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setAccessibleName(QStringLiteral("あいさつ文"));
    // Only a greeting the user picked or changed while in the box may replace the body.
    connect(Combo1, &QComboBox::currentTextChanged, this, [this] {
        if (greetingFocused_)
            greetingChosen_ = true;
    });
    connect(Combo1, &QComboBox::activated, this, [this] { greetingChosen_ = true; });

    AttachCommand = button(this, "AttachCommand", QStringLiteral("添付File"), 240, 2280, 855, 300);
    Command9 = button(this, "Command9", QStringLiteral("追加"), 1080, 2280, 855, 300);
    Command10 = button(this, "Command10", QStringLiteral("取り消し"), 1920, 2280, 855, 300);
    AttachText = control<QLineEdit>(this, "AttachText", 2760, 2280, 3975, 300);
    AttachText->setAccessibleName(QStringLiteral("添付ファイル"));
    List2 = control<QListWidget>(this, "List2", 2760, 2280, 3975, 1860);
    List2->setAccessibleName(QStringLiteral("添付ファイル一覧"));

    Check1Note = label(this, "Check1Note", QStringLiteral("★　親しい人に占いを添付する　★ （一括送信では使用不可）"),
                       240, 2640, kNoteWidth, 300);
    Check1 = control<QCheckBox>(this, "Check1", 6360, 2640, 255, 300);
    Check1Label = label(this, "Check1Label", QStringLiteral("占い添付"), kFortuneLabelLeft, 2640,
                        6340 - kFortuneLabelLeft, 300, Check1);
    Check1Label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    BodyText = control<QPlainTextEdit>(this, "BodyText", 240, kBodyTop, 6495, kBodyBottom - kBodyTop);
    BodyText->setAccessibleName(QStringLiteral("本文"));
    BodyText->viewport()->setMouseTracking(true);
    BodyText->viewport()->installEventFilter(this);
    // Tab types a tab in the body, as in a mail editor; Ctrl+Tab moves on.
    hm::leaveWithCtrlTab(BodyText);

    Text14 = control<QPlainTextEdit>(this, "Text14", 960, 4200, 5175, 2655);
    Text14->setReadOnly(true);
    Text14->setFocusPolicy(Qt::NoFocus);
    Text14->setAccessibleName(QStringLiteral("ヘルプ"));
    QPalette helpPalette = Text14->palette();
    helpPalette.setColor(QPalette::Base, QColor(192, 255, 255));
    Text14->setPalette(helpPalette);
    Text14->hide();

    auto* strip = control<QFrame>(this, "StatusStrip", 240, 7320, 6495, 375);
    strip->setFrameShape(QFrame::Panel);
    strip->setFrameShadow(QFrame::Sunken);
    Label7 = control<QLabel>(strip, "Label7");
    Label7->setAccessibleName(QStringLiteral("状態"));
    Label7->setGeometry(strip->rect().adjusted(4, 0, -4, 0));
    Label7->installEventFilter(this);

    SidePanel = control<QFrame>(this, "SidePanel", 7080, 1200, 2350, 6495);
    SidePanel->setFrameShape(QFrame::StyledPanel);
    auto* panelStrip = control<QFrame>(SidePanel, "SidePanelStrip", 0, 0, 2350, 450);
    Text1 = control<QLineEdit>(panelStrip, "Text1", 1560, 80, 375, 270);
    Text1->setReadOnly(true);
    label(panelStrip, "Text1Label", QStringLiteral("件数"), 840, 80, 700, 270, Text1)
        ->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    List1 = control<PressListWidget>(SidePanel, "List1", 120, 600, 2055, 5100);
    // A list box of this kind never scrolls sideways.
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    label(SidePanel, "List1Label", QStringLiteral("アドレス帳"), 120, 360, 2055, 240, List1);
    Frame4 = control<QFrame>(SidePanel, "Frame4", 120, 5760, 2055, 615);
    Frame4->setFrameShape(QFrame::Box);
    // The option's own caption sits to the right of its round button.
    Option2 = control<QRadioButton>(Frame4, "Option2", 120, 240, 1100, 255);
    Option2->setText(QStringLiteral("一括送信"));
    Option1 = control<QRadioButton>(Frame4, "Option1", 1280, 240, 735, 255);
    Option1->setText(QStringLiteral("取消"));
    // Either option may be off, as sending turns bulk mode off without choosing "取消".
    Option1->setAutoExclusive(false);
    Option2->setAutoExclusive(false);

    Text4 = control<QLineEdit>(this, "Text4", 1560, 8115, 2295, 375);
    Text4->setAccessibleName(QStringLiteral("貼付け欄"));
    Command2 = button(this, "Command2", QStringLiteral("貼付け"), 9840, 3960, 720, 240);

    List2->raise();
    Text14->raise();

    attachments_ = std::make_unique<hm::compose::AttachmentCommands>(
        this, AttachText, List2, AttachCommand, Command9, Command10);

    for (QPushButton* b : {Command1, Command3, Command4, Command5, Command6, Command7, Command8,
                           Command9, Command10, Command11, AttachCommand, Command2}) {
        b->setMouseTracking(true);
        b->installEventFilter(this);
    }
    Combo1->installEventFilter(this);
    List2->installEventFilter(this);
    hm::pressButtonsWithEnter(this);
    hm::closeOnEscape(this, [this] {
        if (!HoldsUnsentText() || hm::compose::MayDiscardUnsentText(this))
            close();
    });

    connect(Command1, &QPushButton::clicked, this, &WriteForm::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &WriteForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &WriteForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &WriteForm::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &WriteForm::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &WriteForm::Command6_Click);
    connect(Command7, &QPushButton::clicked, this, &WriteForm::Command7_Click);
    connect(Command8, &QPushButton::clicked, this, &WriteForm::Command8_Click);
    connect(Command9, &QPushButton::clicked, this, &WriteForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &WriteForm::Command10_Click);
    connect(Command11, &QPushButton::clicked, this, &WriteForm::Command11_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &WriteForm::AttachCommand_Click);
    connect(List1, &PressListWidget::pressed, this, &WriteForm::List1_MouseDown);
    connect(Option1, &QRadioButton::clicked, this, &WriteForm::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &WriteForm::Option2_Click);

    hm::setFixedOuterSizeTwips(this, kNormalWidth, kNormalHeight);
}

void WriteForm::Form_Load()
{
    bulkPassesLeft_.clear();
    hm::setFixedOuterSizeTwips(this, kNormalWidth, kNormalHeight);
    Option2->setChecked(false);
    Command2->hide();
    Command2->setEnabled(false);
    Command9->setEnabled(false);
    List2->hide();
    Check1->setChecked(false);
    resetRecordNumbers();
    Combo1->clear();
    for (const char* greeting : kGreetings)
        Combo1->addItem(QString::fromUtf8(greeting));
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());
    List1->clear();
    fillList(hm::addressbook::masterListPath());
}

void WriteForm::resetRecordNumbers()
{
    recordNumbers_ = {0};
}

void WriteForm::fillList(const QString& relativePath)
{
    hm::compose::ReadAddressNames(relativePath, [this](qint16 number, const QString& name) {
        List1->addItem(Trim(name));
        recordNumbers_.last() = number;
        recordNumbers_.append(0);
    });
    Text1->setText(QString::number(List1->count()));
}

bool WriteForm::HoldsUnsentText() const
{
    return !ToText->text().trimmed().isEmpty() || !SubjectText->text().trimmed().isEmpty()
           || !BodyText->toPlainText().trimmed().isEmpty();
}

void WriteForm::SetList1Colour(const QColor& colour)
{
    QPalette p = List1->palette();
    p.setColor(QPalette::Base, colour);
    List1->setPalette(p);
}

hm::compose::Draft WriteForm::CurrentDraft() const
{
    return {.to = ToText->text(),
            .subject = SubjectText->text(),
            .body = BodyText->toPlainText(),
            .attachments = attachments_->ListForSending(),
            .fortune = Check1->isChecked(),
            .bulk = Option2->isChecked(),
            .bulkRows = List1->count(),
            .passesLeft = bulkPassesLeft_};
}

void WriteForm::Command1_Click()
{
    hm::compose::RunSendProcedure(CurrentDraft(), *this);
}

void WriteForm::SendStarted()
{
    attachmentButtons_ = {Command9->isEnabled(), List2->isVisible(), AttachCommand->isEnabled()};
    // A second press queued while the send blocks must not start another send.
    Command1->setEnabled(false);
    Command9->setEnabled(false);
    List2->hide();
    AttachCommand->setEnabled(true);
}

void WriteForm::ShowStatus(const QString& text)
{
    Label7->setText(text);
    Label7->repaint();
}

void WriteForm::ShowProgress(int pass, int passes, int missed)
{
    // Painted with the next served events: a repaint per pass would slow a long bulk send.
    Label7->setText(hm::compose::ProgressText(pass, passes, missed));
}

void WriteForm::AskForRecipient()
{
    ToText->setFocus();
}

void WriteForm::KeepDraft(const QList<int>& passesLeft)
{
    bulkPassesLeft_ = passesLeft;
    Command9->setEnabled(attachmentButtons_.add);
    List2->setVisible(attachmentButtons_.listShown);
    AttachCommand->setEnabled(attachmentButtons_.first);
    Command1->setEnabled(true);
}

void WriteForm::AllSent()
{
    bulkPassesLeft_.clear();
    ToText->clear();
    SubjectText->clear();
    BodyText->clear();
    Check1->setChecked(false);
    AttachText->clear();
    Option2->setChecked(false);
    Command2->hide();
    SetList1Colour(kGreen);
    close();
}

void WriteForm::Command2_Click()
{
    Text4->setText(clipboardText());
}

void WriteForm::Command3_Click()
{
    close();
}

void WriteForm::Command4_Click()
{
    hm::setFixedOuterSizeTwips(this, kWideWidth, hm::outerHeightTwips(this));
    hm::centreOnScreen(this);
    resetRecordNumbers();
    List1->clear();
    bulkPassesLeft_.clear();
    fillList(hm::addressbook::addressBookPath());
}

void WriteForm::Command5_Click()
{
    BodyText->setPlainText(BodyText->toPlainText() + clipboardText());
}

void WriteForm::Command6_Click()
{
    hm::setFixedOuterSizeTwips(this, kNormalWidth, hm::outerHeightTwips(this));
    SetList1Colour(kWhite);
    hm::centreOnScreen(this);
}

void WriteForm::Command7_Click()
{
    ToText->setText(clipboardText());
}

void WriteForm::Command8_Click()
{
    KaoForm* palette = hm::window<KaoForm>();
    palette->setBody(BodyText);
    palette->show();
    palette->raise();
    palette->activateWindow();
}

void WriteForm::Command9_Click()
{
    attachments_->Add();
}

void WriteForm::Command10_Click()
{
    attachments_->Drop();
}

void WriteForm::AttachCommand_Click()
{
    attachments_->First();
}

void WriteForm::Command11_Click()
{
    bulkPassesLeft_.clear();
    ToText->clear();
    SubjectText->clear();
    BodyText->clear();
    Option2->setChecked(false);
    AttachText->clear();
    List2->clear();
    List2->hide();
    Command9->setEnabled(false);
    Command10->setEnabled(false);
    AttachCommand->setEnabled(true);
    Check1->setChecked(false);
    SetList1Colour(kWhite);
}

void WriteForm::Combo1_LostFocus()
{
    // One edit, so that Ctrl+Z brings back the body the greeting replaced.
    QTextCursor all(BodyText->document());
    all.beginEditBlock();
    all.select(QTextCursor::Document);
    all.insertText(Combo1->currentText());
    all.endEditBlock();
}

void WriteForm::List1_MouseDown()
{
    const int k = List1->currentRow();
    if (k < 0 || List1->selectedItems().isEmpty()) {
        hm::ui::message(this, QStringLiteral("データが選択されていません"), QString(),
                        hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
        List1->setFocus();
        return;
    }
    const qint16 r = recordNumbers_.value(k);
    QString address;
    if (!hm::compose::ReadAddressOf(r, address)) {
        // A row read from another file may have no record in the address book.
        hm::ui::message(this, QStringLiteral("この名称のメールアドレスがアドレス帳にありません。"),
                        QString(), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
        return;
    }
    ToText->setText(Trim(address.left(60)));
}

void WriteForm::Option1_Click()
{
    Option1->setChecked(true);
    Option2->setChecked(false);
    bulkPassesLeft_.clear();
    ToText->clear();
    SetList1Colour(kWhite);
}

void WriteForm::Option2_Click()
{
    Option2->setChecked(true);
    Option1->setChecked(false);
    SetList1Colour(kGreen);
}

void WriteForm::Label7_DblClick()
{
    if (ToText->text() != QLatin1String("tefu"))
        return;
    hm::setFixedOuterSizeTwips(this, hm::outerWidthTwips(this), kExtraHeight);
    Command2->show();
    Command2->setEnabled(true);
}

QString WriteForm::HelpText(const QString& controlName)
{
    static const QHash<QString, QString> texts = {
        {QStringLiteral("Command1"),
         QStringLiteral("送信します。電話回線が接続されていない場合は、自動的に接続してメールを送信します。")},
        {QStringLiteral("Command3"), QStringLiteral("送信を中止します。")},
        {QStringLiteral("Command4"),
         QStringLiteral("このフォーム（新規作成）が拡張され、登録したメールアドレスの名称が一覧（リスト）に現れます。"
                        "送信したい名称をクリックすると、メールアドレスが自動的に入力されます。")},
        {QStringLiteral("Command5"),
         QStringLiteral("本ソフト、他のアプリからのテキスト文書を本文中に貼付けます。")},
        {QStringLiteral("Command6"), QStringLiteral("アドレス帳を含むサイズから、元のサイズに戻します。")},
        {QStringLiteral("Command7"), QStringLiteral("コピーして来た内容を宛先に貼付ます。")},
        {QStringLiteral("Command8"),
         QStringLiteral("顔・絵文字の本文への挿入を行います。") + QStringLiteral("\r\n\r\n") +
             QStringLiteral("使用方法：使用したい顔・絵文字をマウスで選択状態（青色反転）にし、「新規作成本文に挿入」ボタンを。") +
             QStringLiteral("クリックしますと、本分中に挿入されます。") + QStringLiteral("\r\n\r\n") +
             QStringLiteral("素材の県名や氏名、電話番号はあなた用に変更してご使用下さい。画面を終了させると自動的に保存されます。") +
             QStringLiteral("\r\n") +
             QStringLiteral("上手な使用方法：素材が豊富ですので、お気に入りに追加しておいた方が良いでしょう。") +
             QStringLiteral("\r\n") +
             QStringLiteral("お気に入りに追加（注意:IEではありません）する場合も、マウスで選択状態にし、顔・絵文字画面での「お気に入りに追加」ボタンをクリックして下さい。")},
        {QStringLiteral("Command9"),
         QStringLiteral("添付ファイルを複数送信する際に使用します。確認しやすいように、リストボックスが表示されます。")},
        {QStringLiteral("Command11"), QStringLiteral("宛先、件名、本文他、設定等が初期状態に戻せます。")},
        {QStringLiteral("AttachCommand"), QStringLiteral("各種ファイルを添付して送信できます。")},
    };
    return texts.value(controlName);
}

void WriteForm::showHelp(QWidget* control)
{
    const QString text = HelpText(control->objectName());
    if (text.isEmpty())
        return;
    Text14->setPlainText(text);
    Text14->show();
    Text14->raise();
}

void WriteForm::hideHelp()
{
    Text14->hide();
}

bool WriteForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        if (watched == BodyText->viewport())
            hideHelp();
        else if (auto* b = qobject_cast<QPushButton*>(watched))
            showHelp(b);
    } else if (event->type() == QEvent::FocusIn && watched == Combo1) {
        if (!greetingFocused_) {
            greetingFocused_ = true;
            greetingChosen_ = false;
        }
    } else if (event->type() == QEvent::FocusOut && watched == Combo1) {
        // Opening the drop-down or switching to another program does not leave the box.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
            greetingFocused_ = false;
            if (greetingChosen_)
                Combo1_LostFocus();
            greetingChosen_ = false;
        }
    } else if ((event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)
               && watched == List2) {
        placeFortuneAndBody();
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == Label7) {
        Label7_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void WriteForm::placeFortuneAndBody()
{
    // The attachment list reaches below its box; while it shows, the fortune row and the top of
    // the body move down under it instead of lying hidden beneath it.
    const int shift = List2->isHidden() ? 0 : kListBottom - kFortuneTop + 60;
    hm::placeTwips(Check1Note, 240, kFortuneTop + shift, kNoteWidth, 300);
    hm::placeTwips(Check1Label, kFortuneLabelLeft, kFortuneTop + shift, 6340 - kFortuneLabelLeft, 300);
    hm::placeTwips(Check1, 6360, kFortuneTop + shift, 255, 300);
    hm::placeTwips(BodyText, 240, kBodyTop + shift, 6495, kBodyBottom - kBodyTop - shift);
}

void WriteForm::mouseMoveEvent(QMouseEvent* event)
{
    // Only the window's own background hides the help; other controls pass their moves up.
    if (!childAt(event->position().toPoint()))
        hideHelp();
    QWidget::mouseMoveEvent(event);
}
