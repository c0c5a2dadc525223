#pragma once
#include "history/history_mode.h"
#include "store/mail_store.h"

#include <QWidget>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QTreeWidget;

// The history window: one mail store as a list, the message of the clicked row in the
// subject, sender and date boxes and the body editor, and the commands on them. The mail
// check stages each downloaded message in the same boxes before it is stored.
class TyakuForm : public QWidget {
    Q_OBJECT
public:
    explicit TyakuForm(QWidget* parent = nullptr);

    void Form_Load();
    void Form_Resize();

    // Caption, mode and list colour, then the list filled from the mode's store.
    void ShowHistory(hm::history::HistoryMode mode);
    // Empties the list and the editor and fills them from the mode's store; the boxes and
    // the editor end with the last record, the clipboard with its body.
    void RefillList();

    void MailListView_Click();
    // The six buttons; the four row commands act only on a row chosen since the last of them.
    void Command1_Click(); // copy the copy field
    void Command2_Click(); // quick save
    void Command3_Click(); // delete the chosen message
    void Command4_Click(); // register its sender in the address book
    void Command5_Click(); // reply to it
    void Command6_Click(); // delete every message of the store

    // Body editor commands.
    void mnew_Click();
    void mopen_Click();
    void msave_Click();
    void mprint_Click();
    void mend_Click();
    void mall_Click();
    void matamajump_Click();
    void mbunmatujump_Click();
    void mkensaku_Click();
    void mtugikensaku_Click();
    void mcut_Click();
    void mcopy_Click();
    void mpaste_Click();
    void tbToolBar_ButtonClick(const QString& key);
    void PrintText();

    // For the mail check: puts a received message into the boxes and the editor.
    void StageMessage(const QString& subject, const QString& from, const QString& date, const QString& body);

    // The editor's whole text with CR LF line ends; setting it takes any line ends.
    QString EditorText() const;
    void SetEditorText(const QString& text);
    // Whether a row was chosen since the last row command used the choice (the selection
    // marker the four row commands test).
    bool SelectionMarked() const;

    QMenuBar* menuBar;
    QMenu* mFile;
    QAction* mnew;
    QAction* mopen;
    QAction* msave;
    QAction* mprint;
    QAction* mend;
    QMenu* medit;
    QAction* mall;
    QAction* matamajump;
    QAction* mbunmatujump;
    QAction* mkensaku;
    QAction* mtugikensaku;
    QAction* mcut;
    QAction* mcopy;
    QAction* mpaste;
    QToolBar* tbToolBar;

    QTreeWidget* MailListView;
    QFrame* Picture1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QLabel* Label2;
    QLineEdit* Text1; // search text
    QLabel* Label4;
    QLineEdit* Text2; // row count, shown only
    QLineEdit* Text7; // subject
    QLineEdit* Text8; // sender (recipient in the sent history)
    QLineEdit* Text9; // date
    QTextEdit* rtfEd;
    QPlainTextEdit* Text4; // help box
    QStatusBar* StatusBar1;
    QLabel* CopyNote; // "全文は控えから" when the message is shown from its whole copy
    QPushButton* Command1; // copy
    QLineEdit* Text6;      // copy field

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    hm::store::Store store() const;
    QWidget* client_; // everything below the menu bar, in twips from its corner
    int editorHeightTwips_ = 3000;
    bool selectionMarked_ = false;
    bool markerTest(); // the selection-marker test of the four row commands
    // The record number kept in the selected row; 0 when no row is selected.
    qint16 selectedRecordNumber() const;
    void notSelected();
    bool confirmOverwrite(); // the question before replacing a file of the same name
    bool rowShownSincePress_ = false;
    void showMessage(const QString& title, const QString& text);
    void showRecord(const hm::store::MailRecordFields& r);
    void placeCopyControlsOnStatusBar();
    void placeCopyControlsAboveBottom();
    void mouseOver(QObject* control);
    void switchFont(qint16& counter, void (*apply)(QFont&, bool));
    void startupLoad();
    // The body editor's menus and toolbar (their commands are in tyaku_editor.cpp).
    void createMenuBar();
    void createToolBar();
    // Selects the first match of the search text at or after index (0-based).
    void searchFrom(qsizetype index);
};
