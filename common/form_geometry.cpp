#include "common/form_geometry.h"

#include "common/twips.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

namespace hm {

void placeTwips(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(hm::twips(left), hm::twips(top), hm::twips(width), hm::twips(height));
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    placeTwips(b, left, top, width, height);
    return b;
}

void setOuterSizeTwips(QWidget* w, int width, int height)
{
    w->resize(hm::twips(width - kFrameWidthTwips), hm::twips(height - kFrameHeightTwips));
}

void setFixedOuterSizeTwips(QWidget* w, int width, int height)
{
    w->setFixedSize(hm::twips(width - kFrameWidthTwips), hm::twips(height - kFrameHeightTwips));
}

int outerWidthTwips(const QWidget* w)
{
    return w->width() * 15 + kFrameWidthTwips;
}

int outerHeightTwips(const QWidget* w)
{
    return w->height() * 15 + kFrameHeightTwips;
}

void centreOnScreen(QWidget* w)
{
    QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect s = screen->geometry();
    const int height = hm::twips(outerHeightTwips(w));
    const int width = hm::twips(outerWidthTwips(w));
    w->move(s.left() + (s.width() - width) / 2, s.top() + (s.height() - height) / 2);
}

} // namespace hm
