#include "cd/CdText.h"

#include "cd/CdImageList.h"
#include "platform/HttpClient.h"

#include <cdio/cdtext.h>

namespace cd {

namespace {

// libcdio takes a cue sheet's text as Latin-1, so one written in UTF-8 comes back encoded
// twice; its bytes, taken back to Latin-1, are then valid UTF-8 again.
std::string UndoDoubleEncoding(const std::string& s) {
    std::string bytes;
    bool wide = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            bytes += s[i];
            continue;
        }
        const bool latin1 = (c == 0xC2 || c == 0xC3) && i + 1 < s.size() &&
                            (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80;
        if (!latin1) {
            return s; // a character beyond Latin-1: not encoded twice
        }
        bytes += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
        wide = true;
    }
    return wide && platform::IsUtf8(bytes) ? bytes : s;
}

std::string Field(const cdtext_t* text, cdtext_field_t field, track_t track) {
    const char* value = cdtext_get_const(text, field, track);
    if (value == nullptr) {
        return {};
    }
    std::string s = UndoDoubleEncoding(platform::DecodeText(value, ""));
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

bool CdTextInfo::HasAny() const {
    if (!artist.empty() || !album.empty()) {
        return true;
    }
    for (const std::string& t : titles) {
        if (!t.empty()) {
            return true;
        }
    }
    return false;
}

std::optional<CdTextInfo> CdTextOf(CdIo_t* cdio) {
    if (cdio == nullptr) {
        return std::nullopt;
    }
    const cdtext_t* text = cdio_get_cdtext(cdio);
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (text == nullptr || first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) {
        return std::nullopt;
    }
    CdTextInfo info;
    info.artist = Field(text, CDTEXT_FIELD_PERFORMER, 0);
    info.album = Field(text, CDTEXT_FIELD_TITLE, 0);
    info.firstTrack = first;
    for (track_t t = first; t < first + count; ++t) {
        info.titles.push_back(Field(text, CDTEXT_FIELD_TITLE, t));
        info.performers.push_back(Field(text, CDTEXT_FIELD_PERFORMER, t));
    }
    if (!info.HasAny()) {
        return std::nullopt;
    }
    return info;
}

std::optional<CdTextInfo> CdTextOfHandle(HCDROM handle) {
    CdioPtr cdio = OpenCdioOfHandle(handle);
    auto info = CdTextOf(cdio.get());
    CloseCdio(cdio);
    return info;
}

} // namespace cd
