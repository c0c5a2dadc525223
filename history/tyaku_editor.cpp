// The body editor's own commands: file, clipboard, search and font switches.
#include "history/editor_text.h"
#include "history/tyaku_form.h"

#include "common/ansi_codec.h"
#include "common/form_geometry.h"
#include "common/ui_services.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QToolBar>

using hm::history::editorState;

namespace {

const QString kNewFileName = QStringLiteral("新規作成.TXT");
const QString kTextFilter = QStringLiteral("txtファイル(*.txt,*.ini) (*.txt *.ini)");

QString selectedText(const QTextEdit* editor)
{
    return editor->textCursor().selection().toPlainText();
}

// The editor works out of sight, so the user sees only the result.
class HiddenWhileWorking {
public:
    explicit HiddenWhileWorking(QTextEdit* editor) : editor_(editor) { editor_->setUpdatesEnabled(false); }
    ~HiddenWhileWorking()
    {
        editor_->setUpdatesEnabled(true);
        editor_->setFocus();
    }

private:
    QTextEdit* editor_;
};

} // namespace

void TyakuForm::createMenuBar()
{
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    const auto item = [this](QMenu* menu, const char* name, const QString& text, void (TyakuForm::*handler)()) {
        QAction* a = menu->addAction(text, this, [this, handler] { (this->*handler)(); });
        a->setObjectName(QLatin1String(name));
        return a;
    };
    mFile = menuBar->addMenu(QStringLiteral("ファイル(&F)"));
    mFile->setObjectName(QStringLiteral("mFile"));
    mnew = item(mFile, "mnew", QStringLiteral("新規作成"), &TyakuForm::mnew_Click);
    mopen = item(mFile, "mopen", QStringLiteral("開く"), &TyakuForm::mopen_Click);
    msave = item(mFile, "msave", QStringLiteral("名前を付けて保存"), &TyakuForm::msave_Click);
    mprint = item(mFile, "mprint", QStringLiteral("印刷"), &TyakuForm::mprint_Click);
    mFile->addSeparator();
    mend = item(mFile, "mend", QStringLiteral("終了"), &TyakuForm::mend_Click);
    medit = menuBar->addMenu(QStringLiteral("編集(&E)"));
    medit->setObjectName(QStringLiteral("medit"));
    mall = item(medit, "mall", QStringLiteral("全て選択"), &TyakuForm::mall_Click);
    matamajump = item(medit, "matamajump", QStringLiteral("文頭へジャンプ"), &TyakuForm::matamajump_Click);
    mbunmatujump = item(medit, "mbunmatujump", QStringLiteral("文末へジャンプ"), &TyakuForm::mbunmatujump_Click);
    medit->addSeparator();
    mkensaku = item(medit, "mkensaku", QStringLiteral("検索"), &TyakuForm::mkensaku_Click);
    mtugikensaku = item(medit, "mtugikensaku", QStringLiteral("次を検索"), &TyakuForm::mtugikensaku_Click);
    medit->addSeparator();
    mcut = item(medit, "mcut", QStringLiteral("切り取り"), &TyakuForm::mcut_Click);
    mcopy = item(medit, "mcopy", QStringLiteral("コピー"), &TyakuForm::mcopy_Click);
    mpaste = item(medit, "mpaste", QStringLiteral("貼付け"), &TyakuForm::mpaste_Click);
}

void TyakuForm::createToolBar()
{
    tbToolBar = hm::control<QToolBar>(client_, "tbToolBar");
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
}

void TyakuForm::startupLoad()
{
    const QString file = editorState().currentFile;
    // Nothing named yet: nothing to load, and nothing worth a question.
    if (file.isEmpty())
        return;
    for (;;) {
        bool ok = false;
        const QString text = hm::history::ReadPlainText(file, &ok);
        if (ok) {
            rtfEd->setPlainText(text);
            break;
        }
        if (hm::ui::message(this, QString(), hm::ui::programName() + QStringLiteral("  Form_LoadError"),
                            hm::ui::Buttons::OkCancel, hm::ui::Icon::Warning)
            != hm::ui::Answer::Ok)
            break;
    }
    editorState().modified = false;
    rtfEd->show();
}

void TyakuForm::mnew_Click()
{
    auto& state = editorState();
    if (state.currentFile.contains(kNewFileName))
        return;
    if (state.modified && !state.currentFile.isEmpty())
        hm::history::SavePlainText(state.currentFile, rtfEd->toPlainText());
    rtfEd->clear();
    // The new file is only named: nothing is written until the user saves, so no file of
    // that name is emptied and no empty file is left behind.
    state.currentFile = hm::history::FolderOf(state.currentFile) + kNewFileName;
    state.modified = false;
    setWindowTitle(QDir::toNativeSeparators(state.currentFile));
}

void TyakuForm::mopen_Click()
{
    const QString path =
        hm::ui::services().openFileName(this, QStringLiteral("開く"), QString(), kTextFilter);
    if (path.isEmpty())
        return;
    bool ok = false;
    const QString text = hm::history::ReadTextLines(path, &ok);
    if (!ok)
        return;
    setWindowTitle(path);
    rtfEd->setPlainText(text);
}

