#include "cd/RipHarness.h"

#include <QCoreApplication>
#include <memory>

namespace cdtest {

cd::TRipOptions RipOptionsFromSettings(const std::string& title) {
    const settings::TCommonOptions& c = settings::Settings.CommonOptions;
    cd::TRipOptions options;
    options.WavPath = c.OutputFolder + "/" + title + ".wav";
    options.EnableRipTime = c.EnableRipTime;
    options.RipTime = c.RipTime;
    options.IsNormalize = c.IsNormalize;
    options.NormalizePercent = c.NormalizePercent;
    return options;
}

void RunRip(int track, const std::string& title, cd::HCDROM handle,
            testsupport::MessageRecorder& receiver,
            const std::function<void(cd::TCDRipThread&)>& prepare) {
    auto thread = std::make_unique<cd::TCDRipThread>(track, title, RipOptionsFromSettings(title));
    thread->CDHandle = handle;
    thread->NotifyWindow = &receiver;
    if (prepare) {
        prepare(*thread);
    }
    thread->Resume();
    thread.reset(); // waits for the worker
    QCoreApplication::sendPostedEvents(&receiver);
}

void ImageRipTest::SetUp() {
    settings::Settings.CommonOptions = settings::TCommonOptions{};
    settings::Settings.CommonOptions.OutputFolder = out.Path();
}

void ImageRipTest::OpenImage(const std::vector<int>& frames, const std::string& name) {
    CloseDisc();
    UseImages({MakeImage(images, name, frames)});
    bin = images.File(name + ".bin");
    handle = OpenFirstDrive();
    ASSERT_GT(handle, 0);
}

void ImageRipTest::CloseDisc() {
    if (handle != 0) {
        cd::CloseCDHandle(handle);
        handle = 0;
    }
}

} // namespace cdtest
