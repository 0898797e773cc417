#pragma once
// This user's colour for a run: a fairly saturated, medium-light hue, as hex colour text.

#include <QString>

namespace vellumora {

// HSL (h, 0.65, 0.55) as "#RRGGBB"; h in [0, 1). Every channel lies in 0x41...0xD6.
QString pleasantColorHex(double h);
// pleasantColorHex of a uniformly random hue.
QString randomPleasantColorHex();

}  // namespace vellumora
