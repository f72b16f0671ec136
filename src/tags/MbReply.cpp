#include "tags/MbReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <limits>

namespace tags {

namespace {

std::string Str(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString().trimmed().toStdString() : std::string();
}

int Int(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isDouble()) {
        const double d = v.toDouble();
        return d >= 0 && d <= 10000 ? static_cast<int>(d) : 0;
    }
    return 0;
}

QJsonArray Arr(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toArray();
}

// "A feat. B": the credited names with their join phrases.
std::string CreditText(const QJsonArray& credit) {
    std::string text;
    for (const QJsonValue& part : credit) {
        const QJsonObject p = part.toObject();
        std::string name = Str(p, "name");
        if (name.empty()) {
            name = Str(p.value(QLatin1String("artist")).toObject(), "name");
        }
        const QJsonValue join = p.value(QLatin1String("joinphrase"));
        text += name + (join.isString() ? join.toString().toStdString() : std::string());
    }
    return text;
}

bool MediumHoldsDisc(const QJsonObject& medium, const std::string& discId) {
    for (const QJsonValue& d : Arr(medium, "discs")) {
        if (!discId.empty() && Str(d.toObject(), "id") == discId) {
            return true;
        }
    }
    return false;
}

// The medium that is the disc: by its disc ids, else the first with as many tracks.
std::optional<QJsonObject> MediumOf(const QJsonArray& media, const std::string& discId,
                                    int trackCount) {
    for (const QJsonValue& m : media) {
        if (MediumHoldsDisc(m.toObject(), discId)) {
            return m.toObject();
        }
    }
    for (const QJsonValue& m : media) {
        const QJsonObject o = m.toObject();
        if (Int(o, "track-count") == trackCount || Arr(o, "tracks").size() == trackCount) {
            return o;
        }
    }
    return std::nullopt;
}

MbRelease ReleaseOf(const QJsonObject& r, const std::string& discId, int trackCount) {
    MbRelease release;
    release.id = Str(r, "id");
    release.title = Str(r, "title");
    release.artist = CreditText(Arr(r, "artist-credit"));
    release.date = Str(r, "date");
    release.country = Str(r, "country");
    release.barcode = Str(r, "barcode");
    for (const QJsonValue& info : Arr(r, "label-info")) {
        const std::string name =
            Str(info.toObject().value(QLatin1String("label")).toObject(), "name");
        if (!name.empty()) {
            release.label = name;
            break;
        }
    }
    const QJsonArray media = Arr(r, "media");
    release.discCount = static_cast<int>(media.size());
    const auto medium = MediumOf(media, discId, trackCount);
    if (!medium) {
        return release;
    }
    release.discNumber = Int(*medium, "position");
    for (const QJsonValue& t : Arr(*medium, "tracks")) {
        const QJsonObject track = t.toObject();
        const QJsonObject recording = track.value(QLatin1String("recording")).toObject();
        MbTrack out;
        out.title = Str(track, "title");
        if (out.title.empty()) {
            out.title = Str(recording, "title");
        }
        QJsonArray credit = Arr(track, "artist-credit");
        out.artist = CreditText(credit.isEmpty() ? Arr(recording, "artist-credit") : credit);
        out.recordingId = Str(recording, "id");
        release.tracks.push_back(std::move(out));
    }
    return release;
}

MbRelease StubOf(const QJsonObject& stub) {
    MbRelease release;
    release.source = MbRelease::Source::CdStub;
    release.title = Str(stub, "title");
    release.artist = Str(stub, "artist");
    release.barcode = Str(stub, "barcode");
    for (const QJsonValue& t : Arr(stub, "tracks")) {
        const QJsonObject track = t.toObject();
        release.tracks.push_back({Str(track, "title"), Str(track, "artist"), {}});
    }
    return release;
}

} // namespace

std::string MbRelease::Year() const {
    const std::string year = date.substr(0, 4);
    for (const char c : year) {
        if (c < '0' || c > '9') {
            return {};
        }
    }
    return year.size() == 4 ? year : std::string();
}

std::string MbRelease::DiscText() const {
    if (discNumber <= 0) {
        return {};
    }
    return discCount > 1 ? std::to_string(discNumber) + "/" + std::to_string(discCount)
                         : std::to_string(discNumber);
}

std::string MbRelease::SourceText() const {
    switch (source) {
    case Source::CdStub:
        return "CD stub";
    case Source::CdText:
        return "CD-Text";
    default:
        return "MusicBrainz";
    }
}

std::optional<std::vector<MbRelease>> ParseMbDiscReply(std::string_view json,
                                                       const std::string& discId, int trackCount) {
    if (json.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    std::vector<MbRelease> releases;
    if (root.contains(QLatin1String("releases"))) {
        for (const QJsonValue& r : Arr(root, "releases")) {
            if (r.isObject()) {
                releases.push_back(ReleaseOf(r.toObject(), discId, trackCount));
            }
        }
        return releases;
    }
    // A CD stub names the disc's tracks itself.
    if (root.contains(QLatin1String("tracks")) && root.contains(QLatin1String("title"))) {
        releases.push_back(StubOf(root));
        return releases;
    }
    return std::nullopt;
}

MbRelease ReleaseOfCdText(const cd::CdTextInfo& text) {
    MbRelease release;
    release.source = MbRelease::Source::CdText;
    release.title = text.album;
    release.artist = text.artist;
    for (std::size_t i = 0; i < text.titles.size(); ++i) {
        const std::string performer = i < text.performers.size() ? text.performers[i] : "";
        release.tracks.push_back({text.titles[i], performer, {}});
    }
    return release;
}

} // namespace tags
