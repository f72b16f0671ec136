#include "tags/TagWriter.h"

#include <sys/stat.h>

#include <attachedpictureframe.h>
#include <cerrno>
#include <commentsframe.h>
#include <cstring>
#include <flacfile.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <textidentificationframe.h>
#include <uniquefileidentifierframe.h>
#include <vorbisfile.h>
#include <xiphcomment.h>

namespace tags {

namespace {

using TagLib::ByteVector;
using TagLib::String;
using TagFields = std::vector<std::pair<std::string, std::string>>;

String Utf8(const std::string& text) {
    return String(text, String::UTF8);
}

ByteVector Bytes(const std::string& bytes) {
    return ByteVector(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// TagLib opens a file it may not write read-only and says so only when saving; as root
// every file opens for writing, so the mode is what tells a protected file.
std::string CannotWrite(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode)) {
        return "not a file";
    }
    if ((st.st_mode & S_IWUSR) == 0) {
        return "the file is read-only";
    }
    return {};
}

bool HasCover(const TTagSet& set) {
    return set.Cover && !set.Cover->Bytes.empty();
}

// --- ID3 version 2 ---

void AddText(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text) {
    if (text.empty()) {
        return;
    }
    auto frame =
        std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(ByteVector(id), String::UTF8);
    frame->setText(Utf8(text));
    tag.addFrame(frame.release());
}

void AddUserText(TagLib::ID3v2::Tag& tag, const std::string& description, const std::string& text) {
    if (text.empty()) {
        return;
    }
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(
        Utf8(description), TagLib::StringList(Utf8(text)), String::UTF8);
    tag.addFrame(frame.release());
}

void AddComment(TagLib::ID3v2::Tag& tag, const std::string& text) {
    if (text.empty()) {
        return;
    }
    auto frame = std::make_unique<TagLib::ID3v2::CommentsFrame>(String::UTF8);
    frame->setLanguage("eng");
    frame->setText(Utf8(text));
    tag.addFrame(frame.release());
}

void AddPicture(TagLib::ID3v2::Tag& tag, const TCoverArt& cover) {
    auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    frame->setTextEncoding(String::UTF8);
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setMimeType(Utf8(cover.Mime));
    frame->setPicture(Bytes(cover.Bytes));
    tag.addFrame(frame.release());
}

void FillId3v2(TagLib::ID3v2::Tag& tag, const TTagSet& set) {
    // A fresh tag: frames an encoder left would otherwise stand beside ours.
    // (A copy of TagLib's list would share its ownership of the frames: take plain pointers.)
    const std::vector<TagLib::ID3v2::Frame*> old(tag.frameList().begin(), tag.frameList().end());
    for (TagLib::ID3v2::Frame* frame : old) {
        tag.removeFrame(frame, true);
    }
    AddText(tag, "TIT2", set.Title);
    AddText(tag, "TPE1", set.Artist);
    AddText(tag, "TALB", set.Album);
    AddText(tag, "TPE2", set.AlbumArtist);
    AddText(tag, "TDRC", set.Year);
    AddText(tag, "TCON", set.Genre);
    AddComment(tag, set.Comment);
    AddText(tag, "TRCK", CountText(set.Track, set.TrackTotal));
    AddText(tag, "TPOS", CountText(set.Disc, set.DiscTotal));
    AddUserText(tag, "MusicBrainz Album Id", set.MbReleaseId);
    if (!set.MbRecordingId.empty()) {
        tag.addFrame(new TagLib::ID3v2::UniqueFileIdentifierFrame("http://musicbrainz.org",
                                                                  Bytes(set.MbRecordingId)));
    }
    for (const auto& [key, value] : set.Extra) {
        AddUserText(tag, key, value);
    }
    if (HasCover(set)) {
        AddPicture(tag, *set.Cover);
    }
}

std::string WriteId3v2(const std::string& path, const TTagSet& set) {
    TagLib::MPEG::File file(path.c_str(), false);
    // TagLib takes any file for an MP3; one without a single MPEG frame is not.
    if (!file.isValid() || file.firstFrameOffset() < 0) {
        return "not an MP3 file";
    }
    FillId3v2(*file.ID3v2Tag(true), set);
    // Only the version 2 tag: the version 1 tag at the end stays as its own writer made it.
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                   TagLib::File::DoNotDuplicate)) {
        return "the tag could not be saved";
    }
    return {};
}

// --- Vorbis comments ---

std::unique_ptr<TagLib::FLAC::Picture> MakePicture(const TCoverArt& cover) {
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(Utf8(cover.Mime));
    picture->setWidth(cover.Width);
    picture->setHeight(cover.Height);
    picture->setColorDepth(cover.ColorDepth);
    picture->setData(Bytes(cover.Bytes));
    return picture;
}

void AddField(TagLib::Ogg::XiphComment& comment, const char* key, const std::string& value) {
    if (!value.empty()) {
        comment.addField(key, Utf8(value), false);
    }
}

void AddNumber(TagLib::Ogg::XiphComment& comment, const char* key, int n) {
    if (n > 0) {
        comment.addField(key, String::number(n), false);
    }
}

