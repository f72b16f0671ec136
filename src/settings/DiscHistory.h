#pragma once
// cdinfo.dat, the titles of every disc the user has had in the drive: a file that grows
// with the user's history, tens of megabytes for a long one.
#include <string>

namespace settings {

// Where cdinfo.dat lies: in the program's settings folder.
std::string DiscHistoryPath();

// Starts listing cdinfo.dat's sections on a thread of its own, so that the first look-up
// of a disc finds them listed while the program was starting rather than scanning the
// whole file then. Any thread; calling it again for the same file does nothing.
void ListDiscHistoryAhead();

} // namespace settings
