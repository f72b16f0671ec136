#pragma once
// Remembering the main window between runs: its place, size, maximized state and the
// widths of the track list's columns, kept in the settings record (GUI thread only).
#include "settings/Global.h"

class QTreeWidget;
class QWidget;

namespace app {

// Puts the window and the list's columns back as stored. Nothing stored keeps the
// designed layout; a place no screen shows any more is replaced by the primary screen's
// centre, and a size larger than the screen is cut to it.
void RestoreWindowPlacement(QWidget& window, QTreeWidget& list,
                            const settings::TWindowOptions& stored);

// The window's place as restoring it would need it (its normal size when maximized).
settings::TWindowOptions WindowPlacementOf(const QWidget& window, const QTreeWidget& list);

} // namespace app
