#pragma once
// Reads an MP3's ID3 version 2 tag through TagLib into a tag set, for the ID3 editor to
// show beside the version 1 tag. Reads only; plain C++ (no Qt); any thread.
#include <string>

#include "tags/TagWriter.h"

namespace tags {

struct TId3v2Contents {
    int Version = 0; // 3 for ID3v2.3, 4 for ID3v2.4
    TTagSet Set;     // Cover holds the first front cover (or any picture when none is)
};

// True when the file has an ID3 version 2 tag; contents then holds it.
bool ReadId3v2(const std::string& path, TId3v2Contents& contents);

} // namespace tags
