#include "app/command_label.h"

#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace {

// What a screen reader sees of a command: a button named by its caption, with a press action.
class CommandLabelAccessible : public QAccessibleWidget {
public:
    explicit CommandLabelAccessible(CommandLabel* label) : QAccessibleWidget(label, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return widget()->accessibleName();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            static_cast<CommandLabel*>(widget())->press();
    }
};

QAccessibleInterface* commandLabelAccessible(const QString&, QObject* object)
{
    if (auto* label = qobject_cast<CommandLabel*>(object))
        return new CommandLabelAccessible(label);
    return nullptr;
}

} // namespace

CommandLabel::CommandLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(commandLabelAccessible), true);
    Q_UNUSED(factoryInstalled);
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(caption.trimmed());
}

void CommandLabel::press()
{
    if (isEnabled())
        emit clicked();
}

void CommandLabel::focusInEvent(QFocusEvent* event)
{
    QLabel::focusInEvent(event);
    // Only a move by keyboard; the focus a window gives on opening changes nothing.
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        emit hovered();
}

void CommandLabel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        press();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CommandLabel::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    emit hovered();
}

void CommandLabel::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void CommandLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click)
        emit clicked();
}
