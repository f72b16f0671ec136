#include "settings/FileNames.h"

namespace settings {

namespace {

// What a byte of a title becomes in a file name; 0 keeps it as it is.
char Replacement(unsigned char c) {
    if (c == '/') {
        return '-';
    }
    if (c < 0x20 || c == 0x7F) {
        return ' ';
    }
    return 0;
}

bool IsContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

std::string FileNameFromTitle(std::string_view title) {
    std::string name;
    name.reserve(title.size());
    for (const char c : title) {
        const char replaced = Replacement(static_cast<unsigned char>(c));
        name.push_back(replaced != 0 ? replaced : c);
    }
    if (name.size() > kMaxFileNameBytes) {
        std::size_t end = kMaxFileNameBytes;
        // Back to the first byte of the character that would be split.
        while (end > 0 && IsContinuationByte(static_cast<unsigned char>(name[end]))) {
            --end;
        }
        name.resize(end);
    }
    if (name == "." || name == "..") {
        name.assign(name.size(), '_');
    }
    return name;
}

} // namespace settings
