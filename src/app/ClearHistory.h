#pragma once
// The recent-file lists two media players keep in the current user's registry hive
// (Wine's user.reg): what the Clear History commands remove. GUI thread.
#include <string>

namespace app {

// Process names of the two players while they run.
inline const std::string RealPlayerProgram = "realplay.exe";
inline const std::string MediaPlayerProgram = "wmplayer.exe";

// Deletes the keys MostRecentClips1..8 of RealPlayer, stopping at the first that cannot
// be deleted; returns how many were. Throws std::runtime_error when the hive cannot be
// written back.
int ClearRealPlayerHistory(const std::string& hivePath);
// Deletes the values File0..File8 of the Media Player's recent-file list, stopping at the
// first that cannot be deleted; 0 when the key does not exist. Throws as above.
int ClearMediaPlayerHistory(const std::string& hivePath);

} // namespace app
