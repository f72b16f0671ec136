#include "app/TrackRows.h"

#include <cmath>

#include "settings/Global.h"

namespace app {

using settings::TwoDigits;

std::vector<TrackRow> TrackRowsFromTOC(const cd::TTOC& toc) {
    std::vector<TrackRow> rows;
    const int first = toc.firstTrack;
    const int last = toc.lastTrack;
    // Entry n must exist for every track n: the table holds 100 entries.
    if (first < 1 || last < first || last > 99) {
        return rows;
    }
    int prevMin = toc.tracks[first - 1].addr[1];
    int prevSec = toc.tracks[first - 1].addr[2];
    for (int n = first; n <= last; ++n) {
        const cd::TTOCEntry& next = toc.tracks[n];
        int minutes = next.addr[1] - prevMin;
        int seconds = next.addr[2] - prevSec;
        if (seconds < 0) {
            seconds += 60;
            minutes -= 1;
        }
        prevMin = next.addr[1];
        prevSec = next.addr[2];
        rows.push_back({n, minutes, seconds});
    }
    return rows;
}

std::string LengthText(const TrackRow& row) {
    return TwoDigits(row.minutes) + ":" + TwoDigits(row.seconds);
}

std::string SizeText(const TrackRow& row) {
    const double bytes = (row.minutes * 60.0 + row.seconds) * 176400.0;
    const double mb = bytes / 1048576.0;
    // nearbyint rounds halves to even under the default rounding mode.
    const long long h = std::llrint(mb * 100.0);
    return TwoDigits(static_cast<int>(h / 100)) + "." + TwoDigits(static_cast<int>(h % 100));
}

} // namespace app
