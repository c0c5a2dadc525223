#include "history/tyaku_form.h"

#include "addressbook/friend_form.h"
#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/clock_text.h"
#include "common/form_geometry.h"
#include "common/mail_date.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "compose/back_form.h"
#include "history/editor_text.h"
#include "history/quick_save.h"
#include "mail/nmail.h"
#include "store/whole_copy.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolBar>
#include <QTreeWidget>

using hm::history::HistoryMode;
using hm::store::Store;

namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");
const QString kConfirm = QStringLiteral("確認");

constexpr int kToolBarHeight = 420;
constexpr int kBoxHeight = 300;
constexpr int kStatusHeight = 390;

// The help box's text for each control that has one, the same in both modes.
const QHash<QString, QString>& helpTexts()
{
    static const QHash<QString, QString> texts{
        {QStringLiteral("Command1"),
         QStringLiteral("本文以外のコピーに使用します。「Subject」「From」「Date」に表示されるデータをコピーします（貼り付けはメニューバー、ツールバーで出来ます）。Body（本文）はメニューバー、ツールバーからコピー・貼り付けが出来ます。"
                        "\r\n\r\n"
                        " 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、他のアプリケーションへの貼り付けが可能です。"
                        "\r\n\r\n"
                        "コピーされる内容は右の欄に反映されます。")},
        {QStringLiteral("Command2"),
         QStringLiteral("選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ内に「Subject」「From」「Date」「Boby」で保存します。ファイル名は「Subject」が自動的に当てられます。同名のファイルが既に存在する場合は警告メッセージを出します。")},
        {QStringLiteral("Command3"),
         QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。")},
        {QStringLiteral("Command4"),
         QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。")},
        {QStringLiteral("Command5"),
         QStringLiteral("受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。")},
        {QStringLiteral("Command6"), QStringLiteral("受信したメール全件削除します。")},
        {QStringLiteral("Text1"),
         QStringLiteral("検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、検索したい文字を本文中(body)から検索します。")},
    };
    return texts;
}

// The widest date the list and the date box show.
QString widestDate()
{
    return hm::formatClockText(QDateTime(QDate(2026, 12, 30), QTime(20, 58, 58)));
}

// The record a row shows, kept in the row so that the row's place in the list never stands
// for the record number.
constexpr int kRecordNumberRole = Qt::UserRole;

QString caption(HistoryMode mode)
{
    return mode == HistoryMode::Received ? QStringLiteral("着信履歴") : QStringLiteral("送信履歴");
}

QColor listColour(HistoryMode mode)
{
    return mode == HistoryMode::Received ? QColor(210, 250, 250) : QColor(250, 250, 255);
}

// The body passes through the clipboard once, so it can be pasted elsewhere at once.
void putOnClipboard(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    if (!text.isEmpty())
        clipboard->setText(text);
}

} // namespace

TyakuForm::TyakuForm(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("TyakuForm"));
    setWindowTitle(caption(hm::history::CurrentHistoryMode()));
    setMouseTracking(true);

    createMenuBar();

    // Everything below the menu bar; the controls' places follow the window's size (Form_Resize).
    client_ = new QWidget(this);
    client_->setMouseTracking(true);

    createToolBar();

    MailListView = hm::control<QTreeWidget>(client_, "MailListView");
    MailListView->setColumnCount(3);
    MailListView->setHeaderLabels({QStringLiteral("Subject"), QStringLiteral("From"), QStringLiteral("Date")});
    MailListView->setRootIsDecorated(false);
    MailListView->setSelectionMode(QAbstractItemView::SingleSelection);
    MailListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    MailListView->setAllColumnsShowFocus(true);
    MailListView->setUniformRowHeights(true);
    MailListView->setAutoFillBackground(true);
    MailListView->setAccessibleName(QStringLiteral("メール一覧"));
    MailListView->viewport()->setMouseTracking(true);
    MailListView->viewport()->installEventFilter(this);
    // Moving the selection with the keyboard shows the row it reaches, as a click does.
    connect(MailListView, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (selectedRecordNumber() == 0)
            return;
        rowShownSincePress_ = true;
        MailListView_Click();
    });

    Picture1 = hm::control<QFrame>(client_, "Picture1");
    Command2 = hm::button(Picture1, "Command2", QStringLiteral("TextQuickSave"), 60, 95, 1300, 330);
    Command3 = hm::button(Picture1, "Command3", QStringLiteral("一件削除"), 1420, 95, 900, 330);
    Command4 = hm::button(Picture1, "Command4", QStringLiteral("アドレス帳登録"), 2380, 95, 1300, 330);
    Command5 = hm::button(Picture1, "Command5", QStringLiteral("返事を書く"), 3740, 95, 1100, 330);
    Command6 = hm::button(Picture1, "Command6", QStringLiteral("全件削除"), 4900, 95, 900, 330);
    Label2 = hm::label(Picture1, "Label2", QStringLiteral("検索文字"), 5860, 95, 800, 330);
    Text1 = hm::control<QLineEdit>(Picture1, "Text1", 6720, 95, 1600, 330);
    Label4 = hm::label(Picture1, "Label4", QStringLiteral("件数"), 8380, 95, 450, 330);
    Text2 = hm::control<QLineEdit>(Picture1, "Text2", 8890, 95, 700, 330);
    Label2->setBuddy(Text1);
    Label4->setBuddy(Text2);
    Text1->setAccessibleName(QStringLiteral("検索文字"));
    Text2->setAccessibleName(QStringLiteral("件数"));
    Text2->setReadOnly(true);
    Text2->setAlignment(Qt::AlignRight);
    for (QLabel* l : {Label2, Label4})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Text7 = hm::control<QLineEdit>(client_, "Text7");
    Text8 = hm::control<QLineEdit>(client_, "Text8");
    Text9 = hm::control<QLineEdit>(client_, "Text9");
    Text7->setAccessibleName(QStringLiteral("Subject"));
    Text8->setAccessibleName(QStringLiteral("From"));
    Text9->setAccessibleName(QStringLiteral("Date"));

    rtfEd = hm::control<QTextEdit>(client_, "rtfEd");
    rtfEd->setAcceptRichText(false);
    rtfEd->setAccessibleName(QStringLiteral("本文"));
    rtfEd->viewport()->setMouseTracking(true);
    rtfEd->viewport()->installEventFilter(this);
    connect(rtfEd, &QTextEdit::textChanged, this, [] { hm::history::editorState().modified = true; });

    Text4 = hm::control<QPlainTextEdit>(client_, "Text4");
    Text4->setReadOnly(true);
    Text4->setFocusPolicy(Qt::NoFocus);
    Text4->setAccessibleName(QStringLiteral("ヘルプ"));
    // The mouse passes through to the editor below, which hides the box again.
    Text4->setAttribute(Qt::WA_TransparentForMouseEvents);
    Text4->hide();

    StatusBar1 = hm::control<QStatusBar>(client_, "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    // Right of the copy controls that sit on the status bar: where a message shown whole
    // from its kept copy says so.
    CopyNote = new QLabel(StatusBar1);
    CopyNote->setObjectName(QStringLiteral("CopyNote"));
    StatusBar1->addPermanentWidget(CopyNote);
    Command1 = hm::control<QPushButton>(client_, "Command1");
    Command1->setText(QStringLiteral("コピー（Subject/from/Data）"));
    Text6 = hm::control<QLineEdit>(client_, "Text6");
    Text6->setAccessibleName(QStringLiteral("コピー内容"));

    for (QWidget* w : std::initializer_list<QWidget*>{Picture1, Command1, Command2, Command3, Command4, Command5,
                                                      Command6, Text1, Text2, Text6, Text7, Text8, Text9})
        w->setMouseTracking(true);
    for (QWidget* w : std::initializer_list<QWidget*>{Command1, Command2, Command3, Command4, Command5, Command6,
                                                      Text1, Text7, Text8, Text9})
        w->installEventFilter(this);

    // The date box is a fifth of the width: the window starts wide enough for a whole date.
    const int dateWidth = Text9->fontMetrics().horizontalAdvance(widestDate()) + 16;
    resize(std::max(720, 5 * dateWidth), 600);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });

    Form_Resize();
}

