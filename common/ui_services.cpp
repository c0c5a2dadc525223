#include "common/ui_services.h"

#include "common/document_printer.h"
#include "common/program_module.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTextDocument>
#include <QTreeView>

namespace hm::ui {
namespace {
Services* g_installed = nullptr;
QString g_printModulePath;

// The printing function from its module, loaded at the first print (later ones find it
// loaded); null, after a message naming the module, when it cannot be loaded.
PrintDocument printModule(QWidget* parent)
{
    const QString path =
        g_printModulePath.isEmpty() ? programModulePath(QStringLiteral("hayatemail-print.so")) : g_printModulePath;
    QString reason;
    if (auto entry = reinterpret_cast<PrintModuleEntry>(moduleEntry(path, kPrintModuleEntry, &reason))) {
        if (const PrintDocument print = entry(kPrintModuleVersion))
            return print;
        reason = moduleVersionMismatch();
    }
    message(parent,
            QStringLiteral("印刷のモジュールを読み込めないため、印刷できません。\nプログラムを入れ直してください。\n\n%1\n%2")
                .arg(path, reason),
            QString(), Buttons::Ok, Icon::Warning);
    return nullptr;
}

QMessageBox::StandardButtons toQt(Buttons b)
{
    switch (b) {
    case Buttons::Ok: return QMessageBox::Ok;
    case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon toQt(Icon i)
{
    switch (i) {
    case Icon::None: return QMessageBox::NoIcon;
    case Icon::Information: return QMessageBox::Information;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// The answer that commits to nothing: the last button.
Answer lastAnswer(Buttons b)
{
    switch (b) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    default: return Answer::Cancel;
    }
}

bool offers(Buttons b, Answer a)
{
    switch (b) {
    case Buttons::Ok: return a == Answer::Ok;
    case Buttons::OkCancel: return a == Answer::Ok || a == Answer::Cancel;
    case Buttons::YesNo: return a == Answer::Yes || a == Answer::No;
    case Buttons::YesNoCancel: return a == Answer::Yes || a == Answer::No || a == Answer::Cancel;
    case Buttons::RetryCancel: return a == Answer::Retry || a == Answer::Cancel;
    }
    return false;
}

// A file dialog whose list shows its size and date columns whole, and each filter once: the
// filters already say their patterns, so Qt's own copy of them is left off.
QString runFileDialog(QWidget* parent, const QString& title, const QString& start, const QString& filter,
                      QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, title, QString(), filter);
    // A start that names a file opens its folder with the name filled in.
    const QFileInfo startInfo(start);
    if (!start.isEmpty() && !startInfo.isDir()) {
        dialog.setDirectory(startInfo.absolutePath());
        dialog.selectFile(startInfo.fileName());
    } else if (!start.isEmpty()) {
        dialog.setDirectory(start);
    }
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < list->header()->count(); ++column)
            list->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    QSize size(760, 460);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    dialog.resize(size);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

const char* nameOf(Answer a)
{
    switch (a) {
    case Answer::Ok: return "OK";
    case Answer::Cancel: return "Cancel";
    case Answer::Yes: return "Yes";
    case Answer::No: return "No";
    case Answer::Retry: return "Retry";
    }
    return "?";
}
} // namespace

Services& services()
{
    static QtServices qt;
    return g_installed ? *g_installed : qt;
}

void setServices(Services* s)
{
    g_installed = s;
}

QString programName()
{
    return QStringLiteral("疾風メール");
}

Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon)
{
    return services().message(parent, text, title, buttons, icon);
}

// ---- Qt

Answer QtServices::message(QWidget* parent, const QString& text, const QString& title,
                           Buttons buttons, Icon icon)
{
    const QString caption = title.isEmpty() ? hm::ui::programName() : title;
    QMessageBox box(toQt(icon), caption, text, toQt(buttons), parent);
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Retry: return Answer::Retry;
    default: return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

QString QtServices::openFileName(QWidget* parent, const QString& title, const QString& folder,
                                 const QString& filter)
{
    return runFileDialog(parent, title, folder, filter, QFileDialog::AcceptOpen);
}

QString QtServices::saveFileName(QWidget* parent, const QString& title, const QString& suggested,
                                 const QString& filter)
{
    return runFileDialog(parent, title, suggested, filter, QFileDialog::AcceptSave);
}

QString QtServices::inputText(QWidget* parent, const QString& prompt, const QString& title,
                              const QString& initial, bool* ok)
{
    return QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, ok);
}

bool QtServices::print(QWidget* parent, QTextDocument* document)
{
    const PrintDocument print = printModule(parent);
    return print && print(parent, document, QString());
}

bool QtServices::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

// ---- scripted

Answer ScriptedServices::message(QWidget*, const QString& text, const QString& title,
                                 Buttons buttons, Icon icon)
{
    shown.append({text, title, buttons, icon});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (answers.isEmpty()) {
        unanswered << text;
        return lastAnswer(buttons);
    }
    const Answer a = answers.dequeue();
    if (!offers(buttons, a)) {
        unanswered << QStringLiteral("%1 (answered %2)").arg(text, QLatin1String(nameOf(a)));
        return lastAnswer(buttons);
    }
    return a;
}

QString ScriptedServices::openFileName(QWidget*, const QString& title, const QString&, const QString&)
{
    fileDialogs << title;
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QString ScriptedServices::saveFileName(QWidget*, const QString& title, const QString&, const QString&)
{
    fileDialogs << title;
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QString ScriptedServices::inputText(QWidget*, const QString& prompt, const QString&, const QString&,
                                    bool* ok)
{
    inputPrompts << prompt;
    const bool have = !inputs.isEmpty();
    if (ok)
        *ok = have;
    return have ? inputs.dequeue() : QString();
}

bool ScriptedServices::print(QWidget* parent, QTextDocument* document)
{
    if (printPdfPath.isEmpty())
        return false;
    const PrintDocument print = printModule(parent);
    return print && print(parent, document, printPdfPath);
}

bool ScriptedServices::openUrl(const QUrl& url)
{
    urls << url;
    if (browser)
        browser(url);
    return true;
}

QStringList ScriptedServices::texts() const
{
    QStringList t;
    for (const Shown& s : shown)
        t << s.text;
    return t;
}

QStringList ScriptedServices::leftovers() const
{
    QStringList left;
    for (Answer a : answers)
        left << QStringLiteral("answer %1").arg(QLatin1String(nameOf(a)));
    for (const QString& name : fileNames)
        left << QStringLiteral("file name %1").arg(name);
    for (const QString& input : inputs)
        left << QStringLiteral("input %1").arg(input);
    return left;
}

void setPrintModulePath(const QString& path)
{
    g_printModulePath = path;
}

} // namespace hm::ui
