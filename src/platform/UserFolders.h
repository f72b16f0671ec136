#pragma once
// The user's own folders as the desktop names them (XDG user directories). Plain queries,
// any thread; nothing is created.
#include <string>

namespace platform {

// The user's music folder (XDG_MUSIC_DIR, else ~/Music), without a trailing "/"; empty
// when the system cannot name one.
std::string MusicFolder();

} // namespace platform