void TyakuForm::Form_Load()
{
    // The subject takes what From and Date leave, so a narrow window loses subject text
    // first and keeps the sender and the whole date in sight.
    const int width = MailListView->contentsRect().width();
    const int dateWidth = MailListView->fontMetrics().horizontalAdvance(widestDate()) + 16;
    QHeaderView* header = MailListView->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    MailListView->setColumnWidth(1, width / 4);
    MailListView->setColumnWidth(2, std::max(width / 4, dateWidth));
    startupLoad();
}

Store TyakuForm::store() const
{
    return hm::history::CurrentHistoryMode() == HistoryMode::Received ? Store::Received : Store::Sent;
}

void TyakuForm::resizeEvent(QResizeEvent*)
{
    Form_Resize();
}

void TyakuForm::Form_Resize()
{
    const int menuHeight = menuBar->sizeHint().height();
    menuBar->setGeometry(0, 0, width(), menuHeight);
    client_->setGeometry(0, menuHeight, width(), height() - menuHeight);

    const int W = hm::twipsOf(frameGeometry().width());
    const int H = hm::twipsOf(frameGeometry().height());
    const int clientH = hm::twipsOf(client_->height());
    const int listH = H / 4;

    hm::placeTwips(tbToolBar, 0, 0, W, kToolBarHeight);
    hm::placeTwips(MailListView, 20, kToolBarHeight, W * 99 / 100, listH);
    hm::placeTwips(Picture1, 0, kToolBarHeight + listH, W, 940 - kToolBarHeight);

    const int editorLeft = 20;
    const int boxTop = listH + 940;
    hm::placeTwips(Text7, editorLeft - 15, boxTop, W / 2, kBoxHeight);
    hm::placeTwips(Text8, editorLeft - 15 + W / 2, boxTop, W * 3 / 10, kBoxHeight);
    hm::placeTwips(Text9, editorLeft - 15 + W / 2 + W * 3 / 10 - 20, boxTop, W / 5, kBoxHeight);

    const int statusTop = clientH - kStatusHeight;
    hm::placeTwips(StatusBar1, 0, statusTop, W, kStatusHeight);
    const int editorTop = listH + 1300;
    if (H > 3500)
        editorHeightTwips_ = H - listH - kBoxHeight - 2000;
    // Never under the status bar, whatever the window's frame adds to its height.
    const int editorHeight = std::min(editorHeightTwips_, statusTop - 30 - editorTop);
    hm::placeTwips(rtfEd, editorLeft, editorTop, W * 99 / 100, editorHeight);
    hm::placeTwips(Text4, editorLeft + W * 45 / 100, editorTop + 120, W / 2, std::min(2400, editorHeight - 240));

    Text6->show();
    Command2->show();
    if (H > 3500 && isMaximized()) {
        hm::placeTwips(Text6, 1880 + 3380, H - 1000, 3000, 270);
        hm::placeTwips(Command1, 1880, H - 980, 3300, 270);
    } else {
        placeCopyControlsOnStatusBar();
    }
    Command1->raise();
    Text6->raise();
    Text4->raise();
}

