#pragma once
#include <QStringView>

namespace hm {

// Whether text holds word anywhere, case and all. Meant for long texts searched for a short word,
// as every received body is.
bool holdsText(QStringView text, QStringView word);

} // namespace hm
