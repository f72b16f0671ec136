#include "audio/SimdLevel.h"

namespace audio {

TSimdLevel BestSimdLevel() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const TSimdLevel level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
            return TSimdLevel::Avx2;
        }
        return TSimdLevel::Base;
    }();
    return level;
#else
    return TSimdLevel::Base;
#endif
}

} // namespace audio
