#include "jobs/EncodeStep.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "jobs/FlacDecodeStep.h"
#include "jobs/FlacStep.h"
#include "jobs/LameStep.h"
#include "jobs/OpusStep.h"
#include "jobs/VorbisStep.h"
#include "jobs/WmaStep.h"
#include "tags/Genres.h"
#include "tags/id3.h"

namespace jobs {

namespace {

void Remove(const std::string& path) {
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

} // namespace

TEncodeStep::TEncodeStep(TEncodeRequest request, platform::HWND window)
    : request_(std::move(request)), window_(window) {}

TEncodeStep::~TEncodeStep() = default;

// A stopped step was not finished by the job, whatever its encoder had written.
void TEncodeStep::Stop() {
    StopEncoder();
    if (Launched()) {
        Remove(request_.Partial);
    }
}

TFinishResult TEncodeStep::Finish(bool succeeded) {
    TFinishResult result;
    if (succeeded && settings::FileSizeOf(request_.Partial) > 0) {
        if (request_.WriteId3) {
            result.TagResult = WriteId3();
        }
        // A version 1 tag that failed has its own message; the file is as it was then.
        if (request_.WriteTags && tags::Id3Succeeded(result.TagResult)) {
            result.TagError = tags::WriteTagSet(
                request_.Partial, std::filesystem::path(request_.Output).extension().string(),
                FullTagSet());
        }
        if (result.TagError.empty()) {
            std::error_code ec;
            std::filesystem::rename(request_.Partial, request_.Output, ec);
            result.Produced = !ec;
        }
    }
    if (result.Produced && !request_.SaveCoverIn.empty()) {
        result.CoverError = SaveCoverOnce(request_.Tag.Cover, request_.SaveCoverIn);
    }
    if (!result.Produced && Launched()) {
        Remove(request_.Partial);
    }
    return result;
}

std::uint16_t TEncodeStep::WriteId3() const {
    const TTagValues& v = request_.Tag;
    tags::Tid3tag tag;
    tag.SetTitle(request_.TagTitle);
    tag.SetArtist(v.Artist);
    tag.SetAlbum(v.Album);
    tag.SetYear(v.Year);
    tag.Genre = tags::GenreIndexToCode(v.Genre);
    tag.SetComment(v.Comment);
    tag.SetTrack(static_cast<std::uint8_t>(std::clamp(request_.TagTrack, 0, 255)));
    return tag.WriteTag(request_.Partial);
}

tags::TTagSet TEncodeStep::FullTagSet() const {
    const TTagValues& v = request_.Tag;
    tags::TTagSet set;
    set.Title = request_.TagTitle;
    set.Artist = request_.TagArtist;
    set.Album = v.Album;
    set.AlbumArtist = v.AlbumArtist;
    set.Year = v.Year;
    if (v.Genre > 0 && static_cast<std::size_t>(v.Genre) < tags::GenreList.size()) {
        set.Genre = tags::GenreList[static_cast<std::size_t>(v.Genre)];
    }
    set.Comment = v.Comment;
    set.Track = request_.TagTrack;
    set.TrackTotal = v.TrackTotal;
    // "2" or "2/3"; anything else is no disc number.
    set.Disc = std::atoi(v.DiscNumber.c_str());
    const std::size_t slash = v.DiscNumber.find('/');
    if (slash != std::string::npos) {
        set.DiscTotal = std::atoi(v.DiscNumber.c_str() + slash + 1);
    }
    set.MbReleaseId = v.MbReleaseId;
    set.MbRecordingId = request_.TagRecordingId;
    set.Extra = request_.ExtraTags;
    set.Cover = v.Cover.Art;
    return set;
}

void TEncodeStep::Post(std::int32_t code, std::int32_t status, std::string elapsed,
                       std::string estimated) const {
    settings::PostProcessInfo(
        window_, settings::NewProcessInfo(code, status, std::move(elapsed), std::move(estimated)),
        request_.StepId);
}

std::unique_ptr<TEncodeStep> MakeEncodeStep(const TEncodeRequest& request, platform::HWND window) {
    if (request.DecodeFlac) {
        return std::make_unique<TFlacDecodeStep>(request, window);
    }
    const settings::TOutputFormatRow* row = settings::FormatRow(request.Format);
    const settings::TStepMaker maker =
        request.Decode || row == nullptr ? settings::TStepMaker::smLame : row->Step;
    switch (maker) {
    case settings::TStepMaker::smWmaHelper:
        return std::make_unique<TWmaStep>(request, window);
    case settings::TStepMaker::smVorbis:
        return std::make_unique<TVorbisStep>(request, window);
    case settings::TStepMaker::smFlac:
        return std::make_unique<TFlacStep>(request, window);
    case settings::TStepMaker::smOpus:
        return std::make_unique<TOpusStep>(request, window);
    case settings::TStepMaker::smLame:
    case settings::TStepMaker::smNone:
        break;
    }
    return std::make_unique<TLameStep>(request, window);
}

} // namespace jobs
