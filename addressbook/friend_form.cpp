#include "addressbook/friend_form.h"

#include "addressbook/address_store.h"
#include "common/ansi_codec.h"
#include "common/form_geometry.h"
#include "common/japanese_font.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "common/window_keys.h"
#include "common/window_registry.h"
#include "store/mail_store.h"

#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");

// The entry a row shows, kept in the row so that the row's place never stands for the
// record number.
constexpr int kRecordNumberRole = Qt::UserRole;

} // namespace

FriendForm::FriendForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FriendForm"));
    setWindowTitle(QStringLiteral("アドレス帳"));
    setFont(hm::pGothic(9));
    setMouseTracking(true);
    setFixedSize(hm::twips(9495), hm::twips(6495));

    Text4 = hm::control<QLineEdit>(this, "Text4", 1620, 120, 4455, 300);
    QLabel* addressCaption = hm::label(this, "Text4Label", QStringLiteral("メールアドレス"), 60, 120, 1500, 300, Text4);
    Command1 = hm::button(this, "Command1", QStringLiteral("貼付"), 6240, 120, 975, 300);
    Text2 = hm::control<QLineEdit>(this, "Text2", 1620, 480, 4455, 300);
    QLabel* nameCaption = hm::label(this, "Text2Label", QStringLiteral("名前"), 60, 480, 1500, 300, Text2);
    Text50 = hm::control<QLineEdit>(this, "Text50", 1620, 840, 4455, 300);
    QLabel* cardCaption = hm::label(this, "Text50Label", QStringLiteral("名刺"), 60, 840, 1500, 300, Text50);
    Command38 = hm::button(this, "Command38", QStringLiteral("名刺挿入"), 6240, 840, 975, 300);
    Command3 = hm::button(this, "Command3", QStringLiteral("登録"), 240, 1320, 975, 300);
    Command4 = hm::button(this, "Command4", QStringLiteral("削除"), 1440, 1320, 975, 300);
    Text3 = hm::control<QLineEdit>(this, "Text3", 4125, 1320, 615, 300);
    QLabel* countCaption = hm::label(this, "Text3Label", QStringLiteral("登録件数"), 2520, 1320, 1560, 300, Text3);
    Text3->setAlignment(Qt::AlignRight);
    for (QLabel* caption : {addressCaption, nameCaption, cardCaption, countCaption})
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // Widened up to the reload button's column: at its designed width the note needs three
    // lines and its height holds two.
    Label4 = hm::label(this, "Label4", QStringLiteral("名刺は新規作成で宛先、１発挿入した際の確認用として使用します。"), 5160,
                       1320, 3360, 615);
    Label4->setWordWrap(true);

    MailListView = hm::control<QTreeWidget>(this, "MailListView", 120, 1920, 8175, 3960);
    MailListView->setRootIsDecorated(false);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailListView->setAllColumnsShowFocus(true);
    MailListView->setUniformRowHeights(true);
    // Stored fields keep their space padding; eliding would put "…" after every entry.
    MailListView->setTextElideMode(Qt::ElideNone);
    MailListView->setAccessibleName(QStringLiteral("アドレス一覧"));
    connect(MailListView, &QTreeWidget::itemPressed, this, [this] { MailListView_MouseDown(); });
    // A row reached with the keyboard is shown as a pressed one is.
    connect(MailListView, &QTreeWidget::itemSelectionChanged, this, [this] { MailListView_MouseDown(); });

    Text5 = hm::control<QPlainTextEdit>(this, "Text5", 1320, 3240, 5415, 2055);
    Text5->setReadOnly(true);
    Text5->setFocusPolicy(Qt::NoFocus);
    Text5->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text5->setAccessibleName(QStringLiteral("ヘルプ"));
    Text5->hide();

    StatusStrip = hm::control<QFrame>(this, "StatusStrip", 0, 6000, 8295, 495);
    StatusStrip->setFrameShape(QFrame::StyledPanel);
    Label7 = hm::label(StatusStrip, "Label7", QString(), 60, 0, 8175, 495);
    Label7->setAccessibleName(QStringLiteral("状態"));

    // Captioned, and as tall as the other buttons, so that it says what it does.
    Command2 = hm::button(this, "Command2", QStringLiteral("更新"), 8640, 2400, 735, 300);
    Command2->setAccessibleName(QStringLiteral("再読み込み"));
    for (QPushButton* b : {Command1, Command38, Command3, Command4, Command2})
        b->setMouseTracking(true);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command38, &QPushButton::clicked, this, [this] { Command38_Click(); });
    for (QPushButton* b : {Command1, Command3, Command4, Command38})
        b->installEventFilter(this);
    hm::bindDialogKeys(this, nullptr, nullptr);
}

