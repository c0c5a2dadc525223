#include "effects/transition_painter.h"

#include <QPainter>

namespace hm::effects {

void StretchNearest(QImage& onto, const QRect& target, const QImage& from, const QRect& source,
                    QRgb outside)
{
    if (target.width() <= 0 || target.height() <= 0 || source.width() <= 0 || source.height() <= 0)
        return;
    const QRect clipped = target & onto.rect();
    const qint64 tw = target.width(), th = target.height();
    for (int y = clipped.top(); y <= clipped.bottom(); ++y) {
        const int sy = source.y() + int((2 * (y - target.y()) + 1) * qint64(source.height()) / (2 * th));
        const bool rowInside = sy >= 0 && sy < from.height();
        const auto* in = rowInside ? reinterpret_cast<const QRgb*>(from.constScanLine(sy)) : nullptr;
        auto* out = reinterpret_cast<QRgb*>(onto.scanLine(y));
        for (int x = clipped.left(); x <= clipped.right(); ++x) {
            const int sx = source.x() + int((2 * (x - target.x()) + 1) * qint64(source.width()) / (2 * tw));
            out[x] = rowInside && sx >= 0 && sx < from.width() ? in[sx] : outside;
        }
    }
}

void PaintFrame(QImage& panel, const Frame& frame, const QImage& oldBuffer, const QImage& newBuffer,
                QColor background)
{
    const QRgb fill = background.rgb();
    if (frame.clearFirst)
        panel.fill(fill);
    for (const Transfer& t : frame.transfers)
        StretchNearest(panel, t.target, t.buffer == Buffer::New ? newBuffer : oldBuffer, t.source, fill);
    if (frame.finalCopy)
        panel = newBuffer.copy();
}

QImage StagePicture(const QImage& picture, QColor background)
{
    QImage canvas(kPanelWidth, kPanelHeight, QImage::Format_RGB32);
    canvas.fill(background);
    if (!picture.isNull()) {
        QPainter p(&canvas);
        p.drawImage(CentredOrigin(picture.size(), canvas.size()), picture);
    }
    return canvas;
}

} // namespace hm::effects
