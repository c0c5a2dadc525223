#pragma once
#include <QLabel>

// A caption that acts as a button: clicked on release over it, hovered on every move over it.
class CommandLabel : public QLabel {
    Q_OBJECT
public:
    CommandLabel(const QString& caption, QWidget* parent);

signals:
    void clicked();
    void hovered();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};
