#include "compose/back_form.h"

#include "common/ansi_codec.h"
#include "common/japanese_font.h"
#include "common/twips.h"
#include "common/window_keys.h"
#include "common/window_registry.h"
#include "common/form_geometry.h"
#include "compose/send_procedure.h"
#include "compose/unsent_text.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>

#include <algorithm>

using hm::button;
using hm::control;
using hm::label;
using hm::setLeftTwips;
using hm::setWidthTwips;

namespace {
constexpr int kDesignWidth = 7290;
constexpr int kDesignHeight = 6975;
constexpr int kBodyTop = 1680;
constexpr int kListBottom = 1320 + 1860;
} // namespace

BackForm::BackForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("BackForm"));
    setWindowTitle(QStringLiteral("返事を書く"));

    Command2 = button(this, "Command2", QStringLiteral("送信"), 120, 120, 1215, 300);
    Command3 = button(this, "Command3", QStringLiteral("送信中止"), 1440, 120, 1215, 300);
    Command4 = button(this, "Command4", QStringLiteral("本文に貼付"), 2760, 120, 1215, 300);
    ToText = control<QLineEdit>(this, "ToText", 1080, 600, 5295, 300);
    label(this, "ToTextLabel", QStringLiteral("宛先"), 120, 600, 920, 300, ToText);
    SubjectText = control<QLineEdit>(this, "SubjectText", 1080, 960, 5295, 300);
    label(this, "SubjectTextLabel", QStringLiteral("題名"), 120, 960, 920, 300, SubjectText);
    AttachText = control<QLineEdit>(this, "AttachText", 1080, 1320, 2800, 300);
    label(this, "AttachTextLabel", QStringLiteral("添付File"), 120, 1320, 920, 300, AttachText);
    AttachCommand = button(this, "AttachCommand", QStringLiteral("添付"), 3960, 1320, 792, 300);
    Command9 = button(this, "Command9", QStringLiteral("追加"), 4755, 1320, 855, 300);
    Command10 = button(this, "Command10", QStringLiteral("取り消し"), 5595, 1320, 855, 300);
    List2 = control<QListWidget>(this, "List2", 1080, 1320, 3615, 1860);
    List2->setAccessibleName(QStringLiteral("添付ファイル一覧"));
    BodyText = control<QTextEdit>(this, "BodyText", 0, kBodyTop, 7215, 4575);
    BodyText->setAccessibleName(QStringLiteral("本文"));
    BodyText->setAcceptRichText(false);
    BodyText->setFont(hm::pGothic(9));
    StatusBar1 = control<QStatusBar>(this, "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    List2->raise();
    List2->installEventFilter(this);

    attachments_ = std::make_unique<hm::compose::AttachmentCommands>(
        this, AttachText, List2, AttachCommand, Command9, Command10);

    hm::leaveWithCtrlTab(BodyText);
    hm::pressButtonsWithEnter(this);
    hm::closeOnEscape(this, [this] {
        if (!HoldsUnsentText() || hm::compose::MayDiscardUnsentText(this))
            close();
    });

    connect(Command2, &QPushButton::clicked, this, &BackForm::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &BackForm::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &BackForm::Command4_Click);
    connect(AttachCommand, &QPushButton::clicked, this, &BackForm::AttachCommand_Click);
    connect(Command9, &QPushButton::clicked, this, &BackForm::Command9_Click);
    connect(Command10, &QPushButton::clicked, this, &BackForm::Command10_Click);

    hm::setOuterSizeTwips(this, kDesignWidth, kDesignHeight);
}

void BackForm::Form_Load()
{
    setWidthTwips(AttachText, 2800);
    List2->hide();
}

void BackForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

bool BackForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == List2 && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        Form_Resize();
    return QWidget::eventFilter(watched, event);
}

void BackForm::Form_Resize()
{
    const int w = hm::outerWidthTwips(this);
    const int h = hm::outerHeightTwips(this);
    // The outer width counts the frame; the body must not reach past the client area.
    setWidthTwips(BodyText, std::min(int(w * 0.99), hm::twipsOf(width())));
    setWidthTwips(ToText, int(w * 0.7));
    setWidthTwips(SubjectText, int(w * 0.7));
    const int a = int(w * 0.4);
    setWidthTwips(AttachText, a);
    setLeftTwips(AttachCommand, a + 1240);
    setLeftTwips(Command9, a + 2060);
    setLeftTwips(Command10, a + 2940);
    // The attachment list lies over nothing: as wide as its box, with the body moved down
    // below it while it shows.
    setWidthTwips(List2, a);
    const int listBelow = List2->isHidden() ? 0 : kListBottom - kBodyTop + 60;
    BodyText->move(0, hm::twips(kBodyTop + listBelow));
    if (h > 3500) {
        const int fields = hm::twipsOf(ToText->height() + SubjectText->height() + AttachText->height());
        BodyText->resize(BodyText->width(), hm::twips(std::max(0, h - fields - 1500 - listBelow)));
    }
    const int bar = StatusBar1->sizeHint().height();
    StatusBar1->setGeometry(0, height() - bar, width(), bar);
}

void BackForm::Fill(const QString& subject, const QString& sender, const QString& body)
{
    SubjectText->setText(QStringLiteral("Re:  ") + Trim(subject));
    ToText->setText(Trim(sender));
    BodyText->setPlainText(Trim(body));
    answeredBody_ = body;
    filled_ = CurrentDraft();
}

bool BackForm::HoldsUnsentText() const
{
    const hm::compose::Draft now = CurrentDraft();
    return now.to != filled_.to || now.subject != filled_.subject || now.body != filled_.body;
}

hm::compose::Draft BackForm::CurrentDraft() const
{
    return {.to = ToText->text(), .subject = SubjectText->text(), .body = BodyText->toPlainText(),
            .attachments = attachments_->ListForSending()};
}

void BackForm::Command2_Click()
{
    const hm::compose::Draft draft = CurrentDraft();
    Command2->setEnabled(false);
    hm::compose::SendReply(draft, this);
    close();
}

void BackForm::Command3_Click()
{
    close();
}

void BackForm::Command4_Click()
{
    QClipboard* clipboard = QApplication::clipboard();
    const QString pasted = clipboard->text();
    const QString text = pasted + QStringLiteral("\r\n\r\n\r\n\r") + Trim(answeredBody_);
    clipboard->clear();
    clipboard->setText(text);
    // Not read back: a clipboard write does not always take.
    BodyText->setPlainText(Trim(text));
}

void BackForm::AttachCommand_Click()
{
    attachments_->First();
}

void BackForm::Command9_Click()
{
    attachments_->Add();
}

void BackForm::Command10_Click()
{
    attachments_->Drop();
}

namespace hm::compose {
BackForm* OpenReply(const QString& subject, const QString& sender, const QString& body)
{
    BackForm* form = hm::window<BackForm>();
    form->Fill(subject, sender, body);
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}
} // namespace hm::compose
