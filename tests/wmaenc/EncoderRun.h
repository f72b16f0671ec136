#pragma once
// Runs the built WM8EUTIL helper and outside tools (sox, ffprobe, ffmpeg) for the tests,
// in a scratch folder removed at the end.
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace wmatests {

using testsupport::CommandResult;
using testsupport::Quoted;
using testsupport::RunCommand;
using testsupport::ScratchFolder;

// Runs the helper with these arguments, each passed as one word.
CommandResult RunEncoder(const std::vector<std::string>& args);
// The lines of a text, without line ends.
std::vector<std::string> Lines(const std::string& text);

// What ffprobe reports about a file's first stream and its format.
struct Probe {
    std::string Codec;
    int SampleRate = 0;
    int Channels = 0;
    long BitRate = 0;
    double Duration = 0;
    std::string Artist;
    std::string Comment;
};
Probe ProbeFile(const std::string& path);

// Root mean square amplitude (0..1) of the file as decoded by ffmpeg, measured by sox.
double DecodedRms(const std::string& path);
// The same for one channel (1 = left) of the decoded file.
double DecodedChannelRms(const std::string& path, int channel);

} // namespace wmatests
