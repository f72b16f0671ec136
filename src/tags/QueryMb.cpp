#include "tags/QueryMb.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "cd/CdText.h"
#include "cd/DiscToc.h"
#include "cd/MbDiscId.h"
#include "platform/Dialogs.h"
#include "platform/ProgramFolder.h"
#include "settings/Global.h"
#include "tags/MbReleaseChooser.h"
#include "tags/StopQuery.h"

namespace tags {

namespace {

constexpr int TitleColumn = 1;
constexpr std::size_t LastTrackSlot = 100;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

} // namespace

TfrmQueryMb::TfrmQueryMb(QWidget* owner, std::uint8_t firstTrack, std::uint8_t lastTrack,
                         int cdHandle, QTreeWidget* trackList, Mode mode)
    : QDialog(owner), FirstTrack(firstTrack), LastTrack(lastTrack), CDHandle(cdHandle),
      TrackList(trackList), mode_(mode) {
    setObjectName("frmQueryMb");
    setWindowTitle("Query MusicBrainz...");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    lHint = new QLabel("Query MusicBrainz...", this);
    lHint->setObjectName("lHint");
    lHint->setAlignment(Qt::AlignCenter);
    Panel1 = new QLabel(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setMargin(6);
    Panel1->setWordWrap(true);
    Panel1->hide();
    bStop = new QPushButton("Stop", this);
    bStop->setObjectName("bStop");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lHint);
    layout->addWidget(Panel1);
    layout->addWidget(bStop, 0, Qt::AlignHCenter);
    setMinimumWidth(280);
    connect(bStop, &QPushButton::clicked, this, &TfrmQueryMb::reject);
}

TfrmQueryMb::~TfrmQueryMb() {
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool TfrmQueryMb::NothingFoundShown() const {
    return !Panel1->isHidden();
}

QString TfrmQueryMb::NothingFoundText() const {
    return Panel1->text();
}

void TfrmQueryMb::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!started_) {
        started_ = true;
        Start();
    }
}

void TfrmQueryMb::reject() {
    // The worker is not waited for here: it sees the flag within a few milliseconds and
    // whatever it still finds is dropped.
    cancel_ = true;
    done(ModalCancel);
}

cd::MbServiceOptions TfrmQueryMb::ServiceOptions(const std::atomic<bool>* cancel) {
    cd::MbServiceOptions options;
    const std::string& email = settings::Settings.Metadata.CddbEmail;
    if (email.find_first_of(" \t\r\n()") == std::string::npos) {
        options.contact = email;
    }
    options.proxy = settings::Settings.QueryCDDB.Proxy();
    options.cancel = cancel;
    return options;
}

std::vector<std::string> TfrmQueryMb::SourcesOf(const std::string& order) {
    std::vector<std::string> sources;
    std::size_t start = 0;
    while (start <= order.size()) {
        const auto comma = std::min(order.find(',', start), order.size());
        const std::string name = Lower(Trim(order.substr(start, comma - start)));
        const bool known = name == "musicbrainz" || name == "cddb" || name == "cdtext";
        if (known && std::find(sources.begin(), sources.end(), name) == sources.end()) {
            sources.push_back(name);
        }
        start = comma + 1;
    }
    return sources;
}

void TfrmQueryMb::RunWorker(std::function<void()> work, std::function<void()> then) {
    if (worker_.joinable()) {
        worker_.join(); // the previous step has posted its result already
    }
    worker_ = std::thread([this, work = std::move(work), then = std::move(then)] {
        work();
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                if (worker_.joinable()) {
                    worker_.join();
                }
                if (!cancel_) {
                    then();
                }
            },
            Qt::QueuedConnection);
    });
}

void TfrmQueryMb::Start() {
    const settings::TMetadata& md = settings::Settings.Metadata;
    useMusicBrainz_ = md.MusicBrainz;
    server_ = md.MusicBrainzServer;
    coverServer_ = md.CoverArtServer;
    coverFolder_ = platform::ProgramFolder() + "covers";
    remembered_ = settings::DiscInfo.MbReleaseId;
    const cd::MbServiceOptions options = ServiceOptions(&cancel_);
    const int handle = CDHandle;
    RunWorker(
        [this, handle, options] {
            Found f;
            const auto disc = cd::ReadDiscOf(handle);
            const auto toc = disc ? cd::MbTocOf(*disc) : std::nullopt;
            f.discRead = disc.has_value();
            f.lookup.kind = MbLookupResult::Kind::NotFound;
            if (toc && useMusicBrainz_) {
                f.lookup = LookupMbDisc(server_, cd::MbDiscIdOf(*toc), cd::MbTocParameter(*toc),
                                        static_cast<int>(toc->offsets.size()), options);
            }
            if (disc && !cancel_) {
                f.cdText = cd::CdTextOfHandle(handle);
            }
            found_ = std::move(f);
        },
        [this] { LookupDone(found_); });
}

