#include "EncoderRun.h"

#include <cstdlib>
#include <sstream>

namespace wmatests {
namespace {

// The value after "key": in a piece of ffprobe's JSON output, without quotes.
std::string JsonValue(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\": ";
    const auto at = json.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    auto start = at + marker.size();
    if (json[start] == '"') {
        ++start;
        return json.substr(start, json.find('"', start) - start);
    }
    return json.substr(start, json.find_first_of(",\n}", start) - start);
}

std::string Section(const std::string& json, const std::string& name) {
    const auto at = json.find("\"" + name + "\"");
    return at == std::string::npos ? std::string() : json.substr(at);
}

} // namespace

CommandResult RunEncoder(const std::vector<std::string>& args) {
    std::string command = Quoted(VELLORINE_BINARY_DIR "/WM8EUTIL");
    for (const auto& arg : args) {
        command += " " + Quoted(arg);
    }
    return RunCommand(command);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

Probe ProbeFile(const std::string& path) {
    const auto result =
        RunCommand("ffprobe -v error -show_streams -show_format -of json " + Quoted(path));
    const std::string stream = Section(result.Output, "streams");
    const std::string tags = Section(Section(result.Output, "format"), "tags");
    Probe probe;
    probe.Codec = JsonValue(stream, "codec_name");
    probe.SampleRate = std::atoi(JsonValue(stream, "sample_rate").c_str());
    probe.Channels = std::atoi(JsonValue(stream, "channels").c_str());
    probe.BitRate = std::atol(JsonValue(stream, "bit_rate").c_str());
    probe.Duration = std::atof(JsonValue(stream, "duration").c_str());
    probe.Artist = JsonValue(tags, "artist");
    probe.Comment = JsonValue(tags, "comment");
    return probe;
}

double DecodedRms(const std::string& path) {
    const auto result =
        RunCommand("ffmpeg -v error -i " + Quoted(path) + " -f wav - | sox -t wav - -n stat");
    const auto at = result.Output.find("RMS     amplitude:");
    return at == std::string::npos ? 0 : std::atof(result.Output.c_str() + at + 18);
}

double DecodedChannelRms(const std::string& path, int channel) {
    const auto result =
        RunCommand("ffmpeg -v error -i " + Quoted(path) + " -f wav - | sox -t wav - -n remix " +
                   std::to_string(channel) + " stat");
    const auto at = result.Output.find("RMS     amplitude:");
    return at == std::string::npos ? 0 : std::atof(result.Output.c_str() + at + 18);
}

} // namespace wmatests
