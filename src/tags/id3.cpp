#include "tags/id3.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tags {
namespace {

using TagImage = std::array<std::uint8_t, ID3_TAG_SIZE>;

constexpr std::size_t TitleOffset = 3;
constexpr std::size_t ArtistOffset = 33;
constexpr std::size_t AlbumOffset = 63;
constexpr std::size_t YearOffset = 93;
constexpr std::size_t CommentOffset = 97;
constexpr std::size_t TrackMarkerOffset = 125;
constexpr std::size_t TrackOffset = 126;
constexpr std::size_t GenreOffset = 127;

// Owns one open file descriptor.
class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle& operator=(FileHandle&&) = delete;
    ~FileHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Closes now so that a late write error can still be reported.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Opens a regular file; a directory, device or pipe counts as "could not be opened".
// O_NONBLOCK keeps open from hanging on a FIFO.
FileHandle OpenRegular(const std::string& path, int flags) {
    FileHandle file(::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (file.IsOpen() && (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        return FileHandle(-1);
    }
    return file;
}

// Size of the open file, or -1.
off_t SizeOf(const FileHandle& file) {
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0) {
        return -1;
    }
    return st.st_size;
}

// Repeats a positioned read or write until count bytes are done; false on an error or
// on a transfer of nothing.
template <typename Buffer, typename Transfer>
bool TransferExactly(Buffer* buffer, std::size_t count, off_t at, Transfer transfer) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = transfer(buffer + done, count - done, at + off_t(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

bool ReadExactly(const FileHandle& file, std::uint8_t* buffer, std::size_t count, off_t at) {
    return TransferExactly(buffer, count, at, [&](std::uint8_t* p, std::size_t n, off_t offset) {
        return ::pread(file.Get(), p, n, offset);
    });
}

bool WriteExactly(const FileHandle& file, const std::uint8_t* buffer, std::size_t count, off_t at) {
    return TransferExactly(buffer, count, at,
                           [&](const std::uint8_t* p, std::size_t n, off_t offset) {
                               return ::pwrite(file.Get(), p, n, offset);
                           });
}

bool StartsWithTagMarker(const std::uint8_t* bytes) {
    return bytes[0] == 'T' && bytes[1] == 'A' && bytes[2] == 'G';
}

// True when the last 128 bytes of a file of `size` bytes begin with "TAG". A failed read
// sets readFailed.
bool HasTagAtEnd(const FileHandle& file, off_t size, bool& readFailed) {
    readFailed = false;
    if (size < off_t(ID3_TAG_SIZE)) {
        return false;
    }
    std::array<std::uint8_t, 3> marker{};
    if (!ReadExactly(file, marker.data(), marker.size(), size - off_t(ID3_TAG_SIZE))) {
        readFailed = true;
        return false;
    }
    return StartsWithTagMarker(marker.data());
}

// A field's text: its bytes up to `width`, cut back past trailing 0x00, space and 0xFF.
std::string TrimmedField(const TagImage& image, std::size_t offset, std::size_t width) {
    std::size_t length = width;
    while (length > 0) {
        const std::uint8_t b = image[offset + length - 1];
        if (b != 0x00 && b != 0x20 && b != 0xFF) {
            break;
        }
        --length;
    }
    const auto* first = reinterpret_cast<const char*>(image.data() + offset);
    return Latin1ToUtf8(std::string_view(first, length));
}

// Copies a field into the image, converted to ISO-8859-1, cut to width, padded with 0x00.
void PutField(TagImage& image, std::size_t offset, std::size_t width, std::string_view utf8) {
    const std::string bytes = Utf8ToLatin1(utf8);
    for (std::size_t i = 0; i < width; ++i) {
        image[offset + i] = i < bytes.size() ? std::uint8_t(bytes[i]) : 0x00;
    }
}

// The text limited to `width` ISO-8859-1 bytes, back in UTF-8.
std::string LimitedText(std::string_view utf8, std::size_t width) {
    std::string bytes = Utf8ToLatin1(utf8);
    if (bytes.size() > width) {
        bytes.resize(width);
    }
    return Latin1ToUtf8(bytes);
}

// Length of the UTF-8 sequence starting with lead byte b, 0 when b cannot start one.
std::size_t SequenceLength(std::uint8_t b) {
    if (b < 0x80) {
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        return 4;
    }
    return 0;
}

// Decodes one well-formed sequence at text[i] into codePoint; returns its length or 0.
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& codePoint) {
    const auto lead = std::uint8_t(text[i]);
    const std::size_t length = SequenceLength(lead);
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    if (length == 1) {
        codePoint = lead;
        return 1;
    }
    char32_t value = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = std::uint8_t(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed.
    static constexpr char32_t Minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < Minimum[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        return 0;
    }
    codePoint = value;
    return length;
}

} // namespace

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() * 2);
    for (const char c : latin1) {
        const auto b = std::uint8_t(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(char(0xC0 | (b >> 6)));
            out.push_back(char(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t codePoint = 0;
        const std::size_t length = DecodeUtf8(utf8, i, codePoint);
        if (length == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(codePoint <= 0xFF ? char(codePoint) : '?');
        i += length;
    }
    return out;
}

bool IsProtectedFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    const std::string name = std::filesystem::path(path).filename().string();
    return (st.st_mode & S_IWUSR) == 0 || (!name.empty() && name[0] == '.');
}

std::uint16_t Tid3tag::ReadTag(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return ID3_OPEN_FAILED;
    }
    ReadOnly = IsProtectedFile(path);
    const FileHandle file = OpenRegular(path, O_RDONLY);
    if (!file.IsOpen()) {
        return ID3_OPEN_FAILED;
    }
    FileName = path;
    const off_t size = SizeOf(file);
    if (size < 0) {
        return ID3_IO_FAILED;
    }
    if (size < off_t(ID3_TAG_SIZE)) {
        return ID3_NO_TAG;
    }
    TagImage image{};
    if (!ReadExactly(file, image.data(), image.size(), size - off_t(ID3_TAG_SIZE))) {
        return ID3_READ_FAILED;
    }
    if (!StartsWithTagMarker(image.data())) {
        return ID3_NO_TAG;
    }
    Title = TrimmedField(image, TitleOffset, ID3_TEXT_WIDTH);
    Artist = TrimmedField(image, ArtistOffset, ID3_TEXT_WIDTH);
    Album = TrimmedField(image, AlbumOffset, ID3_TEXT_WIDTH);
    Year = TrimmedField(image, YearOffset, ID3_YEAR_WIDTH);
    HasTrack = image[TrackMarkerOffset] == 0x00 && image[TrackOffset] != 0x00;
    Track = HasTrack ? image[TrackOffset] : 0;
    Comment = TrimmedField(image, CommentOffset,
                           HasTrack ? ID3_COMMENT_WIDTH_WITH_TRACK : ID3_TEXT_WIDTH);
    Genre = image[GenreOffset];
    return (Genre > 147 && Genre != 255) ? ID3_UNKNOWN_GENRE : ID3_DONE;
}

std::uint16_t Tid3tag::WriteTag(const std::string& path) {
    const std::string target = path == "=" ? FileName : path;
    struct stat st {};
    if (target.empty() || ::stat(target.c_str(), &st) != 0) {
        return ID3_OPEN_FAILED;
    }
    if (IsProtectedFile(target)) {
        return ID3_PROTECTED;
    }
    FileHandle file = OpenRegular(target, O_RDWR);
    if (!file.IsOpen()) {
        return ID3_OPEN_FAILED;
    }
    const off_t size = SizeOf(file);
    if (size < 0) {
        return ID3_IO_FAILED;
    }
    bool readFailed = false;
    const bool replace = HasTagAtEnd(file, size, readFailed);
    if (readFailed) {
        return ID3_READ_FAILED;
    }

    TagImage image{};
    image[0] = 'T';
    image[1] = 'A';
    image[2] = 'G';
    PutField(image, TitleOffset, ID3_TEXT_WIDTH, Title);
    PutField(image, ArtistOffset, ID3_TEXT_WIDTH, Artist);
    PutField(image, AlbumOffset, ID3_TEXT_WIDTH, Album);
    PutField(image, YearOffset, ID3_YEAR_WIDTH, Year);
    if (HasTrack && Track != 0) {
        PutField(image, CommentOffset, ID3_COMMENT_WIDTH_WITH_TRACK, Comment);
        image[TrackMarkerOffset] = 0x00;
        image[TrackOffset] = Track;
    } else {
        PutField(image, CommentOffset, ID3_TEXT_WIDTH, Comment);
    }
    image[GenreOffset] = Genre;

    const off_t at = replace ? size - off_t(ID3_TAG_SIZE) : size;
    if (!WriteExactly(file, image.data(), image.size(), at) || !file.Close()) {
        return ID3_WRITE_FAILED;
    }
    FileName = target;
    return ID3_DONE;
}

void Tid3tag::RemoveTag() {
    struct stat st {};
    if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0 || IsProtectedFile(FileName)) {
        return;
    }
    const FileHandle file = OpenRegular(FileName, O_RDWR);
    if (!file.IsOpen()) {
        return;
    }
    const off_t size = SizeOf(file);
    bool readFailed = false;
    if (size < 0 || !HasTagAtEnd(file, size, readFailed)) {
        return;
    }
    // Nothing to report: no caller looks at the outcome.
    (void)::ftruncate(file.Get(), size - off_t(ID3_TAG_SIZE));
}

void Tid3tag::SetTitle(std::string_view text) {
    Title = LimitedText(text, ID3_TEXT_WIDTH);
}

void Tid3tag::SetArtist(std::string_view text) {
    Artist = LimitedText(text, ID3_TEXT_WIDTH);
}

void Tid3tag::SetAlbum(std::string_view text) {
    Album = LimitedText(text, ID3_TEXT_WIDTH);
}

void Tid3tag::SetYear(std::string_view text) {
    Year = LimitedText(text, ID3_YEAR_WIDTH);
}

void Tid3tag::SetComment(std::string_view text) {
    Comment = LimitedText(text, ID3_TEXT_WIDTH);
}

void Tid3tag::SetTrack(std::uint8_t n) {
    Track = n;
    HasTrack = n != 0;
}

} // namespace tags
