#include "app/command_label.h"

#include <QMouseEvent>

CommandLabel::CommandLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    setMouseTracking(true);
    setAccessibleName(caption.trimmed());
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
