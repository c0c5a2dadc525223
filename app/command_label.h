#pragma once
#include <QLabel>

// A caption that acts as a button: clicked on release over it, hovered on every move over it.
// Assistive technology sees a button it can press; the keyboard reaches it with Tab and
// presses it with Space or Enter; moving there by keyboard shows it as a hover does.
class CommandLabel : public QLabel {
    Q_OBJECT
public:
    CommandLabel(const QString& caption, QWidget* parent);

    // Presses the command as a click would, unless it is disabled.
    void press();

signals:
    void clicked();
    void hovered();

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};
