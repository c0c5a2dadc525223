#include "common/form_geometry.h"

#include "common/twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace hm {
namespace {

// "&S" marks a mnemonic and "&&" stands for "&", as a reader hears the caption.
QString withoutMnemonic(const QString& caption)
{
    QString out;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        out += caption[i];
    }
    return out;
}

} // namespace

void placeTwips(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(hm::twips(left), hm::twips(top), hm::twips(std::max(width, 0)), hm::twips(std::max(height, 0)));
}

void setLeftTwips(QWidget* w, int left)
{
    w->move(hm::twips(left), w->y());
}

void setWidthTwips(QWidget* w, int width)
{
    w->resize(hm::twips(width), w->height());
}

QPushButton* button(QWidget* parent, QAnyStringView name, const QString& caption, int left, int top,
                    int width, int height)
{
    auto* b = control<QPushButton>(parent, name, left, top, width, height);
    b->setText(caption);
    return b;
}

QLabel* label(QWidget* parent, QAnyStringView name, const QString& text, int left, int top, int width,
              int height, QWidget* buddy)
{
    auto* l = control<QLabel>(parent, name, left, top, width, height);
    l->setText(text);
    if (buddy) {
        l->setBuddy(buddy);
        buddy->setAccessibleName(withoutMnemonic(text));
    }
    return l;
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
    return twipsOf(w->width()) + kFrameWidthTwips;
}

int outerHeightTwips(const QWidget* w)
{
    return twipsOf(w->height()) + kFrameHeightTwips;
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

void fitInsideScreen(QWidget* w)
{
    QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // Before its first showing a window has no frame yet: count the designed one.
    QSize frame = w->frameGeometry().size() - w->size();
    if (frame.isNull())
        frame = QSize(hm::twips(kFrameWidthTwips), hm::twips(kFrameHeightTwips));
    if (w->minimumSize() != w->maximumSize())
        w->resize(w->size().boundedTo(area.size() - frame).expandedTo(w->minimumSize()));
    const QSize outer = w->size() + frame;
    const QRect now(w->pos(), outer);
    if (area.contains(now))
        return;
    const int x = std::max(area.left(), std::min(now.left(), area.right() + 1 - outer.width()));
    const int y = std::max(area.top(), std::min(now.top(), area.bottom() + 1 - outer.height()));
    w->move(x, y);
}

} // namespace hm
