#pragma once
// What a rip leaves beside its files when it ends, as the Naming options ask: an M3U8
// playlist and a cue sheet of the tracks it made, in track order, in the deepest folder
// that holds them all, named after the album. GUI thread, once per job, before the job's
// intermediate WAVs are removed (their sizes give the playlist's lengths).
#include <string>
#include <vector>

#include "cd/akrip32.h"
#include "jobs/JobPlan.h"

namespace jobs {

// The items whose output the job made, in track order. encoded[i] says whether item i's
// encode step produced its output; extracted is the number of tracks whose rip ended.
std::vector<int> MadeItems(const TJobPlan& plan, int extracted, const std::vector<bool>& encoded);

// Where a single-file rip's cue sheet goes: beside its file, with the file's name.
std::string SingleFileCuePath(const TJobPlan& plan);

// Writes the playlist and the cue sheet the plan's settings ask for (a single-file rip's
// sheet always; none for jobs other than rips, or when no track was made); returns why one
// could not be written, "" when all went well. `handle` is the disc's, for the cue sheet's pregaps
// and codes.
std::string WriteRipExtras(const TJobPlan& plan, int extracted, const std::vector<bool>& encoded,
                           cd::HCDROM handle);

} // namespace jobs
