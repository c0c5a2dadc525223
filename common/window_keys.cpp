#include "common/window_keys.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>

namespace hm {

namespace {
class CtrlTabLeaves : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!(key->modifiers() & Qt::ControlModifier))
            return false;
        const bool back = key->key() == Qt::Key_Backtab
                          || (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
        if (key->key() != Qt::Key_Tab && !back)
            return false;
        // The window moves the focus as it does for a plain Tab from this editor.
        QKeyEvent plain(QEvent::KeyPress, back ? Qt::Key_Backtab : Qt::Key_Tab,
                        back ? Qt::ShiftModifier : Qt::NoModifier);
        QCoreApplication::sendEvent(static_cast<QWidget*>(watched)->window(), &plain);
        return true;
    }
};

// Keys a dialog's fields leave alone travel up to the window: Enter presses the accepting
// button, Escape the rejecting one or closes.
class DialogKeys : public QObject {
public:
    DialogKeys(QWidget* window, QPushButton* accept, QPushButton* reject)
        : QObject(window), window_(window), accept_(accept), reject_(reject)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != window_ || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier))
            return false;
        if (key->key() == Qt::Key_Escape) {
            if (reject_)
                reject_->click();
            else
                window_->close();
            return true;
        }
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if (accept_ && accept_->isVisible() && accept_->isEnabled())
            accept_->click();
        return true;
    }

private:
    QWidget* window_;
    QPointer<QPushButton> accept_;
    QPointer<QPushButton> reject_;
};
} // namespace

void pressButtonsWithEnter(QWidget* window)
{
    for (QPushButton* b : window->findChildren<QPushButton*>())
        b->setAutoDefault(true);
}

void closeOnEscape(QWidget* window, std::function<void()> close)
{
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window, std::move(close));
}

void leaveWithCtrlTab(QWidget* editor)
{
    editor->installEventFilter(new CtrlTabLeaves(editor));
}

void bindDialogKeys(QWidget* window, QPushButton* accept, QPushButton* reject)
{
    pressButtonsWithEnter(window);
    if (accept)
        accept->setDefault(true);
    window->installEventFilter(new DialogKeys(window, accept, reject));
}

} // namespace hm
