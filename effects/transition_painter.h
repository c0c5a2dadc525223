#pragma once
#include "effects/transition_geometry.h"

#include <QColor>
#include <QImage>

// Draws the transition geometry into images. Pictures are RGB32 images of the panel's size.
namespace hm::effects {

// Stretches source of from onto target of onto: each target pixel takes the source pixel
// under its centre (rows and columns are dropped or repeated, nothing is blended). Source
// pixels beyond from count as the outside colour; target pixels beyond onto are clipped.
void StretchNearest(QImage& onto, const QRect& target, const QImage& from, const QRect& source,
                    QRgb outside);

// Draws one frame onto the panel image.
void PaintFrame(QImage& panel, const Frame& frame, const QImage& oldBuffer, const QImage& newBuffer,
                QColor background);

// The picture centred 1:1 on a panel-sized canvas of the background colour (a null picture
// gives the bare canvas).
QImage StagePicture(const QImage& picture, QColor background);

} // namespace hm::effects