void TyakuForm::placeCopyControlsOnStatusBar()
{
    const int statusTop = hm::twipsOf(StatusBar1->y());
    hm::placeTwips(Command1, 1880, statusTop + 80, 3300, 270);
    hm::placeTwips(Text6, 1880 + 3380, statusTop + 80, 3000, 270);
}

void TyakuForm::placeCopyControlsAboveBottom()
{
    const int H = hm::twipsOf(frameGeometry().height());
    hm::placeTwips(Text6, 1880 + 3380, H - 1000, 3000, 270);
    hm::placeTwips(Command1, 1880, H - 980, 3300, 270);
}

// ---- opening and the list

void TyakuForm::ShowHistory(HistoryMode mode)
{
    setWindowTitle(caption(mode));
    hm::history::CurrentHistoryMode() = mode;
    QPalette p = MailListView->palette();
    p.setColor(QPalette::Base, listColour(mode));
    MailListView->setPalette(p);
    RefillList();
}

void TyakuForm::RefillList()
{
    const Store s = store();
    MailListView->setUpdatesEnabled(false);
    const QSignalBlocker quiet(MailListView); // a refill is no choice of the user's
    MailListView->clear();
    rtfEd->clear();

    QList<QTreeWidgetItem*> rows;
    const hm::MailDateDisplay shownDate;
    const bool ok = hm::store::ReadAllRecords(
        s,
        [&rows, &shownDate](qint16 number, const hm::store::MailRecordFields& r) {
            auto* row = new QTreeWidgetItem(QStringList{CutAtNul(r.Subject), CutAtNul(r.From), shownDate(CutAtNul(r.Date))});
            row->setData(0, kRecordNumberRole, number);
            rows.append(row);
        },
        hm::store::Fields::Headers);
    MailListView->addTopLevelItems(rows);
    MailListView->setUpdatesEnabled(true);

    // Only the last record stays visible, so the boxes, the editor and the clipboard are
    // filled once with it rather than once per record.
    if (!rows.isEmpty())
        showRecord(hm::store::RecordBuffer(s));
    Text2->setText(QString::number(rows.size()));
    if (!ok)
        showMessage(QStringLiteral("エラー"), hm::store::lastError());
}

