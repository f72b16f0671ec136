#pragma once
// The widest vector instructions this processor runs, for the few sample loops that pick
// their code at run time (the loudness meter's filter and interpolator): the build itself
// targets every x86-64, so those loops are compiled once per level and chosen here.
namespace audio {

enum class TSimdLevel {
    Base, // what every x86-64 (or any other processor) has
    Avx2, // 256-bit vectors with fused multiply-add (512-bit ones measured no faster here)
};

TSimdLevel BestSimdLevel();

// Every level this processor runs, Base first: what a test compares against Base.
inline bool Runs(TSimdLevel level) {
    return static_cast<int>(level) <= static_cast<int>(BestSimdLevel());
}

} // namespace audio
