#pragma once
#include "emoticons/emoticon_pages.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

// "絵・顔文字": twelve editable pages of text pictures. A piece marked on a page goes into the
// compose window's body; favourites gather on the last page. Every page is read from its file
// when the window opens and written back when it closes.
class KaoForm : public QWidget {
    Q_OBJECT
public:
    explicit KaoForm(QWidget* parent = nullptr);

    void Form_Load();
    void Form_Unload();
    // The compose window's body, into whose selection the insert buttons write. When that
    // window has been closed meanwhile, an insert only closes the palette.
    void setBody(QPlainTextEdit* body);

    // "新規作成本文に挿入", "追加（貼付）" and "お気に入りに追加" of a page.
    void Insert_Click(int page);
    void Paste_Click(int page);
    void Favourite_Click(int page);

    QTabWidget* SSTab1;
    // Kao1, Text1 … Text11, in tab order; the buttons by page (the favourites page has none).
    std::array<QPlainTextEdit*, hm::emoticons::kPageCount> Pages{};
    std::array<QPushButton*, hm::emoticons::kPageCount> InsertButtons{};
    std::array<QPushButton*, hm::emoticons::kPageCount> PasteButtons{};
    std::array<QPushButton*, hm::emoticons::kPageCount> FavouriteButtons{};
    QLabel* Label1;
    std::array<QLabel*, 11> Label3{};
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Puts the page's selected text on the clipboard and collapses the selection behind it.
    void markPiece(int page);

    QPointer<QPlainTextEdit> body_;
    // What each page held when it was read; a page that still holds it is left on disk as is.
    std::array<QString, hm::emoticons::kPageCount> loaded_;
    bool saved_ = false;
    // The width in twips the tabs take side by side, every caption whole.
    int tabsWidth_ = 0;
};
