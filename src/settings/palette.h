#pragma once

#include <QColor>

// The two fixed colour schemes of the interface. Only the choice between them
// is a preference; the colours themselves are constants of the program.
namespace Palette {

enum class Role
{
    Bg,
    Surface,
    SurfaceAlt,
    Fg,
    FgMuted,
    Accent,
    AccentText,
    Border,
    Success,
    Warning,
    Danger,
};

// Parsed afresh on every call: nothing is cached, the theme is the only input.
QColor color(Role role, bool dark);

} // namespace Palette
