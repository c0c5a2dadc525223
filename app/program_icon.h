#pragma once
#include <QIcon>

namespace hm {
// The program's own icon in every size it is drawn at; every window shows it.
QIcon programIcon();
} // namespace hm
