#pragma once
#include <QAnyStringView>
#include <QWidget>

class QLabel;
class QPushButton;

// Window sizes are designed as outer sizes (frame and caption included) and controls are
// placed in twips; these helpers turn both into Qt client geometry. Every window builds its
// controls through control() (or button() and label()), so each has its design name.
namespace hm {

// What a Windows frame and caption take of a designed outer size.
constexpr int kFrameWidthTwips = 120;
constexpr int kFrameHeightTwips = 465;

// A size that works out below nothing (a window shrunk past its layout) places the control
// with no size rather than a negative one.
void placeTwips(QWidget* w, int left, int top, int width, int height);

// Creates a control on parent, gives it its design name and places it in twips. A control
// whose place follows the window's size is placed by the window's resize step instead.
template <class Control>
Control* control(QWidget* parent, QAnyStringView name)
{
    auto* c = new Control(parent);
    c->setObjectName(name);
    return c;
}

template <class Control>
Control* control(QWidget* parent, QAnyStringView name, int left, int top, int width, int height)
{
    auto* c = control<Control>(parent, name);
    placeTwips(c, left, top, width, height);
    return c;
}

// Moves or widens a control in twips, keeping the rest of its place.
void setLeftTwips(QWidget* w, int left);
void setWidthTwips(QWidget* w, int width);

QPushButton* button(QWidget* parent, QAnyStringView name, const QString& caption, int left, int top,
                    int width, int height);
// A label; with a buddy it is the buddy's caption: its mnemonic moves the focus there, and a
// screen reader names the buddy by it.
QLabel* label(QWidget* parent, QAnyStringView name, const QString& text, int left, int top, int width,
              int height, QWidget* buddy = nullptr);

void setOuterSizeTwips(QWidget* w, int width, int height);
// The same, for a window the user cannot resize.
void setFixedOuterSizeTwips(QWidget* w, int width, int height);
int outerWidthTwips(const QWidget* w);
int outerHeightTwips(const QWidget* w);
// Top = (screen height - window height) / 2, then left = (screen width - window width) / 2.
void centreOnScreen(QWidget* w);
// Keeps a window inside its screen's available area (the desktop's panels excluded): a
// resizable window larger than that area shrinks to it, and one that reaches past an edge
// moves back in. Every window the registry hands out passes through it.
void fitInsideScreen(QWidget* w);

} // namespace hm