void TyakuForm::showRecord(const hm::store::MailRecordFields& r)
{
    QString subject = Trim(CutAtNul(r.Subject));
    QString from = Trim(CutAtNul(r.From));
    QString body = Trim(CutAtNul(hm::history::withLf(r.Body)));
    CopyNote->clear();
    CopyNote->setToolTip(QString());
    // A message the store could not hold as it came is shown whole from its copy; the record
    // stays as it is.
    if (const QString path = hm::store::wholeCopyPathIn(CutAtNul(r.Body)); !path.isEmpty()) {
        const QString copy = QFileInfo(path).fileName();
        QString fullSubject, fullFrom, fullTo, fullBody;
        if (hm::mail::NMailReadMessageFile(path, fullSubject, fullFrom, fullTo, fullBody) == 0) {
            // A sent record keeps the recipient where a received one keeps the sender.
            const QString& other = store() == Store::Sent ? fullTo : fullFrom;
            subject = fullSubject.isEmpty() ? subject : fullSubject;
            from = other.isEmpty() ? from : other;
            body = Trim(hm::history::withLf(fullBody));
            CopyNote->setText(QStringLiteral("全文は控えから"));
            CopyNote->setToolTip(QStringLiteral("全文を控えの「%1」から表示しています。").arg(QDir::toNativeSeparators(path)));
        } else {
            QString why;
            int length = 0;
            hm::mail::NMailGetMessage(0, why, length);
            CopyNote->setText(QStringLiteral("控えを読めません"));
            CopyNote->setToolTip(QStringLiteral("全文の控え「%1」を読めないため、保存された本文を表示しています。\n%2").arg(copy, why));
        }
    }
    CopyNote->setAccessibleDescription(CopyNote->toolTip());
    Text7->setText(subject);
    Text8->setText(from);
    Text9->setText(hm::displayedMailDate(Trim(CutAtNul(r.Date))));
    // Long texts show their beginning, not their end.
    for (QLineEdit* e : {Text7, Text8, Text9})
        e->setCursorPosition(0);
    putOnClipboard(body);
    rtfEd->setPlainText(body);
}

