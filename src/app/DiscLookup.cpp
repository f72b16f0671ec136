#include "app/DiscLookup.h"

#include <algorithm>

#include "cd/CdText.h"
#include "cd/akrip32.h"
#include "platform/Dialogs.h"
#include "settings/Global.h"
#include "tags/QueryCddb.h"
#include "tags/QueryMb.h"
#include "tags/StopQuery.h"

namespace app {

bool TDiscLookup::AutomaticWanted() {
    const settings::TMetadata& md = settings::Settings.Metadata;
    const auto sources = tags::TfrmQueryMb::SourcesOf(md.Order);
    const bool musicBrainz =
        md.MusicBrainz && std::find(sources.begin(), sources.end(), "musicbrainz") != sources.end();
    return settings::Settings.CDOptions.CDDb || musicBrainz;
}

bool TDiscLookup::DiscKnown() {
    const settings::TDiscInfo& d = settings::DiscInfo;
    return !d.Artist.empty() || !d.Album.empty() || !d.MbReleaseId.empty();
}

bool TDiscLookup::TrackRange(int cdHandle, std::uint8_t& first, std::uint8_t& last) {
    cd::ModifyCDParms(cdHandle, cd::CDP_MSF_ADDRESSES, 1);
    cd::TTOC toc{};
    if (cd::ReadTOC(cdHandle, toc) != 1) {
        return false;
    }
    first = toc.firstTrack;
    last = toc.lastTrack;
    return true;
}

bool TDiscLookup::RunAutomatic(QWidget* owner, int cdHandle, QTreeWidget* trackList) {
    std::uint8_t first = 0;
    std::uint8_t last = 0;
    if (cdHandle == 0 || !TrackRange(cdHandle, first, last)) {
        return false;
    }
    for (const std::string& source :
         tags::TfrmQueryMb::SourcesOf(settings::Settings.Metadata.Order)) {
        if (RunSource(source, owner, cdHandle, trackList, first, last)) {
            return true;
        }
    }
    return false;
}

bool TDiscLookup::RunSource(const std::string& source, QWidget* owner, int cdHandle,
                            QTreeWidget* trackList, std::uint8_t first, std::uint8_t last) {
    if (source == "musicbrainz") {
        if (!settings::Settings.Metadata.MusicBrainz) {
            return false;
        }
        tags::TfrmQueryMb form(owner, first, last, cdHandle, trackList,
                               tags::TfrmQueryMb::Mode::Automatic);
        return platform::TheDialogs().ExecModal(&form) == tags::ModalYes;
    }
    if (source == "cddb") {
        tags::TfrmStopQuery stop(owner, first, last, cdHandle);
        if (platform::TheDialogs().ExecModal(&stop) != tags::ModalYes) {
            return false;
        }
        tags::TfrmQueryCDDB::ApplyResult(stop.Result(), trackList);
        return stop.Result().artist.has_value() || stop.Result().HasTitles();
    }
    if (source == "cdtext") {
        const auto text = cd::CdTextOfHandle(cdHandle);
        if (!text) {
            return false;
        }
        tags::TfrmQueryMb::ApplyRelease(tags::ReleaseOfCdText(*text), first, trackList);
        return true;
    }
    return false;
}

bool TDiscLookup::QueryMusicBrainz(QWidget* owner, int cdHandle, QTreeWidget* trackList) {
    std::uint8_t first = 0;
    std::uint8_t last = 0;
    if (!TrackRange(cdHandle, first, last)) {
        platform::ErrorBox(owner, "Error while reading TOC information!");
        return false;
    }
    tags::TfrmQueryMb form(owner, first, last, cdHandle, trackList);
    platform::TheDialogs().ExecModal(&form);
    return true;
}

} // namespace app
