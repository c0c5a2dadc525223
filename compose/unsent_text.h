#pragma once
class QWidget;

namespace hm::compose {
// Asks whether a message written but not sent may be thrown away; true for "はい".
bool MayDiscardUnsentText(QWidget* parent);
} // namespace hm::compose
