#pragma once
#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWidget;
class QTextDocument;

// Every modal box, file dialog, print dialog and browser launch goes through here, so tests
// can answer them from a script and read what was shown.
namespace hm::ui {

enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class Icon { None, Information, Warning, Critical, Question };
enum class Answer { Ok, Cancel, Yes, No, Retry };

class Services {
public:
    virtual ~Services() = default;
    virtual Answer message(QWidget* parent, const QString& text, const QString& title,
                           Buttons buttons, Icon icon) = 0;
    // Empty when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& title, const QString& folder,
                                 const QString& filter) = 0;
    virtual QString saveFileName(QWidget* parent, const QString& title, const QString& suggested,
                                 const QString& filter) = 0;
    // ok is false when cancelled.
    virtual QString inputText(QWidget* parent, const QString& prompt, const QString& title,
                              const QString& initial, bool* ok) = 0;
    // Prints the document after the print dialog; false when cancelled or failed.
    virtual bool print(QWidget* parent, QTextDocument* document) = 0;
    virtual bool openUrl(const QUrl& url) = 0;
};

// The services in use: the Qt ones unless a test installed others.
Services& services();
// Installs s (not owned); nullptr restores the Qt services.
void setServices(Services* s);

// The program's name as the desktop entry gives it, "疾風メール": the title of boxes that have
// no title of their own.
QString programName();

// Shorthand for services().message().
Answer message(QWidget* parent, const QString& text, const QString& title = QString(),
               Buttons buttons = Buttons::Ok, Icon icon = Icon::None);

// Real dialogs.
class QtServices : public Services {
public:
    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons,
                   Icon icon) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& folder,
                         const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& suggested,
                         const QString& filter) override;
    QString inputText(QWidget* parent, const QString& prompt, const QString& title,
                      const QString& initial, bool* ok) override;
    bool print(QWidget* parent, QTextDocument* document) override;
    bool openUrl(const QUrl& url) override;
};

// Answers from queues and records what was asked. A box with only OK takes no answer; any
// other box takes the next queued answer, and one with none queued (or one its buttons do not
// offer) is noted in `unanswered` and gets its last button (No or Cancel), never a Yes nobody
// meant. An empty file-name queue cancels; print writes a PDF to printPdfPath. `leftovers()`
// names what was queued and never asked for.
class ScriptedServices : public Services {
public:
    struct Shown {
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
    };
    QQueue<Answer> answers;
    QQueue<QString> fileNames;
    QQueue<QString> inputs; // an input the queue lacks is a cancel
    QString printPdfPath;
    QList<Shown> shown;
    QStringList fileDialogs;  // titles of the file dialogs opened
    QStringList inputPrompts; // prompts of the input boxes opened
    QList<QUrl> urls;
    // The "browser": given every URL opened after it is recorded (a sign-in test follows it).
    std::function<void(const QUrl&)> browser;
    QStringList unanswered; // texts of the boxes that needed an answer the script lacked

    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons,
                   Icon icon) override;
    QString openFileName(QWidget* parent, const QString& title, const QString& folder,
                         const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& title, const QString& suggested,
                         const QString& filter) override;
    QString inputText(QWidget* parent, const QString& prompt, const QString& title,
                      const QString& initial, bool* ok) override;
    bool print(QWidget* parent, QTextDocument* document) override;
    bool openUrl(const QUrl& url) override;

    // Texts of every box shown, in order.
    QStringList texts() const;
    // What the script holds that nobody asked for, one line each; empty when all was used.
    QStringList leftovers() const;
};

} // namespace hm::ui
