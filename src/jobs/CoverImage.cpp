#include "jobs/CoverImage.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

#include <filesystem>
#include <fstream>

#include "jobs/WriteCause.h"

namespace jobs {

namespace {

std::string Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, format == QByteArrayLiteral("jpg") ? 90 : -1)) {
        return {};
    }
    return bytes.toStdString();
}

} // namespace

TPreparedCover PrepareCover(const std::string& path, int maxSide) {
    TPreparedCover prepared;
    if (path.empty()) {
        return prepared;
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        prepared.Error =
            "the cover " + path + " cannot be read: " + file.errorString().toStdString();
        return prepared;
    }
    const QByteArray original = file.readAll();
    QBuffer buffer;
    buffer.setData(original);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format().toLower();
    QImage image = reader.read();
    if (image.isNull()) {
        prepared.Error = "the cover " + path + " is not an image";
        return prepared;
    }
    const bool png = format == "png";
    const bool fits = image.width() <= maxSide && image.height() <= maxSide;
    auto art = std::make_shared<tags::TCoverArt>();
    if (!fits) {
        image = image.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (fits && (png || format == "jpeg" || format == "jpg")) {
        art->Bytes = original.toStdString();
    } else {
        art->Bytes = Encoded(image, png ? "png" : "jpg");
    }
    art->Mime = png ? "image/png" : "image/jpeg";
    art->Width = image.width();
    art->Height = image.height();
    art->ColorDepth = image.hasAlphaChannel() ? 32 : image.isGrayscale() ? 8 : 24;
    prepared.Extension = png ? ".png" : ".jpg";
    if (art->Bytes.empty()) {
        prepared.Error = "the cover " + path + " could not be converted";
        return prepared;
    }
    prepared.Art = std::move(art);
    return prepared;
}

std::string SaveCoverOnce(const TPreparedCover& cover, const std::string& folder) {
    if (!cover.Art || folder.empty()) {
        return {};
    }
    const std::filesystem::path target =
        std::filesystem::path(folder) / ("cover" + cover.Extension);
    std::error_code ec;
    if (std::filesystem::exists(target, ec)) {
        return {};
    }
    const std::filesystem::path partial = target.string() + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(cover.Art->Bytes.data(), static_cast<std::streamsize>(cover.Art->Bytes.size()));
        out.close();
        if (!out) {
            const std::string cause = WriteCause(partial.string());
            std::filesystem::remove(partial, ec);
            return cause.empty() ? "the cover could not be written" : cause;
        }
    }
    std::filesystem::rename(partial, target, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        return "the cover could not be named " + target.string();
    }
    return {};
}

} // namespace jobs
