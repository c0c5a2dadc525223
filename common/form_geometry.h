#pragma once
#include <QWidget>

class QPushButton;

// Window sizes are designed as outer sizes (frame and caption included) and controls are
// placed in twips; these helpers turn both into Qt client geometry.
namespace hm {

// What a Windows frame and caption take of a designed outer size.
constexpr int kFrameWidthTwips = 120;
constexpr int kFrameHeightTwips = 465;

void placeTwips(QWidget* w, int left, int top, int width, int height);
// A named button placed in twips.
QPushButton* button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height);
void setOuterSizeTwips(QWidget* w, int width, int height);
// The same, for a window the user cannot resize.
void setFixedOuterSizeTwips(QWidget* w, int width, int height);
int outerWidthTwips(const QWidget* w);
int outerHeightTwips(const QWidget* w);
// Top = (screen height - window height) / 2, then left = (screen width - window width) / 2.
void centreOnScreen(QWidget* w);

} // namespace hm
