#pragma once
// The small modal window of a MusicBrainz lookup ("Query MusicBrainz..." and Stop), and
// what the lookup does with its answer.
//
// When shown it reads the disc behind the CD handle on a worker thread, computes its disc
// id, asks the MusicBrainz server of the settings (when [Metadata] MusicBrainz is on) and
// reads the disc's CD-Text. Back on the GUI thread:
// - one release, or the release remembered for the disc (DiscInfo.MbReleaseId) among
//   several, is taken without asking; several others open the release chooser, which
//   lists the CD-Text as a candidate too;
// - no release: the CD-Text is taken when the disc has one (from the menu only: the
//   automatic lookup leaves it to its own "cdtext" source); else the window says that
//   nothing was found, or that the server could not be reached, and Stop becomes Close.
// A chosen release fills DiscInfo and the track list (see ApplyRelease); a MusicBrainz
// release's front cover is then fetched on the worker into the program folder's
// "covers" folder and named in DiscInfo.CoverFile. The window then ends with ModalYes;
// Stop, Escape or a rejected chooser end it with ModalCancel.
//
// Threads: one worker at a time, owned by the window. No window object is touched off
// the GUI thread: the worker's results come back as queued calls. Stop raises the cancel
// flag, which every wait and transfer of the worker looks at every few milliseconds; the
// destructor raises it too and joins the worker.
#include <QDialog>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cd/MbService.h"
#include "tags/MbLookup.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace tags {

class TfrmQueryMb : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Menu, Automatic };

    // Rows of trackList are the tracks firstTrack.. in order; column 1 holds the title.
    TfrmQueryMb(QWidget* owner, std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle,
                QTreeWidget* trackList, Mode mode = Mode::Menu);
    ~TfrmQueryMb() override;

    // Whether the window says nothing was found (or nobody answered), and its words.
    bool NothingFoundShown() const;
    QString NothingFoundText() const;

    // Puts a release into DiscInfo (artist, album, year, album artist, disc number,
    // release id; per track the title, the artist where it differs from the album's, the
    // recording id) and the titles into trackList's rows.
    static void ApplyRelease(const MbRelease& release, std::uint8_t firstTrack,
                             QTreeWidget* trackList);
    // The known sources of an Order text ("musicbrainz", "cddb", "cdtext"), in its order,
    // each once; case and blanks do not count, unknown names are skipped.
    static std::vector<std::string> SourcesOf(const std::string& order);
    // The service options the settings give (contact, proxy), with this cancel flag.
    static cd::MbServiceOptions ServiceOptions(const std::atomic<bool>* cancel);

protected:
    void showEvent(QShowEvent* e) override;
    void reject() override;

private:
    struct Found {
        MbLookupResult lookup;
        std::optional<cd::CdTextInfo> cdText;
        bool discRead = false;
    };

    void Start();
    void LookupDone(const Found& found);
    void Take(const MbRelease& release);
    void CoverDone(const CoverResult& cover);
    void ShowNothing(const QString& text);
    // Runs work on the worker thread; `then` runs on the GUI thread afterwards.
    void RunWorker(std::function<void()> work, std::function<void()> then);

    std::uint8_t FirstTrack;
    std::uint8_t LastTrack;
    int CDHandle;
    QTreeWidget* TrackList;
    Mode mode_;
    bool started_ = false;

    // Taken from the settings on the GUI thread before the worker starts.
    bool useMusicBrainz_ = true;
    std::string server_;
    std::string coverServer_;
    std::string coverFolder_;
    std::string remembered_;

    std::atomic<bool> cancel_{false};
    std::thread worker_;
    Found found_;       // written by the worker, read after it has finished
    CoverResult cover_; // the same

    QLabel* lHint = nullptr;
    QLabel* Panel1 = nullptr;
    QPushButton* bStop = nullptr;
};

} // namespace tags