void TfrmQueryMb::LookupDone(const Found& found) {
    if (!found.discRead) {
        ShowNothing("The disc's table of contents cannot be read.");
        return;
    }
    const std::vector<MbRelease>& releases = found.lookup.releases;
    if (found.lookup.kind == MbLookupResult::Kind::Found) {
        const int remembered = TfrmMbReleaseChooser::IndexOfRelease(releases, remembered_);
        if (remembered >= 0 || releases.size() == 1) {
            Take(releases[static_cast<std::size_t>(std::max(remembered, 0))]);
            return;
        }
        std::vector<MbRelease> candidates = releases;
        if (found.cdText) {
            candidates.push_back(ReleaseOfCdText(*found.cdText));
        }
        TfrmMbReleaseChooser chooser(this, candidates, remembered_);
        const int answer = platform::TheDialogs().ExecModal(&chooser);
        if (answer != QDialog::Accepted || chooser.Chosen() < 0) {
            done(ModalCancel);
            return;
        }
        Take(candidates[static_cast<std::size_t>(chooser.Chosen())]);
        return;
    }
    if (found.cdText && mode_ == Mode::Menu) {
        Take(ReleaseOfCdText(*found.cdText));
        return;
    }
    if (found.lookup.kind == MbLookupResult::Kind::Failed) {
        ShowNothing(
            "MusicBrainz could not be asked: " + QString::fromStdString(found.lookup.error) + ".");
    } else {
        ShowNothing("No release found for this disc.");
    }
}

void TfrmQueryMb::Take(const MbRelease& release) {
    ApplyRelease(release, FirstTrack, TrackList);
    if (release.source != MbRelease::Source::MusicBrainz || release.id.empty() ||
        coverServer_.empty()) {
        done(ModalYes);
        return;
    }
    lHint->setText("Fetching the cover...");
    const cd::MbServiceOptions options = ServiceOptions(&cancel_);
    const std::string id = release.id;
    RunWorker(
        [this, id, options] { cover_ = FetchFrontCover(coverServer_, id, coverFolder_, options); },
        [this] { CoverDone(cover_); });
}

void TfrmQueryMb::CoverDone(const CoverResult& cover) {
    if (cover.kind == CoverResult::Kind::Saved) {
        settings::DiscInfo.CoverFile = cover.file;
    }
    done(ModalYes); // a release without a cover keeps its values
}

void TfrmQueryMb::ShowNothing(const QString& text) {
    if (mode_ == Mode::Automatic) {
        done(ModalCancel); // the next source of the automatic lookup is tried
        return;
    }
    Panel1->setText(text);
    lHint->hide();
    Panel1->show();
    bStop->setText("Close");
    adjustSize();
}

void TfrmQueryMb::ApplyRelease(const MbRelease& release, std::uint8_t firstTrack,
                               QTreeWidget* trackList) {
    settings::TDiscInfo& disc = settings::DiscInfo;
    if (!release.artist.empty()) {
        disc.Artist = release.artist;
        disc.AlbumArtist = release.artist;
    }
    if (!release.title.empty()) {
        disc.Album = release.title;
    }
    if (!release.Year().empty()) {
        disc.Year = release.Year();
    }
    if (!release.DiscText().empty()) {
        disc.DiscNumber = release.DiscText();
    }
    if (release.source == MbRelease::Source::MusicBrainz && !release.id.empty()) {
        if (release.id != disc.MbReleaseId) {
            disc.CoverFile.clear(); // another release's cover no longer fits
        }
        disc.MbReleaseId = release.id;
    }
    if (trackList != nullptr) {
        trackList->headerItem()->setTextAlignment(TitleColumn, Qt::AlignLeft | Qt::AlignVCenter);
    }
    for (std::size_t k = 0; k < release.tracks.size(); ++k) {
        const std::size_t n = firstTrack + k;
        if (n < 1 || n > LastTrackSlot) {
            break;
        }
        const MbTrack& track = release.tracks[k];
        const bool own = !track.artist.empty() && track.artist != release.artist;
        disc.TrackArtists[n] = own ? track.artist : "";
        disc.MbRecordingIds[n] = track.recordingId;
        if (track.title.empty()) {
            continue;
        }
        disc.Titles[n] = track.title;
        const auto row = static_cast<int>(k);
        if (trackList != nullptr && row < trackList->topLevelItemCount()) {
            trackList->topLevelItem(row)->setText(TitleColumn, QString::fromStdString(track.title));
        }
    }
}

} // namespace tags
