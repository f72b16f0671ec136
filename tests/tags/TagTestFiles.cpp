#include "TagTestFiles.h"

namespace tagtests {

Bytes TagImage(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, std::uint8_t genre) {
    Bytes tag(128, 0x00);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    auto put = [&tag](std::size_t at, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            tag[at + i] = std::uint8_t(text[i]);
        }
    };
    put(3, title);
    put(33, artist);
    put(63, album);
    put(93, year);
    for (std::size_t i = 0; i < comment30.size() && i < 30; ++i) {
        tag[97 + i] = comment30[i];
    }
    tag[127] = genre;
    return tag;
}

} // namespace tagtests
