#pragma once
// Files for the tag tests: the shared scratch-folder and command helpers, and the bytes of
// a tag image.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

namespace tagtests {

using testsupport::Bytes;
using testsupport::Quoted;
using testsupport::ReadAll;
using testsupport::RunCommand;
using testsupport::ScratchFolder;

// A 128-byte tag image: "TAG" then every field at its offset, the rest 0x00.
Bytes TagImage(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, std::uint8_t genre);

// The fields of a version 1 tag as "id3v2 -l" lists them: title, artist, album, year,
// genre ("Other (12)"), comment, track.
std::map<std::string, std::string> ListedByTool(const std::string& path);

// A real MP3 of random noise made by lame (no tag); empty when lame failed.
std::string MakeMp3(const ScratchFolder& folder, const std::string& name, double seconds);

// The file without its trailing ID3 version 1 tag: the audio frames, which tag edits must
// never change.
Bytes AudioPart(const Bytes& file);

// A short sine in a file of the kind its name ends with (.mp3, .ogg, .opus, .flac), made by
// the format's own command-line encoder; empty when that failed.
std::string MakeAudio(const ScratchFolder& folder, const std::string& name);

// Every field of a file's full-length tag as mutagen reads it (tests/tags/read_tags.py):
// kind is "mp3", "ogg", "opus" or "flac".
using TagFields = std::vector<std::pair<std::string, std::string>>;
TagFields ReadTagFields(const std::string& path, const std::string& kind);

} // namespace tagtests
