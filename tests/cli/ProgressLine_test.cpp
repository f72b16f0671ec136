#include <gtest/gtest.h>

#include <cstdio>

#include "cli/ProgressLine.h"

namespace {

cli::TProgressState State(int item, int count, const char* phase, const char* name, int percent,
                          double done, double elapsed, double audio) {
    cli::TProgressState s;
    s.item = item;
    s.itemCount = count;
    s.phase = phase;
    s.name = name;
    s.percent = percent;
    s.done = done;
    s.elapsedSeconds = elapsed;
    s.audioSeconds = audio;
    return s;
}

TEST(ClockText, MinutesAndSecondsRounded) {
    const std::pair<double, const char*> cases[] = {{0, "00:00"},    {59.4, "00:59"},
                                                    {59.6, "01:00"}, {754, "12:34"},
                                                    {3600, "60:00"}, {-3, "00:00"}};
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(cli::ClockText(seconds), text) << seconds;
    }
}

TEST(ProgressText, ShowsTheItemTheJobTheRateAndTheTimeLeft) {
    struct Case {
        cli::TProgressState state;
        std::size_t width;
        const char* text;
    };
    const Case cases[] = {
        // Nothing done yet: no rate, no time left.
        {State(0, 5, "Extracting", "01Intro", 0, 0, 0, 600), 79,
         "[1/5] Extracting 01Intro   0% | job   0%"},
        // A quarter of 600 s of audio in 30 s: 5x, 90 s left.
        {State(1, 5, "Encoding", "02Song", 40, 0.25, 30, 600), 79,
         "[2/5] Encoding 02Song  40% | job  25%  5.0x  left 01:30"},
        // Files: no audio length known, no rate.
        {State(2, 3, "Encoding", "c.wav", 100, 0.5, 10, 0), 79,
         "[3/3] Encoding c.wav 100% | job  50%  left 00:10"},
        // A long name gives way to the numbers.
        {State(0, 1, "Extracting", "01A very long title of a track", 5, 0.05, 1, 0), 60,
         "[1/1] Extracting 01A very lon...   5% | job   5%  left 00:19"},
        // Narrower than the numbers: cut at the width.
        {State(0, 1, "Extracting", "01Intro", 5, 0.05, 1, 0), 20, "[1/1] Extracting ..."},
    };
    for (const Case& c : cases) {
        const std::string text = cli::ProgressText(c.state, c.width);
        EXPECT_EQ(text, c.text);
        EXPECT_LE(text.size(), c.width) << text;
    }
}

// What a printer wrote to its stream.
std::string Printed(bool terminal, const std::vector<cli::TProgressState>& states) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    {
        cli::TProgressPrinter printer(stream, terminal, 79);
        for (const cli::TProgressState& s : states) {
            printer.Show(s);
        }
        printer.Line("ok: /out/01Intro.mp3");
        printer.Clear();
    }
    std::fclose(stream);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(ProgressPrinter, PrintsAPlainLinePerPhaseOrRewritesOneLineOnATerminal) {
    const std::vector<cli::TProgressState> states = {
        State(0, 2, "Extracting", "01Intro", 0, 0, 0, 0),
        State(0, 2, "Extracting", "01Intro", 50, 0.25, 1, 0),
        State(0, 2, "Encoding", "01Intro", 0, 0.5, 2, 0),
        State(0, 2, "Encoding", "01Intro", 80, 0.7, 3, 0),
    };
    EXPECT_EQ(Printed(false, states), "[1/2] Extracting 01Intro   0% | job   0%\n"
                                      "[1/2] Encoding 01Intro   0% | job  50%  left 00:02\n"
                                      "ok: /out/01Intro.mp3\n");
    // On a terminal the first state is drawn at once and the next ones wait for the redraw
    // interval; every drawing starts at the line's beginning and erases the rest of it.
    const std::string terminal = Printed(true, states);
    EXPECT_EQ(terminal.find('\n'), terminal.rfind('\n')) << "one line of its own only";
    EXPECT_EQ(terminal.rfind("\r[1/2] Extracting 01Intro   0% | job   0%\x1b[K", 0), 0u);
    EXPECT_NE(terminal.find("\r\x1b[Kok: /out/01Intro.mp3\n"), std::string::npos) << terminal;
}

} // namespace
