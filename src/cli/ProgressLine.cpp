#include "cli/ProgressLine.h"

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

// A terminal is rewritten at most this often; a fast rip reports thousands of times a second.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Percent(double fraction) {
    const int p = std::clamp(static_cast<int>(std::floor(fraction * 100.0)), 0, 100);
    std::string text = std::to_string(p) + "%";
    return std::string(4 - std::min<std::size_t>(text.size(), 4), ' ') + text;
}

std::string Rate(double audioPerSecond) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1fx", audioPerSecond);
    return buffer;
}

} // namespace

std::string ClockText(double seconds) {
    const long long total = std::max(0LL, std::llround(seconds));
    const long long minutes = total / 60;
    const long long rest = total % 60;
    return (minutes < 10 ? "0" : "") + std::to_string(minutes) + ":" + (rest < 10 ? "0" : "") +
           std::to_string(rest);
}

std::string ProgressText(const TProgressState& state, std::size_t width) {
    const std::string head = "[" + std::to_string(state.item + 1) + "/" +
                             std::to_string(state.itemCount) + "] " + state.phase + " ";
    std::string tail = " " + Percent(state.percent / 100.0) + " | job " + Percent(state.done);
    if (state.done > 0 && state.elapsedSeconds > 0) {
        if (state.audioSeconds > 0) {
            tail += "  " + Rate(state.done * state.audioSeconds / state.elapsedSeconds);
        }
        const double left = state.elapsedSeconds * (1.0 - state.done) / state.done;
        tail += "  left " + ClockText(left);
    }
    std::string name = state.name;
    const std::size_t fixed = head.size() + tail.size();
    if (fixed + name.size() > width) {
        const std::size_t room = width > fixed + 3 ? width - fixed - 3 : 0;
        name = name.substr(0, room) + "...";
    }
    std::string text = head + name + tail;
    if (text.size() > width) {
        text.resize(width);
    }
    return text;
}

TProgressPrinter::TProgressPrinter(std::FILE* stream, bool terminal, std::size_t width)
    : stream_(stream), terminal_(terminal), width_(width) {}

void TProgressPrinter::Show(const TProgressState& state) {
    if (!terminal_) {
        const std::string phase = std::to_string(state.item) + " " + state.phase;
        if (phase != lastPhase_) {
            lastPhase_ = phase;
            std::fprintf(stream_, "%s\n", ProgressText(state, width_).c_str());
            std::fflush(stream_);
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (lineShown_ && now - lastShown_ < kRedrawInterval) {
        return;
    }
    lastShown_ = now;
    // Carriage return, the text, then the rest of the old line erased.
    std::fprintf(stream_, "\r%s\x1b[K", ProgressText(state, width_).c_str());
    std::fflush(stream_);
    lineShown_ = true;
}

void TProgressPrinter::Line(const std::string& text) {
    Clear();
    std::fprintf(stream_, "%s\n", text.c_str());
    std::fflush(stream_);
}

void TProgressPrinter::Clear() {
    if (terminal_ && lineShown_) {
        std::fprintf(stream_, "\r\x1b[K");
        std::fflush(stream_);
        lineShown_ = false;
    }
}

} // namespace cli
