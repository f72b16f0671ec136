#include "cli/DiscIds.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

#include "cd/DiscToc.h"
#include "cd/MbDiscId.h"

namespace cli {

namespace {

// A disc's addresses start two seconds before its first sector.
constexpr std::uint32_t kLeadInFrames = 150;
constexpr std::uint32_t kFramesPerSecond = 75;

std::string Hex8(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08x", value);
    return buffer;
}

const std::string& StoredTitle(const settings::TDiscInfo& stored, int number) {
    static const std::string none;
    return number >= 1 && number < static_cast<int>(stored.Titles.size())
               ? stored.Titles[static_cast<std::size_t>(number)]
               : none;
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

TDiscIds DiscIdsOf(const cd::RipDisc& disc) {
    TDiscIds ids;
    ids.cddb = cd::CddbDiscIdOf(disc);
    ids.accurateRip = cd::ArDiscIdsOf(disc);
    ids.musicBrainz = MusicBrainzIdOf(disc);
    return ids;
}

std::optional<std::string> MusicBrainzIdOf(const cd::RipDisc& disc) {
    std::string id = cd::MbDiscIdOf(disc);
    if (id.empty()) {
        return std::nullopt;
    }
    return id;
}

std::string AccurateRipIdText(const cd::ArDiscIds& ids) {
    char count[8];
    std::snprintf(count, sizeof count, "%03d", ids.trackCount);
    return std::string(count) + "-" + Hex8(ids.id1) + "-" + Hex8(ids.id2) + "-" + Hex8(ids.cddb);
}

std::string MsfText(std::uint32_t lsn) {
    return LengthText(lsn + kLeadInFrames);
}

std::string LengthText(std::uint32_t frames) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u.%02u", frames / (60 * kFramesPerSecond),
                  frames / kFramesPerSecond % 60, frames % kFramesPerSecond);
    return buffer;
}

std::string DiscInfoText(const std::string& name, const cd::RipDisc& disc, const TDiscIds& ids,
                         const settings::TDiscInfo& stored) {
    std::string text = "Disc: " + name + "\n";
    if (!stored.Artist.empty() || !stored.Album.empty()) {
        text += "Album: " + stored.Artist + " / " + stored.Album + "\n";
    }
    text += "Track  Start     Length    Frames  Type   Title\n";
    for (const cd::RipLogTocEntry& t : disc.toc) {
        char line[96];
        std::snprintf(line, sizeof line, "%5d  %s  %s  %6u  %-5s  ", t.number,
                      MsfText(t.start).c_str(), LengthText(t.frames).c_str(), t.frames,
                      t.data ? "data" : "audio");
        text += line + StoredTitle(stored, t.number) + "\n";
    }
    text +=
        "Lead-out: " + MsfText(disc.leadOut) + " (sector " + std::to_string(disc.leadOut) + ")\n";
    text += "CDDB disc id: " + Hex8(ids.cddb) + "\n";
    text += "AccurateRip disc id: " + AccurateRipIdText(ids.accurateRip) + "\n";
    text += "MusicBrainz disc id: " + ids.musicBrainz.value_or("(not available)") + "\n";
    return text;
}

std::string DiscInfoJson(const cd::RipDisc& disc, const TDiscIds& ids,
                         const settings::TDiscInfo& stored) {
    QJsonArray tracks;
    for (const cd::RipLogTocEntry& t : disc.toc) {
        QJsonObject track;
        track[QStringLiteral("number")] = t.number;
        track[QStringLiteral("start")] = static_cast<qint64>(t.start);
        track[QStringLiteral("frames")] = static_cast<qint64>(t.frames);
        track[QStringLiteral("audio")] = !t.data;
        track[QStringLiteral("title")] = Q(StoredTitle(stored, t.number));
        tracks.append(track);
    }
    QJsonObject root;
    root[QStringLiteral("tracks")] = tracks;
    root[QStringLiteral("leadOut")] = static_cast<qint64>(disc.leadOut);
    root[QStringLiteral("cddbId")] = Q(Hex8(ids.cddb));
    root[QStringLiteral("accurateRipId")] = Q(AccurateRipIdText(ids.accurateRip));
    root[QStringLiteral("musicBrainzId")] =
        ids.musicBrainz ? QJsonValue(Q(*ids.musicBrainz)) : QJsonValue();
    root[QStringLiteral("artist")] = Q(stored.Artist);
    root[QStringLiteral("album")] = Q(stored.Album);
    return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace cli