void TyakuForm::msave_Click()
{
    SetEditorText(QStringLiteral("Subject:  ") + Text7->text() + QStringLiteral("\nFrom:  ") + Text8->text()
                  + QStringLiteral("\nDate:  ") + Text9->text() + QStringLiteral("\nBody:  ") + rtfEd->toPlainText());
    const QString path =
        hm::ui::services().saveFileName(this, QStringLiteral("名前を付けて保存"), QString(), kTextFilter);
    if (path.isEmpty())
        return;
    setWindowTitle(path);
    if (!hm::history::SaveEditorText(path, rtfEd->toPlainText()))
        hm::ui::message(this, QStringLiteral("ファイルを保存できませんでした。\n") + path, QStringLiteral("エラー"));
}

void TyakuForm::mprint_Click()
{
    PrintText();
}

void TyakuForm::PrintText()
{
    QString text = rtfEd->toPlainText();
    if (rtfEd->textCursor().hasSelection()) {
        const auto* line = qobject_cast<const QLineEdit*>(QApplication::focusWidget());
        text = line && line->hasSelectedText() ? line->selectedText() : selectedText(rtfEd);
    }
    QTextDocument document;
    QFont font = rtfEd->font();
    font.setUnderline(false);
    document.setDefaultFont(font);
    document.setPlainText(text);
    hm::ui::services().print(this, &document);
}

void TyakuForm::mend_Click()
{
    close();
}

void TyakuForm::mall_Click()
{
    QTextCursor c = rtfEd->textCursor();
    c.select(QTextCursor::Document);
    rtfEd->setTextCursor(c);
}

void TyakuForm::matamajump_Click()
{
    QTextCursor c = rtfEd->textCursor();
    c.movePosition(QTextCursor::Start);
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

void TyakuForm::mbunmatujump_Click()
{
    QTextCursor c = rtfEd->textCursor();
    c.movePosition(QTextCursor::End);
    rtfEd->setTextCursor(c);
    rtfEd->setFocus();
}

void TyakuForm::mkensaku_Click()
{
    searchFrom(0);
}

void TyakuForm::mtugikensaku_Click()
{
    // Without a search text there is nothing to find again.
    if (Text1->text().isEmpty())
        return;
    const qsizetype start = editorState().lastMatch + Text1->text().size(); // 1-based
    searchFrom(std::max<qsizetype>(start, 1) - 1);
}

void TyakuForm::searchFrom(qsizetype index)
{
    const QString needle = Text1->text();
    if (needle.isEmpty())
        return;
    const qsizetype at = rtfEd->toPlainText().indexOf(needle, index, Qt::CaseSensitive);
    editorState().lastMatch = at < 0 ? 0 : static_cast<int>(at + 1);
    if (at < 0)
        return;
    rtfEd->setFocus();
    QTextCursor c = rtfEd->textCursor();
    c.setPosition(static_cast<int>(at));
    c.setPosition(static_cast<int>(at + needle.size()), QTextCursor::KeepAnchor);
    rtfEd->setTextCursor(c);
}

void TyakuForm::mcut_Click()
{
    HiddenWhileWorking hidden(rtfEd);
    QGuiApplication::clipboard()->clear();
    QTextCursor c = rtfEd->textCursor();
    const QString text = selectedText(rtfEd);
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
    c.removeSelectedText();
    rtfEd->setTextCursor(c);
}

void TyakuForm::mcopy_Click()
{
    HiddenWhileWorking hidden(rtfEd);
    QTextCursor c = rtfEd->textCursor();
    const int end = c.hasSelection() ? c.selectionEnd() : 0;
    const QString text = selectedText(rtfEd);
    QGuiApplication::clipboard()->clear();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
    c.setPosition(end);
    rtfEd->setTextCursor(c);
}

void TyakuForm::mpaste_Click()
{
    rtfEd->setFocus();
    HiddenWhileWorking hidden(rtfEd);
    const QString text = hm::history::withLf(Trim(QGuiApplication::clipboard()->text()));
    rtfEd->textCursor().insertText(text);
}

namespace {
void setBold(QFont& f, bool on)
{
    f.setBold(on);
}
void setItalic(QFont& f, bool on)
{
    f.setItalic(on);
}
void setUnderline(QFont& f, bool on)
{
    f.setUnderline(on);
}
} // namespace

void TyakuForm::switchFont(qint16& counter, void (*apply)(QFont&, bool))
{
    const bool on = counter % 2 == 0;
    QFont f = rtfEd->font();
    apply(f, on);
    rtfEd->setFont(f);
    counter = on ? 1 : 2;
}

void TyakuForm::tbToolBar_ButtonClick(const QString& key)
{
    auto& state = editorState();
    if (key == QLatin1String("New"))
        mnew_Click();
    else if (key == QLatin1String("Open"))
        mopen_Click();
    else if (key == QLatin1String("Save") || key == QLatin1String("SaveAs"))
        msave_Click();
    else if (key == QLatin1String("Print"))
        PrintText();
    else if (key == QLatin1String("Cut"))
        mcut_Click();
    else if (key == QLatin1String("Copy"))
        mcopy_Click();
    else if (key == QLatin1String("Paste"))
        mpaste_Click();
    else if (key == QLatin1String("Bold"))
        switchFont(state.boldCount, setBold);
    else if (key == QLatin1String("Italic"))
        switchFont(state.italicCount, setItalic);
    else if (key == QLatin1String("Underline"))
        switchFont(state.underlineCount, setUnderline);
}
