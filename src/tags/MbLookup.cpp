#include "tags/MbLookup.h"

#include <filesystem>
#include <fstream>

namespace tags {

namespace {

bool IsReleaseId(const std::string& id) {
    // A UUID: hex digits and dashes; it becomes a file name, so nothing else may pass.
    if (id.size() != 36) {
        return false;
    }
    for (const char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
              c == '-')) {
            return false;
        }
    }
    return true;
}

bool WriteWhole(const std::filesystem::path& path, const std::string& bytes) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::filesystem::path part = path.string() + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::filesystem::remove(part, ec);
            return false;
        }
    }
    std::filesystem::rename(part, path, ec);
    if (ec) {
        std::filesystem::remove(part, ec);
        return false;
    }
    return true;
}

} // namespace

MbLookupResult LookupMbDisc(const std::string& server, const std::string& discId,
                            const std::string& tocParameter, int trackCount,
                            const cd::MbServiceOptions& options) {
    MbLookupResult result;
    const cd::MbFetch fetch =
        cd::MbService::Get(cd::MbService::DiscIdUrl(server, discId, tocParameter), options);
    switch (fetch.kind) {
    case cd::MbFetch::Kind::Cancelled:
        result.kind = MbLookupResult::Kind::Cancelled;
        return result;
    case cd::MbFetch::Kind::NotFound:
        result.kind = MbLookupResult::Kind::NotFound;
        return result;
    case cd::MbFetch::Kind::Failed:
        result.error = fetch.error;
        return result;
    case cd::MbFetch::Kind::Found:
        break;
    }
    auto releases = ParseMbDiscReply(fetch.body, discId, trackCount);
    if (!releases) {
        result.error = "the server's answer is not a MusicBrainz reply";
        return result;
    }
    result.releases = std::move(*releases);
    result.kind =
        result.releases.empty() ? MbLookupResult::Kind::NotFound : MbLookupResult::Kind::Found;
    return result;
}

std::string ImageExtension(const std::string& bytes) {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0) {
        return ".jpg";
    }
    if (bytes.size() >= 8 && bytes.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) {
        return ".png";
    }
    return {};
}

CoverResult FetchFrontCover(const std::string& server, const std::string& releaseId,
                            const std::string& folder, const cd::MbServiceOptions& options) {
    CoverResult result;
    if (!IsReleaseId(releaseId)) {
        result.kind = CoverResult::Kind::NotFound;
        return result;
    }
    const cd::MbFetch fetch =
        cd::MbService::Get(cd::MbService::FrontCoverUrl(server, releaseId), options);
    if (fetch.kind == cd::MbFetch::Kind::Cancelled) {
        result.kind = CoverResult::Kind::Cancelled;
        return result;
    }
    if (fetch.kind == cd::MbFetch::Kind::NotFound) {
        result.kind = CoverResult::Kind::NotFound;
        return result;
    }
    const std::string extension = ImageExtension(fetch.body);
    if (fetch.kind != cd::MbFetch::Kind::Found || extension.empty()) {
        result.error =
            fetch.kind == cd::MbFetch::Kind::Found ? "the cover is not an image" : fetch.error;
        return result;
    }
    const std::filesystem::path path = std::filesystem::path(folder) / (releaseId + extension);
    if (!WriteWhole(path, fetch.body)) {
        result.error = "cannot write " + path.string();
        return result;
    }
    result.kind = CoverResult::Kind::Saved;
    result.file = path.string();
    return result;
}

} // namespace tags
