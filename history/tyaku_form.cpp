#include "history/tyaku_form.h"

#include "addressbook/friend_form.h"
#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "compose/back_form.h"
#include "history/editor_text.h"
#include "history/quick_save.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
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

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(hm::twips(left), hm::twips(top), hm::twips(std::max(width, 0)), hm::twips(std::max(height, 0)));
}

int toTwips(int pixels)
{
    return pixels * 15;
}

QPushButton* button(QWidget* parent, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setMouseTracking(true);
    return b;
}

QLineEdit* box(QWidget* parent, const QString& accessibleName)
{
    auto* e = new QLineEdit(parent);
    e->setAccessibleName(accessibleName);
    e->setMouseTracking(true);
    return e;
}

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
    setWindowTitle(caption(hm::history::CurrentHistoryMode()));
    setMouseTracking(true);

    menuBar = new QMenuBar(this);
    mFile = menuBar->addMenu(QStringLiteral("ファイル(&F)"));
    mnew = mFile->addAction(QStringLiteral("新規作成"), this, [this] { mnew_Click(); });
    mopen = mFile->addAction(QStringLiteral("開く"), this, [this] { mopen_Click(); });
    msave = mFile->addAction(QStringLiteral("名前を付けて保存"), this, [this] { msave_Click(); });
    mprint = mFile->addAction(QStringLiteral("印刷"), this, [this] { mprint_Click(); });
    mFile->addSeparator();
    mend = mFile->addAction(QStringLiteral("終了"), this, [this] { mend_Click(); });
    medit = menuBar->addMenu(QStringLiteral("編集(&E)"));
    mall = medit->addAction(QStringLiteral("全て選択"), this, [this] { mall_Click(); });
    matamajump = medit->addAction(QStringLiteral("文頭へジャンプ"), this, [this] { matamajump_Click(); });
    mbunmatujump = medit->addAction(QStringLiteral("文末へジャンプ"), this, [this] { mbunmatujump_Click(); });
    medit->addSeparator();
    mkensaku = medit->addAction(QStringLiteral("検索"), this, [this] { mkensaku_Click(); });
    mtugikensaku = medit->addAction(QStringLiteral("次を検索"), this, [this] { mtugikensaku_Click(); });
    medit->addSeparator();
    mcut = medit->addAction(QStringLiteral("切り取り"), this, [this] { mcut_Click(); });
    mcopy = medit->addAction(QStringLiteral("コピー"), this, [this] { mcopy_Click(); });
    mpaste = medit->addAction(QStringLiteral("貼付け"), this, [this] { mpaste_Click(); });

    client_ = new QWidget(this);
    client_->setMouseTracking(true);

    tbToolBar = new QToolBar(client_);
    tbToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    struct Tool {
        const char* key;
        QString face;
        QString tip;
        bool separatorBefore;
    };
    const Tool tools[] = {
        {"New", QStringLiteral("新規"), QStringLiteral("新規作成"), false},
        {"Open", QStringLiteral("開く"), QStringLiteral("開く"), false},
        {"Save", QStringLiteral("保存"), QStringLiteral("名前を付けて保存"), false},
        {"Print", QStringLiteral("印刷"), QStringLiteral("印刷"), true},
        {"Cut", QStringLiteral("切取"), QStringLiteral("切り取り"), true},
        {"Copy", QStringLiteral("ｺﾋﾟｰ"), QStringLiteral("ｺﾋﾟｰ"), false},
        {"Paste", QStringLiteral("貼付"), QStringLiteral("貼り付け"), false},
        {"Bold", QStringLiteral("B"), QStringLiteral("太字"), true},
        {"Italic", QStringLiteral("I"), QStringLiteral("斜体"), false},
        {"Underline", QStringLiteral("U"), QStringLiteral("下線"), false},
    };
    for (const Tool& t : tools) {
        if (t.separatorBefore)
            tbToolBar->addSeparator();
        const QString key = QString::fromLatin1(t.key);
        QAction* a = tbToolBar->addAction(t.face, this, [this, key] { tbToolBar_ButtonClick(key); });
        a->setObjectName(key);
        a->setData(key);
        a->setToolTip(t.tip);
    }
    {
        QFont f = tbToolBar->font();
        QAction* bold = tbToolBar->findChild<QAction*>(QStringLiteral("Bold"));
        f.setBold(true);
        bold->setFont(f);
    }

    MailListView = new QTreeWidget(client_);
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
        if (SelectedRow() == 0)
            return;
        rowShownSincePress_ = true;
        MailListView_Click();
    });

    Picture1 = new QFrame(client_);
    Picture1->setMouseTracking(true);
    Command2 = button(Picture1, QStringLiteral("TextQuickSave"));
    Command3 = button(Picture1, QStringLiteral("一件削除"));
    Command4 = button(Picture1, QStringLiteral("アドレス帳登録"));
    Command5 = button(Picture1, QStringLiteral("返事を書く"));
    Command6 = button(Picture1, QStringLiteral("全件削除"));
    Label2 = new QLabel(QStringLiteral("検索文字"), Picture1);
    Text1 = box(Picture1, QStringLiteral("検索文字"));
    Label2->setBuddy(Text1);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label4 = new QLabel(QStringLiteral("件数"), Picture1);
    Text2 = box(Picture1, QStringLiteral("件数"));
    Text2->setReadOnly(true);
    Text2->setAlignment(Qt::AlignRight);
    Label4->setBuddy(Text2);
    Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    {
        // Buttons, search text and count sit in one row of the strip under the list.
        int left = 60;
        const int top = 95;
        for (auto [w, width] : {std::pair<QWidget*, int>{Command2, 1300}, {Command3, 900}, {Command4, 1300},
                                {Command5, 1100}, {Command6, 900}, {Label2, 800}, {Text1, 1600}, {Label4, 450},
                                {Text2, 700}}) {
            place(w, left, top, width, 330);
            left += width + 60;
        }
    }

    Text7 = box(client_, QStringLiteral("Subject"));
    Text8 = box(client_, QStringLiteral("From"));
    Text9 = box(client_, QStringLiteral("Date"));

    rtfEd = new QTextEdit(client_);
    rtfEd->setAcceptRichText(false);
    rtfEd->setAccessibleName(QStringLiteral("本文"));
    rtfEd->viewport()->setMouseTracking(true);
    rtfEd->viewport()->installEventFilter(this);
    connect(rtfEd, &QTextEdit::textChanged, this, [] { hm::history::editorState().modified = true; });

    Text4 = new QPlainTextEdit(client_);
    Text4->setReadOnly(true);
    Text4->setFocusPolicy(Qt::NoFocus);
    Text4->setAccessibleName(QStringLiteral("ヘルプ"));
    // The mouse passes through to the editor below, which hides the box again.
    Text4->setAttribute(Qt::WA_TransparentForMouseEvents);
    Text4->hide();

    Text5 = new QLineEdit(client_);
    Text5->hide();

    StatusBar1 = new QStatusBar(client_);
    StatusBar1->setSizeGripEnabled(false);
    Command1 = button(client_, QStringLiteral("コピー（Subject/from/Data）"));
    Text6 = box(client_, QStringLiteral("コピー内容"));

    for (QWidget* w : {static_cast<QWidget*>(Command1), static_cast<QWidget*>(Command2), static_cast<QWidget*>(Command3),
                       static_cast<QWidget*>(Command4), static_cast<QWidget*>(Command5), static_cast<QWidget*>(Command6),
                       static_cast<QWidget*>(Text1), static_cast<QWidget*>(Text7), static_cast<QWidget*>(Text8),
                       static_cast<QWidget*>(Text9)})
        w->installEventFilter(this);

    // The date box is a fifth of the width: the window starts wide enough for a whole date.
    const int dateWidth = Text9->fontMetrics().horizontalAdvance(QStringLiteral("Wed, 30 May 2026 20:58:28 +0000")) + 16;
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
    const int width = MailListView->contentsRect().width();
    MailListView->setColumnWidth(0, width / 2);
    MailListView->setColumnWidth(1, width / 4);
    MailListView->setColumnWidth(2, width / 4);
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

    const int W = toTwips(frameGeometry().width());
    const int H = toTwips(frameGeometry().height());
    const int clientH = toTwips(client_->height());
    const int listH = H / 4;

    place(tbToolBar, 0, 0, W, kToolBarHeight);
    place(MailListView, 20, kToolBarHeight, W * 99 / 100, listH);
    place(Picture1, 0, kToolBarHeight + listH, W, 940 - kToolBarHeight);

    const int editorLeft = 20;
    const int boxTop = listH + 940;
    place(Text7, editorLeft - 15, boxTop, W / 2, kBoxHeight);
    place(Text8, editorLeft - 15 + W / 2, boxTop, W * 3 / 10, kBoxHeight);
    place(Text9, editorLeft - 15 + W / 2 + W * 3 / 10 - 20, boxTop, W / 5, kBoxHeight);

    const int statusTop = clientH - kStatusHeight;
    place(StatusBar1, 0, statusTop, W, kStatusHeight);
    const int editorTop = listH + 1300;
    if (H > 3500)
        editorHeightTwips_ = H - listH - kBoxHeight - 2000;
    // Never under the status bar, whatever the window's frame adds to its height.
    const int editorHeight = std::min(editorHeightTwips_, statusTop - 30 - editorTop);
    place(rtfEd, editorLeft, editorTop, W * 99 / 100, editorHeight);
    place(Text4, editorLeft + W * 45 / 100, editorTop + 120, W / 2, std::min(2400, editorHeight - 240));

    Text6->show();
    Command2->show();
    if (H > 3500 && isMaximized()) {
        place(Text6, 1880 + 3380, H - 1000, 3000, 270);
        place(Command1, 1880, H - 980, 3300, 270);
    } else {
        placeCopyControlsOnStatusBar();
    }
    Command1->raise();
    Text6->raise();
    Text4->raise();
}

