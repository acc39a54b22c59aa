#include "settings/palette.h"

#include <array>
#include <cstddef>

namespace Palette {
namespace {

struct Pair
{
    const char *dark;
    const char *light;
};

// Indexed by Role.
constexpr std::array<Pair, 11> kColours{{
    {"#0F1115", "#EEF1F6"}, // Bg
    {"#1A1D24", "#FFFFFF"}, // Surface
    {"#22262F", "#E4E9F1"}, // SurfaceAlt
    {"#ECEFF4", "#1A1D24"}, // Fg
    {"#8A93A3", "#5A6472"}, // FgMuted
    {"#4C8BF5", "#3B6FE0"}, // Accent
    {"#FFFFFF", "#FFFFFF"}, // AccentText
    {"#2A2F3A", "#D5DBE5"}, // Border
    {"#2FBF71", "#2FBF71"}, // Success
    {"#F0A500", "#F0A500"}, // Warning
    {"#E5484D", "#E5484D"}, // Danger
}};

} // namespace

QColor color(Role role, bool dark)
{
    const Pair &pair = kColours[static_cast<std::size_t>(role)];
    return QColor::fromString(QLatin1String(dark ? pair.dark : pair.light));
}

} // namespace Palette
