#include "tags/TagReader.h"

#include <attachedpictureframe.h>
#include <cstdlib>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <uniquefileidentifierframe.h>

namespace tags {

namespace {

std::string Text(const TagLib::String& text) {
    return text.to8Bit(true);
}

std::string FrameText(const TagLib::ID3v2::Tag& tag, const char* id) {
    const TagLib::ID3v2::FrameList& frames = tag.frameListMap()[id];
    return frames.isEmpty() ? std::string() : Text(frames.front()->toString());
}

// "n/total" into its two numbers (0 where absent).
void Count(const std::string& text, int& n, int& total) {
    n = std::atoi(text.c_str());
    const std::size_t slash = text.find('/');
    total = slash == std::string::npos ? 0 : std::atoi(text.c_str() + slash + 1);
}

void ReadIds(const TagLib::ID3v2::Tag& tag, TTagSet& set) {
    for (TagLib::ID3v2::Frame* frame : tag.frameListMap()["TXXX"]) {
        auto* user = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
        if (user == nullptr || user->fieldList().size() < 2) {
            continue;
        }
        const std::string key = Text(user->description());
        const std::string value = Text(user->fieldList()[1]);
        if (key == "MusicBrainz Album Id") {
            set.MbReleaseId = value;
        } else {
            set.Extra.emplace_back(key, value);
        }
    }
    for (TagLib::ID3v2::Frame* frame : tag.frameListMap()["UFID"]) {
        auto* ufid = dynamic_cast<TagLib::ID3v2::UniqueFileIdentifierFrame*>(frame);
        if (ufid != nullptr && ufid->owner() == "http://musicbrainz.org") {
            const TagLib::ByteVector id = ufid->identifier();
            set.MbRecordingId.assign(id.data(), id.size());
        }
    }
}

void ReadCover(const TagLib::ID3v2::Tag& tag, TTagSet& set) {
    const TagLib::ID3v2::FrameList& frames = tag.frameListMap()["APIC"];
    TagLib::ID3v2::AttachedPictureFrame* chosen = nullptr;
    for (TagLib::ID3v2::Frame* frame : frames) {
        auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture != nullptr &&
            (chosen == nullptr ||
             picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)) {
            chosen = picture;
        }
    }
    if (chosen != nullptr) {
        auto cover = std::make_shared<TCoverArt>();
        const TagLib::ByteVector data = chosen->picture();
        cover->Bytes.assign(data.data(), data.size());
        cover->Mime = Text(chosen->mimeType());
        set.Cover = std::move(cover);
    }
}

} // namespace

bool ReadId3v2(const std::string& path, TId3v2Contents& contents) {
    TagLib::MPEG::File file(path.c_str(), false, TagLib::AudioProperties::Fast);
    if (!file.isValid() || !file.hasID3v2Tag()) {
        return false;
    }
    const TagLib::ID3v2::Tag& tag = *file.ID3v2Tag();
    contents.Version = static_cast<int>(tag.header()->majorVersion());
    TTagSet& set = contents.Set;
    set = TTagSet{};
    set.Title = FrameText(tag, "TIT2");
    set.Artist = FrameText(tag, "TPE1");
    set.Album = FrameText(tag, "TALB");
    set.AlbumArtist = FrameText(tag, "TPE2");
    // TagLib reads a version 2.3 year (TYER) as a recording time (TDRC) already.
    set.Year = FrameText(tag, "TDRC");
    set.Genre = Text(tag.genre());
    set.Comment = Text(tag.comment());
    Count(FrameText(tag, "TRCK"), set.Track, set.TrackTotal);
    Count(FrameText(tag, "TPOS"), set.Disc, set.DiscTotal);
    ReadIds(tag, set);
    ReadCover(tag, set);
    return true;
}

} // namespace tags
