#include "effects/transition_geometry.h"

#include <cmath>

namespace hm::effects {
namespace {
constexpr int W = kPanelWidth;
constexpr int H = kPanelHeight;

// Squeeze strips: r strips of width s; the new picture gains N pixels of each strip per frame.
constexpr int kStrips = 5;
constexpr int kSpeed = 8;
constexpr int kStripWidth = W / kStrips;
constexpr int kStripStep = kSpeed / kStrips + 1 + (kStrips > 1 ? 5 : 0);
constexpr int kStripFrames = kStripWidth / kStripStep + 1;

// Quadrant fold: S grows by the fold step each frame; up to 24 the picture shrinks, up to 48
// it grows back.
constexpr int kFoldStep = 2;
constexpr int kFoldFrames = 48 / kFoldStep;
constexpr int kCell = 24;
constexpr int kQuadWidth = W / 2;
constexpr int kQuadHeight = H / 2;

void squeezeStrips(Frame& f, int kind, int step)
{
    const int s = kStripWidth;
    const int a = kStripStep * step;
    for (int k = 0; k < kStrips; ++k) {
        if (kind == kSqueezeStrips) {
            f.transfers << Transfer{Buffer::Old, {s * k, 0, s, H}, {s * k, 0, s - a, H}}
                        << Transfer{Buffer::New, {s * k, 0, s, H}, {s * (k + 1) - a, 0, a, H}};
        } else {
            const int h = H / 2;
            f.transfers << Transfer{Buffer::Old, {s * k, 0, s, h}, {s * k + a, 0, s - a, h}}
                        << Transfer{Buffer::New, {s * k, 0, s, h}, {s * k, 0, a, h}}
                        << Transfer{Buffer::Old, {s * k, h, s, h}, {s * k, h, s - a, h}}
                        << Transfer{Buffer::New, {s * k, h, s, h}, {s * (k + 1) - a, h, a, h}};
        }
    }
}

enum Quadrant { UpperLeft, UpperRight, LowerLeft, LowerRight };
enum class Form { Column, Band };

QPoint origin(Quadrant q)
{
    return {q == UpperRight || q == LowerRight ? kQuadWidth : 0,
            q == LowerLeft || q == LowerRight ? kQuadHeight : 0};
}

struct Pass {
    Buffer buffer;
    Form form;
    Quadrant first;
    bool firstFalls;
    Quadrant second;
    bool secondFalls;
};

// Phase 1 (collapse) then phase 2 (expand), in drawing order.
constexpr Pass kCollapse[] = {
    {Buffer::New, Form::Column, UpperRight, true, LowerLeft, false},
    {Buffer::New, Form::Band, UpperLeft, false, LowerRight, true},
    {Buffer::Old, Form::Column, UpperLeft, true, LowerRight, false},
    {Buffer::Old, Form::Band, UpperRight, false, LowerLeft, true},
};
constexpr Pass kExpand[] = {
    {Buffer::Old, Form::Column, LowerLeft, true, UpperRight, false},
    {Buffer::Old, Form::Band, UpperLeft, true, LowerRight, false},
    {Buffer::New, Form::Column, LowerRight, true, UpperLeft, false},
    {Buffer::New, Form::Band, UpperRight, true, LowerLeft, false},
};

Transfer foldTransfer(const Pass& p, Quadrant q, bool falls, int k, int u, bool expanding)
{
    const int d = kCell - u;
    const QPoint o = origin(q);
    if (p.form == Form::Column) {
        const int t = falls ? 4 - k : k;
        const int inset = (u * t) / 4; // truncates towards zero, as the weights may be negative
        return {p.buffer, {o.x() + kCell * k, o.y(), kCell, kQuadHeight},
                {o.x() + 2 * u + d * k, o.y() + inset, d, kQuadHeight - 2 * inset}};
    }
    const int t = falls ? (expanding ? 6 : 5) - k : k;
    const int inset = (u * t) / 4;
    return {p.buffer, {o.x(), o.y() + kCell * k, kQuadWidth, kCell},
            {o.x() + inset, o.y() + 3 * u + d * k, kQuadWidth - 2 * inset, d}};
}

void quadrantFold(Frame& f, int frame)
{
    f.clearFirst = true;
    const int S = kFoldStep * (frame + 1);
    const bool expanding = S > 24;
    if (S > 48) {
        f.finalCopy = true;
        return;
    }
    const int u = expanding ? 48 - S : S;
    for (const Pass& p : expanding ? kExpand : kCollapse) {
        const int columns = p.form == Form::Column ? 5 : 7;
        for (int k = 0; k < columns; ++k) {
            f.transfers << foldTransfer(p, p.first, p.firstFalls, k, u, expanding)
                        << foldTransfer(p, p.second, p.secondFalls, k, u, expanding);
        }
    }
}
} // namespace

int FrameCount(int kind)
{
    return kind == kQuadrantFold ? kFoldFrames + 1 : kStripFrames;
}

Frame TransitionFrame(int kind, int frame)
{
    Frame f;
    if (kind == kQuadrantFold) {
        quadrantFold(f, frame);
    } else {
        squeezeStrips(f, kind, frame);
        f.finalCopy = kStripStep * (frame + 1) > kStripWidth;
    }
    return f;
}

QPoint CentredOrigin(QSize picture, QSize panel)
{
    // nearbyint rounds a half to the even neighbour in the default rounding mode.
    return {int(std::nearbyint((panel.width() - picture.width()) / 2.0)),
            int(std::nearbyint((panel.height() - picture.height()) / 2.0))};
}

} // namespace hm::effects
