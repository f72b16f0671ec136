#pragma once
// The disc's front cover in the disc information: a thumbnail, "Cover..." to choose an
// image file and "No cover" to go without. A file that is not an image is refused with a
// message and the choice stays as it was; the file itself is never changed here.
//
// GUI thread only; its parent owns it. Message boxes and the file dialog go through
// platform::TheDialogs().
#include <QWidget>
#include <string>

class QLabel;
class QPushButton;

namespace settings {

class TCoverChoice : public QWidget {
    Q_OBJECT
public:
    explicit TCoverChoice(QWidget* parent = nullptr);

    // The chosen image file; "" for none.
    const std::string& File() const { return file_; }
    // Shows a stored choice (a file that is gone or no image shows as missing).
    void SetFile(const std::string& file);

    void bCoverClick();
    void bNoCoverClick();

    static constexpr int ThumbnailSide = 96;

    QLabel* imgCover = nullptr;
    QLabel* lCoverFile = nullptr;
    QPushButton* bCover = nullptr;
    QPushButton* bNoCover = nullptr;

private:
    void ShowThumbnail();

    std::string file_;
    QString initialDir_;
};

} // namespace settings
