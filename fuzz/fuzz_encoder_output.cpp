// Arbitrary console output of an encoder child through the text helpers the lame and
// WM8EUTIL wrappers parse it with: the lines, the fixed progress columns and the numbers
// must stay within what they promise, and the time texts must always be "MM:SS".
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jobs/OutputLines.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsTimeText(const std::string& text) {
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && colon >= 2 && text.size() == colon + 3 &&
           text.find_first_not_of("0123456789:") == std::string::npos;
}

void CheckTimes(long long elapsed, int percent) {
    const jobs::TimeTexts times = jobs::ProgressTimeTexts(elapsed, percent);
    if (percent == 0) {
        Check(times.Elapsed.empty() && times.Estimated.empty());
    } else {
        Check(IsTimeText(times.Elapsed) && IsTimeText(times.Estimated));
    }
}

// What the lame wrapper does with a progress line: a 3-character field before the first
// "%" (encoding) or "frame/total" after the first "#" (decoding).
void ParseLikeLame(const std::string& line, long long elapsed) {
    const std::size_t percent = line.find('%');
    if (percent != std::string::npos) {
        const int column = static_cast<int>(percent) + 1 - 3;
        const std::string field = jobs::Trim(jobs::Copy(line, column, 3));
        Check(field.size() <= 3);
        int code = 0;
        if (jobs::ParseInt(field, code)) {
            Check(code > -100 && code < 1000);
            if (code >= 1 && code <= 100) {
                CheckTimes(elapsed, code);
            }
        }
        Check(jobs::Copy(line, 21, 8).size() <= 8);
    }
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) {
        const int column = static_cast<int>(hash) + 2;
        int frame = 0;
        int total = 0;
        if (jobs::ParseInt(jobs::Trim(jobs::Copy(line, column, 6)), frame) &&
            jobs::ParseInt(jobs::Trim(jobs::Copy(line, column + 7, 6)), total) && total > 0) {
            const int code = static_cast<int>(static_cast<long long>(frame) * 100 / total);
            if (code >= 1 && code <= 100) {
                CheckTimes(elapsed, code);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose how long the step has run (up to about 18 hours).
    const long long elapsed = (data[0] | (data[1] << 8)) % 65536;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    for (const std::string& line : jobs::NonBlankLines(text)) {
        Check(line.find_first_of("\r\n") == std::string::npos);
        Check(!jobs::Trim(line).empty());
        Check(line.size() <= text.size());
        ParseLikeLame(line, elapsed);
    }
    int value = 0;
    if (jobs::ParseInt(text, value)) {
        Check(text.find_first_not_of("+-0123456789") == std::string_view::npos);
    }
    // Any start and count: a window of the text, never more than it holds.
    const int index = static_cast<int>(static_cast<std::int8_t>(data[0]));
    const int count = static_cast<int>(static_cast<std::int8_t>(data[1]));
    const std::string window = jobs::Copy(text, index, count);
    Check(window.size() <= text.size() && static_cast<int>(window.size()) <= std::max(count, 0));
    return 0;
}
