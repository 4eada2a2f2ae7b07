#pragma once

// The window's pointer kinds. The busy kind doubles as the window's busy
// marker: while it shows, the list refuses removals and hover changes.
enum class PointerKind {
    Default = 0,
    Arrow = 1,
    Busy = 11,
    Custom = 99,
};
