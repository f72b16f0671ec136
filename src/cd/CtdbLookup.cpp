#include "cd/CtdbLookup.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace cd {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The named attribute's value inside one tag's text; nothing when it is absent.
std::optional<std::string_view> Attribute(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos;
         at = tag.find(name, at + 1)) {
        const bool starts = at > 0 && IsBlank(tag[at - 1]);
        std::size_t p = at + name.size();
        while (p < tag.size() && IsBlank(tag[p])) {
            ++p;
        }
        if (!starts || p >= tag.size() || tag[p] != '=') {
            continue;
        }
        ++p;
        while (p < tag.size() && IsBlank(tag[p])) {
            ++p;
        }
        if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) {
            return std::nullopt;
        }
        const std::size_t end = tag.find(tag[p], p + 1);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        return tag.substr(p + 1, end - p - 1);
    }
    return std::nullopt;
}

template <class T> bool ParseNumber(std::string_view text, int base, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return !text.empty() && ec == std::errc{} && ptr == end;
}

bool ParseCrcList(std::string_view text, std::vector<std::uint32_t>& crcs) {
    std::size_t p = 0;
    while (p < text.size()) {
        while (p < text.size() && IsBlank(text[p])) {
            ++p;
        }
        std::size_t end = p;
        while (end < text.size() && !IsBlank(text[end])) {
            ++end;
        }
        if (end > p) {
            std::uint32_t crc = 0;
            if (!ParseNumber(text.substr(p, end - p), 16, crc)) {
                return false;
            }
            crcs.push_back(crc);
        }
        p = end;
    }
    return true;
}

std::optional<CtdbEntry> ParseEntry(std::string_view tag) {
    const auto crc = Attribute(tag, "crc32");
    const auto confidence = Attribute(tag, "confidence");
    CtdbEntry entry;
    if (!crc || !confidence || !ParseNumber(*crc, 16, entry.crc) ||
        !ParseNumber(*confidence, 10, entry.confidence) || entry.confidence < 0) {
        return std::nullopt;
    }
    if (const auto toc = Attribute(tag, "toc")) {
        entry.toc = std::string(*toc);
    }
    if (const auto tracks = Attribute(tag, "trackcrcs");
        tracks && !ParseCrcList(*tracks, entry.trackCrcs)) {
        return std::nullopt;
    }
    return entry;
}

} // namespace

CtdbLookup::CtdbLookup(const std::string& server, const std::vector<RipLogTocEntry>& toc,
                       std::uint32_t leadOut, Done done, LookupOptions options)
    : fetch_(
          Url(server, toc, leadOut),
          [done = std::move(done)](const DatabaseLookup::Result& r) { done(ResultOf(r)); },
          options) {}

std::string CtdbLookup::TocParameter(const std::vector<RipLogTocEntry>& toc,
                                     std::uint32_t leadOut) {
    std::string text;
    for (const RipLogTocEntry& e : toc) {
        text += (e.data ? "-" : "") + std::to_string(e.start) + ":";
    }
    return text + std::to_string(leadOut);
}

std::string CtdbLookup::Url(const std::string& server, const std::vector<RipLogTocEntry>& toc,
                            std::uint32_t leadOut) {
    std::string base = server;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + "/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=" + TocParameter(toc, leadOut);
}

std::optional<std::vector<CtdbEntry>> CtdbLookup::ParseReply(std::string_view xml) {
    const std::size_t root = xml.find("<ctdb");
    if (root == std::string_view::npos ||
        (root + 5 < xml.size() && !IsBlank(xml[root + 5]) && xml[root + 5] != '>')) {
        return std::nullopt;
    }
    const std::size_t rootEnd = xml.find('>', root);
    if (rootEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const bool empty = xml[rootEnd - 1] == '/';
    if (!empty && xml.find("</ctdb>", rootEnd) == std::string_view::npos) {
        return std::nullopt; // cut short
    }
    if (empty) {
        return std::vector<CtdbEntry>{};
    }
    std::vector<CtdbEntry> entries;
    for (std::size_t at = xml.find("<entry", rootEnd); at != std::string_view::npos;
         at = xml.find("<entry", at + 1)) {
        if (at + 6 >= xml.size() || !IsBlank(xml[at + 6])) {
            continue; // another element whose name starts so
        }
        const std::size_t end = xml.find('>', at);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const auto entry = ParseEntry(xml.substr(at, end - at));
        if (!entry) {
            return std::nullopt;
        }
        entries.push_back(*entry);
    }
    return entries;
}

CtdbLookup::Result CtdbLookup::ResultOf(const DatabaseLookup::Result& fetched) {
    Result result;
    if (fetched.kind == DatabaseLookup::Result::Kind::NotFound) {
        result.kind = Result::Kind::NotFound;
    } else if (fetched.kind == DatabaseLookup::Result::Kind::Failed) {
        result.error = "no answer from the database: " + fetched.error;
    } else if (auto entries = ParseReply(fetched.text); !entries) {
        result.error = "the database's answer could not be read";
    } else if (entries->empty()) {
        result.kind = Result::Kind::NotFound;
    } else {
        result.kind = Result::Kind::Found;
        result.entries = std::move(*entries);
    }
    return result;
}

CtdbMatch CtdbLookup::Match(const std::vector<CtdbEntry>& entries, std::uint32_t discCrc) {
    // Each confidence fits an int, their sum may not: it stops at the largest one.
    constexpr long long Most = std::numeric_limits<int>::max();
    long long confidence = 0;
    long long total = 0;
    for (const CtdbEntry& e : entries) {
        total = std::min(Most, total + e.confidence);
        confidence = std::min(Most, confidence + (e.crc == discCrc ? e.confidence : 0));
    }
    return {static_cast<int>(confidence), static_cast<int>(total)};
}

} // namespace cd
