// The disc's cover made ready for the tags: images that fit keep their bytes, larger ones
// are scaled to the limit into a copy, the file on disk never changes, and anything that
// is not an image is refused with its reason. The saved copy is written once.
#include "jobs/CoverImage.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// An image of the given size with a diagonal, saved in the format.
std::string MakeImage(const testsupport::ScratchFolder& folder, const std::string& name, int width,
                      int height, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.drawLine(0, 0, width - 1, height - 1);
    painter.end();
    const std::string path = folder.File(name);
    EXPECT_TRUE(image.save(QString::fromStdString(path), format));
    return path;
}

QImage Decoded(const tags::TCoverArt& art) {
    return QImage::fromData(QByteArray::fromStdString(art.Bytes));
}

struct CoverCase {
    const char* name;
    int width;
    int height;
    const char* format; // of the file
    int expectedWidth;
    int expectedHeight;
    const char* mime;
    const char* extension;
    bool sameBytes; // embedded as the file's own bytes
};

const CoverCase kCovers[] = {
    {"small.png", 300, 200, "PNG", 300, 200, "image/png", ".png", true},
    {"exact.jpg", 1000, 1000, "JPG", 1000, 1000, "image/jpeg", ".jpg", true},
    {"wide.jpg", 2400, 1200, "JPG", 1000, 500, "image/jpeg", ".jpg", false},
    {"tall.png", 800, 1600, "PNG", 500, 1000, "image/png", ".png", false},
    {"small.bmp", 64, 64, "BMP", 64, 64, "image/jpeg", ".jpg", false},
};

} // namespace

TEST(CoverImage, ImagesAreEmbeddedAtMostAtTheLimitAndTheFileIsUntouched) {
    testsupport::ScratchFolder folder;
    for (const CoverCase& c : kCovers) {
        const std::string path = MakeImage(folder, c.name, c.width, c.height, c.format);
        const testsupport::Bytes before = testsupport::ReadAll(path);
        const jobs::TPreparedCover cover = jobs::PrepareCover(path);
        ASSERT_TRUE(cover.Art) << c.name << ": " << cover.Error;
        EXPECT_EQ(cover.Error, "") << c.name;
        EXPECT_EQ(cover.Art->Mime, c.mime) << c.name;
        EXPECT_EQ(cover.Extension, c.extension) << c.name;
        EXPECT_EQ(cover.Art->Width, c.expectedWidth) << c.name;
        EXPECT_EQ(cover.Art->Height, c.expectedHeight) << c.name;
        const QImage embedded = Decoded(*cover.Art);
        EXPECT_EQ(embedded.width(), c.expectedWidth) << c.name;
        EXPECT_EQ(embedded.height(), c.expectedHeight) << c.name;
        EXPECT_EQ(testsupport::Bytes(cover.Art->Bytes.begin(), cover.Art->Bytes.end()) == before,
                  c.sameBytes)
            << c.name;
        EXPECT_EQ(testsupport::ReadAll(path), before) << c.name << " was changed";
    }
}

TEST(CoverImage, WhatIsNoImageGivesNoCoverAndSaysWhy) {
    testsupport::ScratchFolder folder;
    const struct {
        std::string path;
        const char* error; // the reason's end
    } cases[] = {
        {"", ""},
        {folder.WriteText("notes.jpg", "these are not pixels\n"), " is not an image"},
        {folder.File("gone.png"), "No such file or directory"},
        {folder.Path(), "cannot be read: "},
    };
    for (const auto& c : cases) {
        const jobs::TPreparedCover cover = jobs::PrepareCover(c.path);
        EXPECT_FALSE(cover.Art) << c.path;
        const std::string error = c.error;
        EXPECT_TRUE(cover.Error.size() >= error.size() &&
                    (cover.Error.find(error) != std::string::npos))
            << c.path << ": " << cover.Error;
        EXPECT_EQ(cover.Error.empty(), error.empty()) << c.path;
    }
}

TEST(CoverImage, TheCopyBesideTheFilesIsSavedOnceAndNeverReplaced) {
    testsupport::ScratchFolder folder;
    const std::string image = MakeImage(folder, "front.png", 40, 30, "PNG");
    const jobs::TPreparedCover cover = jobs::PrepareCover(image);
    ASSERT_TRUE(cover.Art);
    const std::string album = folder.File("album");
    fs::create_directory(album);

    EXPECT_EQ(jobs::SaveCoverOnce(cover, album), "");
    EXPECT_EQ(testsupport::ReadAll(album + "/cover.png"), testsupport::ReadAll(image));
    EXPECT_FALSE(fs::exists(album + "/cover.png.part"));

    const std::string users = folder.WriteText("album/cover.png", "the user's own");
    EXPECT_EQ(jobs::SaveCoverOnce(cover, album), "");
    EXPECT_EQ(testsupport::ReadText(users), "the user's own");

    EXPECT_NE(jobs::SaveCoverOnce(cover, folder.File("missing")), "");
    EXPECT_FALSE(fs::exists(folder.File("missing")));
    EXPECT_EQ(jobs::SaveCoverOnce(jobs::TPreparedCover{}, album), "") << "no cover, nothing to do";
}
