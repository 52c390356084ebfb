#pragma once
// Dialog units to pixels, with the metrics of the 8-point dialog font the layout was drawn in
// (average character 6 × 13 pixels): x = du × 6 / 4, y = du × 13 / 8, rounded.
#include <QRect>

namespace edbapp {

inline constexpr int kBaseUnitX = 6;
inline constexpr int kBaseUnitY = 13;

[[nodiscard]] constexpr int duToPixelsX(int du) {
    return (du * kBaseUnitX + 2) / 4;
}
[[nodiscard]] constexpr int duToPixelsY(int du) {
    return (du * kBaseUnitY + 4) / 8;
}
[[nodiscard]] constexpr QRect duRect(int x, int y, int w, int h) {
    return QRect(duToPixelsX(x), duToPixelsY(y), duToPixelsX(w), duToPixelsY(h));
}

} // namespace edbapp
