#include "jobs/Mp3EncodeThread.h"

#include "jobs/OutputLines.h"
#include "settings/Global.h"
#include "settings/ProcessInfo.h"

namespace jobs {

std::unique_ptr<TMp3EncodeProcess> Mp3Process;

namespace {

const char* StereoSwitch(int mode) {
    switch (mode) {
    case 0:
        return " -m s";
    case 1:
        return " -m j";
    case 2:
        return " -m f";
    case 3:
        return " -m d";
    case 4:
        return " -m m";
    default:
        return "";
    }
}

const char* QualitySwitch(int quality) {
    switch (quality) {
    case 1:
        return " -f";
    case 2:
        return " -h";
    default:
        return "";
    }
}

} // namespace

std::string TMp3EncodeProcess::CommandLine() const {
    const std::string files =
        platform::QuoteArgument(InputFile) + " " + platform::QuoteArgument(OutputFile);
    if (!EncodeMode) {
        return "lame --decode " + files;
    }
    const settings::TMp3Options& o = Options;
    std::string line = "lame -b " + std::to_string(o.BitRate);
    line += StereoSwitch(o.StereoMode);
    line += QualitySwitch(o.MpegQuality);
    if (o.IsSelectVBR) {
        line += " -V " + std::to_string(o.VBRQuality) + " -B " + std::to_string(o.MaxBitRate);
        if (o.IsVBRHead) {
            line += " -t";
        }
    }
    return line + " " + files;
}

bool TMp3EncodeProcess::PrepareCommandLine(std::string& commandLine) {
    commandLine = CommandLine();
    return true;
}

void TMp3EncodeProcess::LaunchMonitor(std::shared_ptr<TEncoderRun> run) {
    TEncoderMonitor::Launch<TMp3EncodeThread>(this, std::move(run));
}

void TMp3EncodeProcess::ParseOutput(const std::string& text) {
    if (EncodeMode) {
        ParseEncodeLines(text);
    } else {
        ParseDecodeLines(text);
    }
}

void TMp3EncodeProcess::ParseEncodeLines(const std::string& text) {
    for (const std::string& line : NonBlankLines(text)) {
        const std::size_t percent = line.find('%');
        if (percent == std::string::npos || EchoesFileNames(line)) {
            continue;
        }
        if (ProgressColumn == 0) {
            ProgressColumn = static_cast<std::int32_t>(percent) + 1 - 3;
        }
        if (ProgressColumn == 0) {
            continue; // a "%" in column 3 gives no field; look again on the next line
        }
        std::string field = Trim(Copy(line, ProgressColumn, 3));
        if (!field.empty() && field.front() == '(') {
            field.erase(0, 1);
        }
        int code = 0;
        if (!ParseInt(Trim(field), code)) {
            code = 0;
        }
        if (code >= 1 && code <= 100) {
            PostRecord(code, Trim(Copy(line, 21, 8)), Trim(Copy(line, 30, 8)));
        }
    }
}

void TMp3EncodeProcess::ParseDecodeLines(const std::string& text) {
    for (const std::string& line : NonBlankLines(text)) {
        if (EchoesFileNames(line)) {
            continue;
        }
        if (ProgressColumn == 0) {
            const std::size_t hash = line.find('#');
            if (hash == std::string::npos) {
                continue;
            }
            ProgressColumn = static_cast<std::int32_t>(hash) + 1 + 1;
        }
        int frame = 0;
        int total = 0;
        if (!ParseInt(Trim(Copy(line, ProgressColumn, 6)), frame) ||
            !ParseInt(Trim(Copy(line, ProgressColumn + 7, 6)), total) || total <= 0) {
            continue; // not a progress line, or a total of 0 that gives no percentage
        }
        const int code = static_cast<int>(static_cast<long long>(frame) * 100 / total);
        if (code >= 1 && code <= 100) {
            TimeTexts times = ProgressTimeTexts(SecondsSince(StartTime), code);
            PostRecord(code, std::move(times.Elapsed), std::move(times.Estimated));
        }
    }
}

void TMp3EncodeProcess::PostEnd(std::int32_t status) {
    PostRecord(settings::PI_MP3_ENDED, {}, {}, status);
}

} // namespace jobs