void TyakuForm::placeCopyControlsOnStatusBar()
{
    const int statusTop = toTwips(StatusBar1->y());
    place(Command1, 1880, statusTop + 80, 3300, 270);
    place(Text6, 1880 + 3380, statusTop + 80, 3000, 270);
}

void TyakuForm::placeCopyControlsAboveBottom()
{
    const int H = toTwips(frameGeometry().height());
    place(Text6, 1880 + 3380, H - 1000, 3000, 270);
    place(Command1, 1880, H - 980, 3300, 270);
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
    const bool ok = hm::store::ReadAllRecords(
        s,
        [&rows](qint16, const hm::store::MailRecordFields& r) {
            rows.append(new QTreeWidgetItem(QStringList{CutAtNul(r.Subject), CutAtNul(r.From), CutAtNul(r.Date)}));
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
    Text7->setText(Trim(CutAtNul(r.Subject)));
    Text8->setText(Trim(CutAtNul(r.From)));
    Text9->setText(Trim(CutAtNul(r.Date)));
    // Long texts show their beginning, not their end.
    for (QLineEdit* e : {Text7, Text8, Text9})
        e->setCursorPosition(0);
    const QString body = Trim(CutAtNul(hm::history::withLf(r.Body)));
    putOnClipboard(body);
    rtfEd->setPlainText(body);
}

int TyakuForm::SelectedRow() const
{
    const QList<QTreeWidgetItem*> selected = MailListView->selectedItems();
    return selected.isEmpty() ? 0 : MailListView->indexOfTopLevelItem(selected.first()) + 1;
}

void TyakuForm::MailListView_Click()
{
    Text5->setText(QStringLiteral("1"));
    if (Text2->text().trimmed().toInt() == 0) {
        showMessage(QString(), QStringLiteral("選択するデータがありません。"));
        return;
    }
    const int row = SelectedRow();
    if (row == 0)
        return;
    if (!hm::store::ReadRecord(store(), static_cast<qint16>(row))) {
        showMessage(QStringLiteral("エラー"), hm::store::lastError());
        return;
    }
    showRecord(hm::store::RecordBuffer(store()));
    Text2->setText(QString::number(MailListView->topLevelItemCount()));
}

void TyakuForm::showMessage(const QString& title, const QString& text)
{
    hm::ui::message(this, text, title.isEmpty() ? QCoreApplication::applicationName() : title);
}

bool TyakuForm::markerTest()
{
    if (!Text5->text().isEmpty())
        return true;
    notSelected();
    return false;
}

void TyakuForm::notSelected()
{
    // No later command may act on a message the user never chose.
    Text5->clear();
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
    Text5->clear();

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
        Text5->setText(filled ? b.From.leftJustified(hm::store::kFromWidth, QLatin1Char(' ')) : QString());
    }
    if (!markerTest())
        return;
    const int row = SelectedRow();
    if (row == 0) {
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
        Text5->clear();
        return;
    }
    rtfEd->setFocus();
    Text5->clear();
    Text7->clear();
    Text8->clear();
    Text9->clear();
    rtfEd->clear();
    const bool ok = hm::store::DeleteRecord(store(), static_cast<qint16>(row));
    RefillList();
    if (!ok)
        showMessage(QStringLiteral("エラー"), hm::store::lastError());
}

void TyakuForm::Command4_Click()
{
    if (!markerTest())
        return;
    rtfEd->setFocus();
    Text5->clear();
    FriendForm::openWithAddress(Text8->text());
}

void TyakuForm::Command5_Click()
{
    if (!markerTest())
        return;
    rtfEd->setFocus();
    Text5->clear();
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
    Text9->setText(date);
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

QString TyakuForm::helpText(const QWidget* control, const TyakuForm* form)
{
    if (control == form->Command1)
        return QStringLiteral("本文以外のコピーに使用します。「Subject」「From」「Date」に表示されるデータをコピーします（貼り付けはメニューバー、ツールバーで出来ます）。Body（本文）はメニューバー、ツールバーからコピー・貼り付けが出来ます。"
                              "\r\n\r\n"
                              " 本文への貼り付け（あるいは本ソフトでの貼り付け機能がある部分）、他のアプリケーションへの貼り付けが可能です。"
                              "\r\n\r\n"
                              "コピーされる内容は右の欄に反映されます。");
    if (control == form->Command2)
        return QStringLiteral("選択したデータをテキスト形式で本ソフト内の「TextQuickSave」フォルダ内に「Subject」「From」「Date」「Boby」で保存します。ファイル名は「Subject」が自動的に当てられます。同名のファイルが既に存在する場合は警告メッセージを出します。");
    if (control == form->Command3)
        return QStringLiteral("受信したメールを１件ずつ削除します。リストでメールを選択（クリック）してから実行して下さい。");
    if (control == form->Command4)
        return QStringLiteral("受信したメールをアドレス帳に登録します。リストからメールを選択（クリック）してから実行して下さい。");
    if (control == form->Command5)
        return QStringLiteral("受信したメールに返事を出します。リストからメールを選択（クリック）してから実行して下さい。");
    if (control == form->Command6)
        return QStringLiteral("受信したメール全件削除します。");
    if (control == form->Text1)
        return QStringLiteral("検索したい文字を入力し、メニューバーから「検索」「次を検索」を選択し、検索したい文字を本文中(body)から検索します。");
    return {};
}

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
    const QString text = helpText(static_cast<QWidget*>(control), this);
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