qint16 TyakuForm::selectedRecordNumber() const
{
    const QList<QTreeWidgetItem*> selected = MailListView->selectedItems();
    return selected.isEmpty() ? 0 : selected.first()->data(0, kRecordNumberRole).value<qint16>();
}

bool TyakuForm::SelectionMarked() const
{
    return selectionMarked_;
}

void TyakuForm::MailListView_Click()
{
    selectionMarked_ = true;
    if (MailListView->topLevelItemCount() == 0) {
        showMessage(QString(), QStringLiteral("選択するデータがありません。"));
        return;
    }
    const qint16 number = selectedRecordNumber();
    if (number == 0)
        return;
    if (!hm::store::ReadRecord(store(), number)) {
        showMessage(QStringLiteral("エラー"), hm::store::lastError());
        return;
    }
    showRecord(hm::store::RecordBuffer(store()));
    Text2->setText(QString::number(MailListView->topLevelItemCount()));
}

void TyakuForm::showMessage(const QString& title, const QString& text)
{
    hm::ui::message(this, text, title.isEmpty() ? hm::ui::programName() : title);
}

bool TyakuForm::markerTest()
{
    if (selectionMarked_)
        return true;
    notSelected();
    return false;
}

void TyakuForm::notSelected()
{
    // No later command may act on a message the user never chose.
    selectionMarked_ = false;
    showMessage(QString(), kNotSelected);
}

// ---- the six buttons

void TyakuForm::Command1_Click()
{
    putOnClipboard(Text6->text());
}

