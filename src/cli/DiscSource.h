#pragma once
// The disc a command reads: a disc image (--image), a drive (--drive), or the first drive
// the CD layer offers. Opening it reads its layout; a missing image, an unreadable one or
// an empty drive throws TUsageError naming what is wrong (nothing has been done yet).
//
// An image is offered to the CD layer as its only drive: UseImageOnly must run before the
// CD layer first lists its drives (the command line calls it before anything else).
#include <string>
#include <vector>

#include "cd/RipSession.h"

namespace cli {

class TDiscSource {
public:
    static void UseImageOnly(const std::string& image);

    // image or drive may be empty (not both given); neither: the first drive.
    TDiscSource(const std::string& image, const std::string& drive);
    ~TDiscSource();
    TDiscSource(const TDiscSource&) = delete;
    TDiscSource& operator=(const TDiscSource&) = delete;

    int Handle() const { return handle_; }
    const cd::RipDisc& Disc() const { return disc_; }
    // The image's path or the drive's device.
    const std::string& Name() const { return name_; }
    // The audio tracks' numbers in disc order.
    std::vector<int> AudioTracks() const;
    // The seconds of audio of track `number`.
    double Seconds(int number) const;
    // The seconds a rip of the whole disc into one file reads.
    double WholeDiscSeconds() const;
    // The seconds before track 1's INDEX 01 that may hide audio.
    double HiddenSeconds() const;

private:
    int handle_ = 0;
    cd::RipDisc disc_;
    std::string name_;
};

} // namespace cli
