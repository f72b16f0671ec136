#include "jobs/OutputLines.h"

#include <charconv>
#include <cmath>

#include "settings/ProcessInfo.h"

namespace jobs {

std::vector<std::string> NonBlankLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        const std::string_view line = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!Trim(line).empty()) {
            lines.emplace_back(line);
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

std::string Trim(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && blank(text[first])) {
        ++first;
    }
    while (last > first && blank(text[last - 1])) {
        --last;
    }
    return std::string(text.substr(first, last - first));
}

std::string Copy(std::string_view text, int index, int count) {
    if (index < 1) {
        count += index - 1;
        index = 1;
    }
    const auto from = static_cast<std::size_t>(index - 1);
    if (count <= 0 || from >= text.size()) {
        return {};
    }
    return std::string(text.substr(from, static_cast<std::size_t>(count)));
}

bool ParseInt(std::string_view text, int& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    int parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return false;
    }
    value = parsed;
    return true;
}

long long SecondsSince(std::chrono::steady_clock::time_point start) {
    const std::chrono::duration<double> span = std::chrono::steady_clock::now() - start;
    return static_cast<long long>(std::nearbyint(span.count())); // default mode: halves to even
}

TimeTexts ProgressTimeTexts(long long elapsedSeconds, int percent) {
    if (percent == 0) {
        return {};
    }
    const double total = static_cast<double>(elapsedSeconds) * 100.0 / percent;
    return {settings::MinSecText(elapsedSeconds),
            settings::MinSecText(static_cast<long long>(std::nearbyint(total)))};
}

} // namespace jobs
