#include "compose/back_form.h"

#include "common/ansi_codec.h"
#include "common/japanese_font.h"
#include "common/twips.h"
#include "common/window_registry.h"
#include "common/form_geometry.h"
#include "compose/send_procedure.h"

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
using hm::placeTwips;

namespace {
constexpr int kDesignWidth = 7290;
constexpr int kDesignHeight = 6975;

QLineEdit* field(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setAccessibleName(caption);
    placeTwips(e, l, t, w, h);
    auto* lb = new QLabel(caption, parent);
    placeTwips(lb, 120, t, l - 160, h);
    lb->setBuddy(e);
    return e;
}

void setWidthTwips(QWidget* w, int width)
{
    w->resize(hm::twips(width), w->height());
}

void setLeftTwips(QWidget* w, int left)
{
    w->move(hm::twips(left), w->y());
}
} // namespace

BackForm::BackForm(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("返事を書く"));

    Command2 = button(this, "Command2", QStringLiteral("送信"), 120, 120, 1215, 300);
    Command3 = button(this, "Command3", QStringLiteral("送信中止"), 1440, 120, 1215, 300);
    Command4 = button(this, "Command4", QStringLiteral("本文に貼付"), 2760, 120, 1215, 300);
    ToText = field(this, "ToText", QStringLiteral("宛先"), 1080, 600, 5295, 300);
    SubjectText = field(this, "SubjectText", QStringLiteral("題名"), 1080, 960, 5295, 300);
    AttachText = field(this, "AttachText", QStringLiteral("添付File"), 1080, 1320, 2800, 300);
    AttachCommand = button(this, "AttachCommand", QStringLiteral("添付"), 3960, 1320, 792, 300);
    Command9 = button(this, "Command9", QStringLiteral("追加"), 4755, 1320, 855, 300);
    Command10 = button(this, "Command10", QStringLiteral("取り消し"), 5595, 1320, 855, 300);
    List2 = new QListWidget(this);
    List2->setObjectName(QStringLiteral("List2"));
    List2->setAccessibleName(QStringLiteral("添付ファイル一覧"));
    placeTwips(List2, 1080, 1320, 3615, 1860);
    BodyText = new QTextEdit(this);
    BodyText->setObjectName(QStringLiteral("BodyText"));
    BodyText->setAccessibleName(QStringLiteral("本文"));
    BodyText->setAcceptRichText(false);
    BodyText->setFont(hm::pGothic(9));
    placeTwips(BodyText, 0, 1680, 7215, 4575);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    List2->raise();

    attachments_ = std::make_unique<hm::compose::AttachmentCommands>(
        this, AttachText, List2, AttachCommand, Command9, Command10);

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

void BackForm::Form_Resize()
{
    const int w = hm::outerWidthTwips(this);
    const int h = hm::outerHeightTwips(this);
    // The outer width counts the frame; the body must not reach past the client area.
    setWidthTwips(BodyText, std::min(int(w * 0.99), width() * 15));
    setWidthTwips(ToText, int(w * 0.7));
    setWidthTwips(SubjectText, int(w * 0.7));
    const int a = int(w * 0.4);
    setWidthTwips(AttachText, a);
    setLeftTwips(AttachCommand, a + 1240);
    setLeftTwips(Command9, a + 2060);
    setLeftTwips(Command10, a + 2940);
    if (h > 3500) {
        const int fields = (ToText->height() + SubjectText->height() + AttachText->height()) * 15;
        BodyText->resize(BodyText->width(), hm::twips(h - fields - 1500));
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