void TyakuForm::Command2_Click()
{
    if (!markerTest())
        return;
    rtfEd->setFocus();
    selectionMarked_ = false;

    const QString path = hm::history::QuickSavePath(Text7->text());
    const QString folder = hm::history::QuickSaveFolder();
    if (path.isEmpty() || !QDir().mkpath(folder)) {
        showMessage(QStringLiteral("エラー"),
                    QStringLiteral("TextQuickSave フォルダを作成できませんでした。\n") + QDir::toNativeSeparators(folder));
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QFileInfo existing(path);
    const bool exists = existing.exists() || existing.isSymLink();
    QApplication::restoreOverrideCursor();
    if (exists && !confirmOverwrite())
        return;

    const QString text = hm::history::QuickSaveText(Text7->text(), Text8->text(), Text9->text(), EditorText());
    // A new file replaces whatever had the name; a link there is not written through.
    if (!hm::writeFileAtomically(path, hm::ansi::encode(text + QStringLiteral("\r\n")), true)) {
        showMessage(QStringLiteral("エラー"),
                    QStringLiteral("ファイルを保存できませんでした。\n") + QDir::toNativeSeparators(path));
        return;
    }
    SetEditorText(text);
}

bool TyakuForm::confirmOverwrite()
{
    return hm::ui::message(this, QStringLiteral("同名のファイルが既に存在します。上書きしますか？ "), kConfirm,
                           hm::ui::Buttons::YesNo, hm::ui::Icon::Question)
        == hm::ui::Answer::Yes;
}

void TyakuForm::Command3_Click()
{
    const bool sent = hm::history::CurrentHistoryMode() == HistoryMode::Sent;
    if (sent) {
        // The sent history tests the sent store's buffer instead of a click in the list.
        const hm::store::MailRecordFields& b = hm::store::RecordBuffer(Store::Sent);
        const bool filled = b.Live != 0 || !b.Subject.isEmpty() || !b.From.isEmpty() || !b.Date.isEmpty()
            || !b.Body.isEmpty();
        selectionMarked_ = filled;
    }
    if (!markerTest())
        return;
    const qint16 number = selectedRecordNumber();
    if (number == 0) {
        // Without a selected row there is nothing the user chose to delete.
        notSelected();
        return;
    }
    const QString question = sent ? QStringLiteral("選択された（行、青色）データを削除します。よろしいですか?")
                                  : QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
    if (hm::ui::message(this, question, kConfirm, hm::ui::Buttons::YesNo, hm::ui::Icon::Question)
        != hm::ui::Answer::Yes) {
        rtfEd->setFocus();
        rtfEd->clear();
        selectionMarked_ = false;
        return;
    }
    rtfEd->setFocus();
    selectionMarked_ = false;
    Text7->clear();
    Text8->clear();
    Text9->clear();
    rtfEd->clear();
    const bool ok = hm::store::DeleteRecord(store(), number);
    RefillList();
    if (!ok)
        showMessage(QStringLiteral("エラー"), hm::store::lastError());
}

void TyakuForm::Command4_Click()
{
    if (!markerTest())
        return;
    rtfEd->setFocus();
    selectionMarked_ = false;
    FriendForm::openWithAddress(Text8->text());
}

void TyakuForm::Command5_Click()
{
    if (!markerTest())
        return;
    rtfEd->setFocus();
    selectionMarked_ = false;
    hm::compose::OpenReply(Trim(Text7->text()), Trim(Text8->text()), Trim(EditorText()));
}

void TyakuForm::Command6_Click()
{
    if (hm::ui::message(this, QStringLiteral("すべてのデータを削除して良いですか？"), kConfirm, hm::ui::Buttons::YesNo,
                        hm::ui::Icon::Question)
        != hm::ui::Answer::Yes)
        return;
    if (!hm::store::DeleteAllRecords(store())) {
        showMessage(QStringLiteral("エラー"), hm::store::lastError());
        RefillList();
        return;
    }
    MailListView->clear();
    Text2->setText(QStringLiteral("0"));
    Text7->clear();
    Text8->clear();
    Text9->clear();
    rtfEd->clear();
}

// ---- the mail check's staging area

void TyakuForm::StageMessage(const QString& subject, const QString& from, const QString& date, const QString& body)
{
    Text7->setText(subject);
    Text8->setText(from);
    Text9->setText(hm::displayedMailDate(date));
    SetEditorText(body);
}

QString TyakuForm::EditorText() const
{
    return hm::history::withCrLf(rtfEd->toPlainText());
}

void TyakuForm::SetEditorText(const QString& text)
{
    rtfEd->setPlainText(hm::history::withLf(text));
}

// ---- help box

void TyakuForm::mouseOver(QObject* control)
{
    if (control == Text7 || control == Text8 || control == Text9) {
        Text6->setText(static_cast<QLineEdit*>(control)->text());
        return;
    }
    if (control == MailListView->viewport() || control == rtfEd->viewport()) {
        if (control == MailListView->viewport())
            Text4->clear();
        Text4->hide();
        placeCopyControlsAboveBottom();
        return;
    }
    const QString text = helpTexts().value(control->objectName());
    if (text.isEmpty())
        return;
    Text4->setPlainText(hm::history::withLf(text));
    Text4->show();
    Text4->raise();
}

bool TyakuForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove)
        mouseOver(watched);
    // The box lies over the body: it stays only while the mouse is on what it explains.
    if (event->type() == QEvent::Leave && helpTexts().contains(watched->objectName()))
        Text4->hide();
    if (watched == MailListView->viewport() && event->type() == QEvent::MouseButtonPress)
        rowShownSincePress_ = false;
    // A click that moved the current row has shown it already.
    if (watched == MailListView->viewport() && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && !rowShownSincePress_)
        MailListView_Click();
    return QWidget::eventFilter(watched, event);
}

void TyakuForm::mouseMoveEvent(QMouseEvent* event)
{
    // Moves that controls pass up are theirs; only the window's own background counts here.
    QWidget* under = childAt(event->position().toPoint());
    if (under == nullptr || under == client_ || under == Picture1)
        placeCopyControlsOnStatusBar();
    QWidget::mouseMoveEvent(event);
}
