#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QList>

// The picture transitions as pure geometry: which rectangle of which buffer is stretched onto
// which rectangle of the panel in each frame. Nothing here draws.
namespace hm::effects {

constexpr int kPanelWidth = 200;
constexpr int kPanelHeight = 320;

// Transition kinds are the effect buttons' element numbers.
constexpr int kSqueezeStrips = 4;
constexpr int kSqueezeHalves = 5;
constexpr int kQuadrantFold = 6;

enum class Buffer { Old, New };

struct Transfer {
    Buffer buffer;
    QRect source;
    QRect target;
    bool operator==(const Transfer&) const = default;
};

struct Frame {
    // Fill the whole panel with the background colour before the transfers.
    bool clearFirst = false;
    QList<Transfer> transfers;
    // After the transfers the whole new buffer is copied onto the panel and the transition ends.
    bool finalCopy = false;
};

// Frames a transition of this kind runs, the one that ends with the final copy included.
int FrameCount(int kind);
// Frame number frame (0-based) of a transition of this kind.
Frame TransitionFrame(int kind, int frame);

// Top left corner at which a picture of this size sits centred 1:1 on the panel; a half
// pixel goes to the even neighbour. Negative for a picture larger than the panel.
QPoint CentredOrigin(QSize picture, QSize panel = QSize(kPanelWidth, kPanelHeight));

} // namespace hm::effects
