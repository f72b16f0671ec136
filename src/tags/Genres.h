#pragma once
// The genre list shown by the genre boxes (position 0 is an empty entry, positions
// 1..148 the ID3v1 genre names in alphabetical order) and the mapping between a
// position in that list and the genre byte stored in a tag.
#include <array>
#include <cstdint>

namespace tags {

constexpr int GenreListCount = 149; // the empty entry plus 148 names
constexpr std::uint8_t NoGenre = 255;

// The 149 entries of a genre box, in order; entry 0 is "".
extern const std::array<const char*, GenreListCount> GenreList;

// A position of the genre list to the byte that goes into a tag. Position 0 and any
// position outside 0..148 (such as -1, no selection) give 255, no genre.
std::uint8_t GenreIndexToCode(int position);

// A tag's genre byte to the position to select in a genre list. Codes 148..255 name no
// genre and give 0, the empty entry.
int GenreCodeToIndex(std::uint8_t code);

} // namespace tags