FriendForm* FriendForm::openWithAddress(const QString& address)
{
    FriendForm* w = hm::window<FriendForm>();
    w->Text4->setText(address);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

void FriendForm::Form_Load()
{
    MailListView->setColumnCount(2);
    MailListView->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Name")});
    MailListView->header()->setStretchLastSection(false);
    MailListView->setColumnWidth(0, MailListView->width() / 2);
    MailListView->setColumnWidth(1, MailListView->width() / 3);
    Text3->setText(QString::number(MailListView->topLevelItemCount()));
    Label7->clear();
    Command2_Click();
}

void FriendForm::Command2_Click()
{
    MailListView->setUpdatesEnabled(false);
    MailListView->clear();
    QList<QTreeWidgetItem*> rows;
    const bool ok = hm::addressbook::ReadAllAddresses([&rows](qint16 number, const QString& name, const QString& address) {
        auto* row = new QTreeWidgetItem(QStringList{CutAtNul(address), CutAtNul(name)});
        row->setData(0, kRecordNumberRole, number);
        rows.append(row);
    });
    MailListView->addTopLevelItems(rows);
    MailListView->setUpdatesEnabled(true);
    Text3->setText(QString::number(MailListView->topLevelItemCount()));
    if (!ok)
        reportFailure(hm::addressbook::lastError());
}

void FriendForm::Command3_Click()
{
    const qint16 next = hm::addressbook::NextAddressNumber();
    qint16 written = 0;
    if (!hm::addressbook::WriteAddress(next, Text2->text(), Text4->text(), &written)) {
        reportFailure(hm::addressbook::lastError());
        return;
    }
    hm::store::CurrentRecordNumber() = written;
    Label7->setText(QStringLiteral("　登録が完了しました。"));
    Command2_Click();
}

void FriendForm::Command38_Click()
{
    if (Text4->text().isEmpty()) {
        hm::ui::message(this, QStringLiteral("メールアドレスが入力されていません"));
        return;
    }
    if (Text50->text().isEmpty()) {
        hm::ui::message(this, QStringLiteral("名詞が入力されていません"));
        return;
    }
    Text4->setText(Text50->text() + QLatin1Char('<') + Trim(Text4->text()) + QLatin1Char('>'));
}

void FriendForm::Command1_Click()
{
    Text4->setText(QGuiApplication::clipboard()->text());
}

void FriendForm::Command4_Click()
{
    // Without a selected row there is nothing to delete, whatever the address box holds.
    const qint16 number = selectedRecordNumber();
    if (Text4->text().isEmpty() || number == 0) {
        hm::ui::message(this, kNotSelected);
        return;
    }
    if (!showEntry(number))
        return;
    hm::store::CurrentRecordNumber() = number;
    Label7->setText(QStringLiteral(" "));
    const auto answer = hm::ui::message(this, QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"),
                                        QStringLiteral("確認"), hm::ui::Buttons::YesNo, hm::ui::Icon::Question);
    if (answer == hm::ui::Answer::Yes) {
        if (hm::addressbook::DeleteAddress(number))
            Label7->setText(QStringLiteral("削除が完了しました"));
        else
            reportFailure(hm::addressbook::lastError());
    } else if (!hm::addressbook::CompactAddressBook()) {
        reportFailure(hm::addressbook::lastError());
    }
    Command2_Click();
}

void FriendForm::MailListView_MouseDown()
{
    const qint16 number = selectedRecordNumber();
    if (number > 0)
        showEntry(number);
}

bool FriendForm::showEntry(qint16 number)
{
    QString name;
    QString address;
    if (!hm::addressbook::ReadAddress(number, name, address)) {
        reportFailure(hm::addressbook::lastError());
        return false;
    }
    Text2->setText(Trim(CutAtNul(name)));
    Text4->setText(Trim(CutAtNul(address)));
    Label7->setText(QStringLiteral("　選択しました。"));
    return true;
}

qint16 FriendForm::selectedRecordNumber() const
{
    const QList<QTreeWidgetItem*> selected = MailListView->selectedItems();
    return selected.isEmpty() ? 0 : selected.first()->data(0, kRecordNumberRole).value<qint16>();
}

QString FriendForm::command38HelpText()
{
    return QStringLiteral(
               "名刺挿入を使うと、あなたのメールアドレスを「名前<メールアドレス>」の形にできます。"
               "例えば名刺の欄に「森川 沙織」、メールアドレスの欄に「saori.morikawa@example.jp」と入れて"
               "名刺挿入を押すと「森川 沙織<saori.morikawa@example.jp>」となり、"
               "受け取った相手にはアドレスがこの形で表示されます。")
        + QStringLiteral("\r\n\r\n") + QStringLiteral("必要なければ挿入する必要はありません。");
}

void FriendForm::showHelp(const QString& text)
{
    Text5->setPlainText(text);
    Text5->show();
    Text5->raise();
}

void FriendForm::Command1_MouseMove()
{
    showHelp(QStringLiteral("コピーして来たメールアドレスを貼り付けます。"));
}

void FriendForm::Command3_MouseMove()
{
    showHelp(QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの一発入力が可能になります。"));
}

void FriendForm::Command38_MouseMove()
{
    showHelp(command38HelpText());
}

void FriendForm::Command4_MouseMove()
{
    showHelp(QStringLiteral("不要になったメールアドレスを削除します。"));
}

void FriendForm::Form_MouseMove()
{
    Text5->hide();
}

void FriendForm::mouseMoveEvent(QMouseEvent* event)
{
    // Moves a child ignores arrive here too; only the bare background hides the help.
    if (!childAt(event->position().toPoint()))
        Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

bool FriendForm::eventFilter(QObject* watched, QEvent* event)
{
    // The help box lies over the list: it goes with the mouse leaving the button it explains.
    if (event->type() == QEvent::Leave)
        Form_MouseMove();
    if (event->type() == QEvent::MouseMove) {
        if (watched == Command1)
            Command1_MouseMove();
        else if (watched == Command3)
            Command3_MouseMove();
        else if (watched == Command4)
            Command4_MouseMove();
        else if (watched == Command38)
            Command38_MouseMove();
    }
    return QWidget::eventFilter(watched, event);
}

void FriendForm::reportFailure(const QString& text)
{
    hm::ui::message(this, text, QStringLiteral("エラー"), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
}
