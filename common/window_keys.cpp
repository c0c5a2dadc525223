#include "common/window_keys.h"

#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace hm {
namespace {

// Sees the keys the window's controls left alone: they travel up to the window.
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
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && accept_) {
            if (accept_->isVisible() && accept_->isEnabled())
                accept_->click();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            if (reject_)
                reject_->click();
            else
                window_->close();
            return true;
        }
        return false;
    }

private:
    QWidget* window_;
    QPointer<QPushButton> accept_;
    QPointer<QPushButton> reject_;
};

} // namespace

void bindDialogKeys(QWidget* window, QPushButton* accept, QPushButton* reject)
{
    for (QPushButton* button : window->findChildren<QPushButton*>())
        button->setAutoDefault(true);
    if (accept)
        accept->setDefault(true);
    window->installEventFilter(new DialogKeys(window, accept, reject));
}

} // namespace hm
