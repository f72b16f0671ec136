#include "jobs/GainTags.h"

#include <filesystem>
#include <system_error>

#include "tags/TagWriter.h"

namespace jobs {

namespace {

std::string Extension(const std::string& path) {
    return std::filesystem::path(path).extension().string();
}

std::string TagCopy(const TGainItem& item, const audio::TTagFields& fields) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::copy_file(item.Output, item.Partial, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        return ec.message();
    }
    std::string error = tags::SetTagFields(item.Partial, Extension(item.Output), fields);
    if (error.empty()) {
        fs::rename(item.Partial, item.Output, ec);
        if (!ec) {
            return {};
        }
        error = ec.message();
    }
    fs::remove(item.Partial, ec);
    return error;
}

} // namespace

bool IsOpusName(const std::string& path) {
    return tags::ContainerOfExtension(Extension(path)) == tags::TTagContainer::tcOggOpus;
}

std::string WriteAlbumGain(std::span<const TGainItem> items,
                           std::span<const audio::TLoudnessMeter* const> album) {
    std::string first;
    for (const TGainItem& item : items) {
        const audio::TTagFields fields = audio::AlbumGainFields(album, IsOpusName(item.Output));
        if (fields.empty()) {
            return {}; // an album of silence has no gain
        }
        const std::string error = TagCopy(item, fields);
        if (!error.empty() && first.empty()) {
            first = item.Output + ": " + error;
        }
    }
    return first;
}

} // namespace jobs
