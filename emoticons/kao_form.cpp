#include "emoticons/kao_form.h"

#include "common/ansi_codec.h"
#include "common/form_geometry.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "common/window_keys.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QResizeEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <vector>

using hm::button;
using hm::label;
using hm::emoticons::kPages;

namespace {
constexpr int kOuterWidth = 11520;
constexpr int kOuterHeight = 7440;

QString clipboardText()
{
    return QApplication::clipboard()->text();
}

// Tabs with half the style's space beside their captions, so that all twelve fit side by side.
class NarrowTabs : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? value / 2 : value;
    }
};
} // namespace

KaoForm::KaoForm(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("絵・顔文字"));
    setObjectName(QStringLiteral("KaoForm"));
    SSTab1 = hm::control<QTabWidget>(this, "SSTab1", 120, 120, 11280, 5880);
    // Every caption whole and in view at once: no scroll arrows, no eliding.
    SSTab1->setUsesScrollButtons(false);
    SSTab1->setElideMode(Qt::ElideNone);
    SSTab1->tabBar()->setExpanding(false);
    auto* narrow = new NarrowTabs;
    narrow->setParent(SSTab1->tabBar());
    SSTab1->tabBar()->setStyle(narrow);

    const QString hint = QStringLiteral("本文に挿入したい部分をマウスで選択（青色反転）し、「新規作成本文に挿入」をクリック！");
    for (int p = 0; p < hm::emoticons::kPageCount; ++p) {
        const auto& info = kPages[size_t(p)];
        auto* page = new QWidget;
        SSTab1->addTab(page, QString::fromUtf8(info.caption));
        auto* box = hm::control<QPlainTextEdit>(page, info.box, 120, 120, 7800, 5160);
        box->setAccessibleName(QString::fromUtf8(info.caption));
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Pages[size_t(p)] = box;
        QLabel* help = label(page, p == 0 ? "Label1" : "Label3", hint, 8100, 120, 3000, 1800);
        if (p == 0)
            Label1 = help;
        else
            Label3[size_t(p - 1)] = help;
        InsertButtons[size_t(p)] = button(page, info.insertButton, QStringLiteral("新規作成本文に挿入"), 8100, 2100, 3000, 495);
        PasteButtons[size_t(p)] = button(page, info.pasteButton, QStringLiteral("追加（貼付）"), 8100, 2700, 3000, 495);
        connect(InsertButtons[size_t(p)], &QPushButton::clicked, this, [this, p] { Insert_Click(p); });
        connect(PasteButtons[size_t(p)], &QPushButton::clicked, this, [this, p] { Paste_Click(p); });
        if (info.favouriteButton) {
            FavouriteButtons[size_t(p)] = button(page, info.favouriteButton, QStringLiteral("お気に入りに追加"), 8100, 3300, 3000, 495);
            connect(FavouriteButtons[size_t(p)], &QPushButton::clicked, this, [this, p] { Favourite_Click(p); });
        }
    }

    Label4 = label(this, "Label4",
                   QStringLiteral("追加・削除、編集自由自在。自動で保存されます。県名や電話番号、氏名をあなた用に変更して下さい。"),
                   120, 6120, 11280, 300);
    Label6 = label(this, "Label6", QStringLiteral("文字署名"), 120, 6540, 1000, 300);
    Label5 = label(this, "Label5", QStringLiteral("https://hayatemail.example/signature/"), 1140, 6540, 4200, 300);
    Label7 = label(this, "Label7", QStringLiteral("(^-^)なページ"), 5700, 6540, 1500, 300);
    Label8 = label(this, "Label8", QStringLiteral("https://hayatemail.example/kaomoji/"), 7260, 6540, 4140, 300);

    // Every fixed text wraps inside its place, read from its top left corner.
    std::vector<QLabel*> fixedTexts{Label1, Label4, Label5, Label6, Label7, Label8};
    fixedTexts.insert(fixedTexts.end(), Label3.begin(), Label3.end());
    for (QLabel* l : fixedTexts) {
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    // The window widens (the tabs with it) where the captions need more than its design width.
    tabsWidth_ = std::max(11280, hm::twipsOf(SSTab1->tabBar()->sizeHint().width()) + 60);
    hm::setOuterSizeTwips(this, std::max(kOuterWidth, tabsWidth_ + 240), kOuterHeight);

    hm::pressButtonsWithEnter(this);
    hm::closeOnEscape(this, [this] { close(); });
}

// On a screen too narrow for every caption side by side, the window keeps inside it and the
// tabs get their scroll arrows: every page stays reachable.
void KaoForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int width = std::min(tabsWidth_, hm::twipsOf(this->width()) - 240);
    hm::setWidthTwips(SSTab1, width);
    SSTab1->setUsesScrollButtons(width < tabsWidth_);
}

void KaoForm::setBody(QPlainTextEdit* body)
{
    body_ = body;
}

void KaoForm::Form_Load()
{
    for (int p = 0; p < hm::emoticons::kPageCount; ++p) {
        // A missing folder or page leaves the page empty.
        Pages[size_t(p)]->setPlainText(hm::emoticons::ReadPage(p));
        Pages[size_t(p)]->moveCursor(QTextCursor::Start);
        loaded_[size_t(p)] = Pages[size_t(p)]->toPlainText();
    }
    saved_ = false;
}

void KaoForm::Form_Unload()
{
    if (saved_)
        return;
    saved_ = true;
    QStringList failed;
    for (int p = 0; p < hm::emoticons::kPageCount; ++p) {
        const QString text = Pages[size_t(p)]->toPlainText();
        // An untouched page keeps its file exactly as it was, bytes the box cannot hold included.
        if (text == loaded_[size_t(p)])
            continue;
        if (hm::emoticons::WritePage(p, text))
            loaded_[size_t(p)] = text;
        else
            failed << hm::emoticons::PagePath(kPages[size_t(p)].writeName);
    }
    if (!failed.isEmpty())
        hm::ui::message(this, QStringLiteral("顔文字データを保存できませんでした。\n\n") + failed.join(QLatin1Char('\n')),
                        QString(), hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
}

void KaoForm::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void KaoForm::markPiece(int page)
{
    QPlainTextEdit* box = Pages[size_t(page)];
    QTextCursor c = box->textCursor();
    const int after = c.hasSelection() ? c.selectionEnd() : 0;
    QString piece = c.selectedText();
    piece.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    QClipboard* clipboard = QApplication::clipboard();
    clipboard->clear();
    clipboard->setText(piece);
    c.setPosition(after);
    box->setTextCursor(c);
    box->setFocus();
}

void KaoForm::Insert_Click(int page)
{
    markPiece(page);
    if (body_)
        body_->insertPlainText(Trim(clipboardText()));
    close();
}

void KaoForm::Paste_Click(int page)
{
    Pages[size_t(page)]->insertPlainText(Trim(clipboardText()));
}

void KaoForm::Favourite_Click(int page)
{
    markPiece(page);
    // At the favourites' caret: a selection left on that page, out of sight, is not replaced.
    QPlainTextEdit* favourites = Pages[hm::emoticons::kFavouritesPage];
    QTextCursor caret = favourites->textCursor();
    caret.clearSelection();
    caret.insertText(Trim(clipboardText()));
    favourites->setTextCursor(caret);
}
