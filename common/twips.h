#pragma once

namespace hm {
// Window positions are designed in twips; at 96 dpi 15 twips make one pixel.
constexpr int twips(int t)
{
    return t >= 0 ? (t + 7) / 15 : -((-t + 7) / 15);
}

// A length on the screen, in pixels, as the twips of the design.
constexpr int twipsOf(int pixels)
{
    return pixels * 15;
}
} // namespace hm
