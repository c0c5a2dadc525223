#include "common/window_keys.h"

#include <QCoreApplication>
#include <QKeyEvent>
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

} // namespace hm
