#pragma once
// The job window's caption: "Encoding(01/04): title". The window is narrow and a window
// manager shortens a caption that does not fit its title bar by cutting out its middle,
// which takes the counter with it; the caption is therefore made to fit here, by
// shortening only the name at its end.
#include <QString>

namespace jobs {

// What the window manager's icon and buttons take of the title bar (a small icon and three
// compact buttons).
constexpr int kTitleBarReserve = 64;

// The caption for item i (0-based) of count in the given phase, for a window `width`
// pixels wide, measured with the application's default font.
QString PhaseCaption(const QString& phase, int i, int count, const QString& name, int width);

} // namespace jobs
