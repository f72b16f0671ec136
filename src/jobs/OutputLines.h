#pragma once
// Text helpers for reading an encoder's console output: lines, fixed columns, numbers,
// and the elapsed/estimated time texts of a progress record.
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace jobs {

// The lines of one piece of output that are not blank. CR, LF and their pairs all end a
// line (a console progress line is usually rewritten after a lone CR).
std::vector<std::string> NonBlankLines(std::string_view text);

// Strips blanks and control characters from both ends.
std::string Trim(std::string_view text);

// count characters from the 1-based position index; what lies outside the text is left out.
std::string Copy(std::string_view text, int index, int count);

// A whole decimal number with an optional sign; false for anything else.
bool ParseInt(std::string_view text, int& value);

// Whole seconds since start, rounded to the nearest (halves to even).
long long SecondsSince(std::chrono::steady_clock::time_point start);

struct TimeTexts {
    std::string Elapsed;
    std::string Estimated;
};

// Elapsed time and estimated total duration at percent p; both empty when p is 0.
TimeTexts ProgressTimeTexts(long long elapsedSeconds, int percent);

} // namespace jobs