void FillXiph(TagLib::Ogg::XiphComment& comment, const TTagSet& set) {
    comment.removeAllFields();
    AddField(comment, "TITLE", set.Title);
    AddField(comment, "ARTIST", set.Artist);
    AddField(comment, "ALBUM", set.Album);
    AddField(comment, "ALBUMARTIST", set.AlbumArtist);
    AddField(comment, "DATE", set.Year);
    AddField(comment, "GENRE", set.Genre);
    AddField(comment, "COMMENT", set.Comment);
    AddNumber(comment, "TRACKNUMBER", set.Track);
    AddNumber(comment, "TRACKTOTAL", set.TrackTotal);
    AddNumber(comment, "DISCNUMBER", set.Disc);
    AddNumber(comment, "DISCTOTAL", set.DiscTotal);
    AddField(comment, "MUSICBRAINZ_ALBUMID", set.MbReleaseId);
    AddField(comment, "MUSICBRAINZ_TRACKID", set.MbRecordingId);
    for (const auto& [key, value] : set.Extra) {
        AddField(comment, key.c_str(), value);
    }
}

// Ogg Vorbis and Ogg Opus: the picture is a METADATA_BLOCK_PICTURE field of the comment.
template <typename OggFile>
std::string WriteOgg(const std::string& path, const TTagSet& set, const char* kind) {
    OggFile file(path.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) {
        return std::string("not an ") + kind + " file";
    }
    TagLib::Ogg::XiphComment& comment = *file.tag();
    FillXiph(comment, set);
    comment.removeAllPictures();
    if (HasCover(set)) {
        comment.addPicture(MakePicture(*set.Cover).release());
    }
    if (!file.save()) {
        return "the tag could not be saved";
    }
    return {};
}

std::string WriteFlac(const std::string& path, const TTagSet& set) {
    TagLib::FLAC::File file(path.c_str(), false);
    if (!file.isValid()) {
        return "not a FLAC file";
    }
    FillXiph(*file.xiphComment(true), set);
    file.removePictures();
    if (HasCover(set)) {
        file.addPicture(MakePicture(*set.Cover).release());
    }
    if (!file.save()) {
        return "the tag could not be saved";
    }
    return {};
}

void SetId3v2Field(TagLib::ID3v2::Tag& tag, const std::string& description,
                   const std::string& value) {
    if (auto* old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, Utf8(description))) {
        tag.removeFrame(old, true);
    }
    AddUserText(tag, description, value);
}

template <typename OggFile>
std::string SetOggFields(const std::string& path, const TagFields& fields, const char* kind) {
    OggFile file(path.c_str(), false);
    if (!file.isValid() || file.tag() == nullptr) {
        return std::string("not an ") + kind + " file";
    }
    for (const auto& [key, value] : fields) {
        file.tag()->addField(Utf8(key), Utf8(value), true);
    }
    return file.save() ? std::string() : "the tag could not be saved";
}

} // namespace

TTagContainer ContainerOfExtension(std::string_view extension) {
    const std::string e = Lower(extension);
    if (e == ".mp3") {
        return TTagContainer::tcId3v2;
    }
    if (e == ".ogg" || e == ".oga") {
        return TTagContainer::tcOggVorbis;
    }
    if (e == ".opus") {
        return TTagContainer::tcOggOpus;
    }
    if (e == ".flac") {
        return TTagContainer::tcFlac;
    }
    return TTagContainer::tcNone;
}

std::string CountText(int n, int total) {
    if (n <= 0) {
        return {};
    }
    return total > 0 ? std::to_string(n) + "/" + std::to_string(total) : std::to_string(n);
}

std::string WriteTagSet(const std::string& path, std::string_view extension, const TTagSet& set) {
    const TTagContainer container = ContainerOfExtension(extension);
    if (container == TTagContainer::tcNone) {
        return "no tag is written into " + std::string(extension) + " files";
    }
    if (std::string cause = CannotWrite(path); !cause.empty()) {
        return cause;
    }
    switch (container) {
    case TTagContainer::tcId3v2:
        return WriteId3v2(path, set);
    case TTagContainer::tcOggVorbis:
        return WriteOgg<TagLib::Ogg::Vorbis::File>(path, set, "Ogg Vorbis");
    case TTagContainer::tcOggOpus:
        return WriteOgg<TagLib::Ogg::Opus::File>(path, set, "Ogg Opus");
    case TTagContainer::tcFlac:
        return WriteFlac(path, set);
    case TTagContainer::tcNone:
        break;
    }
    return {};
}

std::string SetTagFields(const std::string& path, std::string_view extension,
                         const TagFields& fields) {
    const TTagContainer container = ContainerOfExtension(extension);
    if (container == TTagContainer::tcNone) {
        return "no tag is written into " + std::string(extension) + " files";
    }
    if (std::string cause = CannotWrite(path); !cause.empty()) {
        return cause;
    }
    switch (container) {
    case TTagContainer::tcId3v2: {
        TagLib::MPEG::File file(path.c_str(), false);
        if (!file.isValid() || file.firstFrameOffset() < 0) {
            return "not an MP3 file";
        }
        for (const auto& [key, value] : fields) {
            SetId3v2Field(*file.ID3v2Tag(true), key, value);
        }
        return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                         TagLib::File::DoNotDuplicate)
                   ? std::string()
                   : "the tag could not be saved";
    }
    case TTagContainer::tcOggVorbis:
        return SetOggFields<TagLib::Ogg::Vorbis::File>(path, fields, "Ogg Vorbis");
    case TTagContainer::tcOggOpus:
        return SetOggFields<TagLib::Ogg::Opus::File>(path, fields, "Ogg Opus");
    case TTagContainer::tcFlac: {
        TagLib::FLAC::File file(path.c_str(), false);
        if (!file.isValid()) {
            return "not a FLAC file";
        }
        for (const auto& [key, value] : fields) {
            file.xiphComment(true)->addField(Utf8(key), Utf8(value), true);
        }
        return file.save() ? std::string() : "the tag could not be saved";
    }
    case TTagContainer::tcNone:
        break;
    }
    return {};
}

} // namespace tags
