#pragma once
#include <cmath>

namespace hm {
// Window positions are designed in twips; at 96 dpi 15 twips make one pixel.
constexpr int twips(int t)
{
    return t >= 0 ? (t + 7) / 15 : -((-t + 7) / 15);
}
} // namespace hm
