#pragma once
// The CDDB settings window: server, query script, proxy and the hello's e-mail address, and the
// Query button that looks the disc up (through TfrmStopQuery). A finished lookup puts artist,
// album, year and genre into DiscInfo and the track titles into the main window's track list, then
// this window closes too (accepted).
//
// GUI thread only. The caller owns the window and the track list, which must outlive it;
// the settings are changed in memory on Query only.
#include <QDialog>
#include <QStringList>
#include <cstdint>

#include "tags/CddbRecord.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tags {

class TfrmQueryCDDB : public QDialog {
    Q_OBJECT
public:
    // Rows of trackList are the tracks firstTrack.. in order; column 1 holds the title.
    TfrmQueryCDDB(QWidget* owner, std::uint8_t firstTrack, std::uint8_t lastTrack, int cdHandle,
                  QTreeWidget* trackList);

    // The server list: the main server first, then mirrors, then the web host.
    static const QStringList& ServerNames();
    // Puts a lookup's result into DiscInfo and the rows of trackList.
    static void ApplyResult(const TCddbRecord& result, QTreeWidget* trackList);

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormShow();
    void cbProxyClick();
    void bDefaultClick();
    void bQueryClick();
    void bCloseClick();

    QComboBox* cbServer = nullptr;
    QLineEdit* eScript = nullptr;
    QCheckBox* cbProxy = nullptr;
    QLineEdit* eAddress = nullptr;
    QLineEdit* ePort = nullptr;
    QLineEdit* eEmail = nullptr; // the hello's address; empty: login name at host name
    QPushButton* bQuery = nullptr;
    QPushButton* bClose = nullptr;
    QPushButton* bDefault = nullptr;

    std::uint8_t FirstTrack;
    std::uint8_t LastTrack;
    int CDHandle;
    QTreeWidget* TrackList;
};

} // namespace tags
