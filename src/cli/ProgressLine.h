#pragma once
// The command line's progress: what a job has done so far as one short line, and how that
// line reaches a terminal (rewritten in place) or a log (a plain line per phase).
//
// ProgressText is a pure function; TProgressPrinter writes to one stream from the GUI thread.
#include <chrono>
#include <cstdio>
#include <string>

namespace cli {

struct TProgressState {
    int item = 0; // 0-based
    int itemCount = 0;
    std::string phase; // "Extracting", "Encoding", ...
    std::string name;  // the track's title or the file's name
    int percent = 0;   // of the step item `item` goes through now
    double done = 0;   // of the whole job, 0..1
    double elapsedSeconds = 0;
    double audioSeconds = 0; // of the whole job's audio; 0 when not known
};

// "[2/5] Extracting Track02  45% | job  30%  12.3x  left 01:05", at most width characters
// (the name is shortened first). Rate and time left appear once something is done.
std::string ProgressText(const TProgressState& state, std::size_t width);
// "MM:SS", hours folded into the minutes.
std::string ClockText(double seconds);

class TProgressPrinter {
public:
    // terminal: rewrite one line in place (a tty); otherwise print a line per phase.
    TProgressPrinter(std::FILE* stream, bool terminal, std::size_t width);

    void Show(const TProgressState& state);
    // A line of its own above the progress (an item's result, a warning).
    void Line(const std::string& text);
    // Removes the progress line before the program's last words.
    void Clear();

private:
    std::FILE* stream_;
    bool terminal_;
    std::size_t width_;
    bool lineShown_ = false;
    std::string lastPhase_; // plain output: the phase and item last printed
    std::chrono::steady_clock::time_point lastShown_{};
};

} // namespace cli
