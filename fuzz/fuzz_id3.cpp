// Feeds arbitrary file contents to the tag reader, then writes the tag back and reads it
// again: both reads must succeed the same way and give the same fields.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzScratch.h"
#include "tags/id3.h"

namespace {

std::string ScratchPath() {
    static const std::string path = fuzzing::Scratch().File("input.mp3");
    return path;
}

bool WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && ok;
}

bool SameFields(const tags::Tid3tag& a, const tags::Tid3tag& b) {
    return a.Title == b.Title && a.Artist == b.Artist && a.Album == b.Album && a.Year == b.Year &&
           a.Comment == b.Comment && a.Genre == b.Genre && a.Track == b.Track &&
           a.HasTrack == b.HasTrack;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchPath();
    if (!WriteFile(path, data, size)) {
        return 0;
    }
    tags::Tid3tag tag;
    const std::uint16_t status = tag.ReadTag(path);
    if (status != tags::ID3_DONE && status != tags::ID3_UNKNOWN_GENRE &&
        status != tags::ID3_NO_TAG) {
        std::abort();
    }
    // Text from the tag must survive being handed back through the setters.
    tags::Tid3tag copy = tag;
    copy.SetTitle(tag.Title);
    copy.SetArtist(tag.Artist);
    copy.SetAlbum(tag.Album);
    copy.SetYear(tag.Year);
    copy.SetComment(tag.Comment);
    if (!SameFields(copy, tag) || tag.WriteTag(path) != tags::ID3_DONE) {
        std::abort();
    }
    tags::Tid3tag again;
    if (!tags::Id3Succeeded(again.ReadTag(path)) || !SameFields(again, tag)) {
        std::abort();
    }
    // Arbitrary bytes as UTF-8 input must always give text the tag can hold.
    const std::string text(reinterpret_cast<const char*>(data), size);
    tags::Tid3tag fromText;
    fromText.SetComment(text);
    if (tags::Utf8ToLatin1(fromText.Comment).size() > 30) {
        std::abort();
    }
    return 0;
}
