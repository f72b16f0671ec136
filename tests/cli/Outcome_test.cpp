#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/FormatNames.h"
#include "cli/Outcome.h"

namespace {

cli::TJobOutcome Outcome(std::vector<std::string> statuses, bool interrupted) {
    cli::TJobOutcome outcome;
    int track = 1;
    for (const std::string& status : statuses) {
        cli::TItemResult r;
        r.track = track++;
        r.input = "Track0" + std::to_string(r.track);
        r.status = status;
        outcome.items.push_back(r);
    }
    outcome.interrupted = interrupted;
    return outcome;
}

TEST(ExitCodeOf, InterruptedBeforeFailedBeforeSuccess) {
    struct Case {
        std::vector<std::string> statuses;
        bool interrupted;
        int code;
    };
    const Case cases[] = {
        {{"ok", "ok"}, false, 0},           {{}, false, 0},
        {{"ok", "damaged"}, false, 1},      {{"failed"}, false, 1},
        {{"not verified", "ok"}, false, 1}, {{"not normalized"}, false, 1},
        {{"ok", "stopped"}, true, 130},     {{"failed"}, true, 130},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cli::ExitCodeOf(Outcome(c.statuses, c.interrupted)), c.code)
            << ::testing::PrintToString(c.statuses) << " interrupted " << c.interrupted;
    }
}

TEST(OutcomeJson, CarriesEveryItemAndTheExitCode) {
    cli::TJobOutcome outcome = Outcome({"ok", "damaged"}, false);
    outcome.items[0].output = "/out/01 \"Intro\".mp3";
    outcome.items[1].detail = "damaged (2 sectors uncorrectable)";
    outcome.log = "/out/rip-1.log";
    const QJsonObject root =
        QJsonDocument::fromJson(QByteArray::fromStdString(cli::OutcomeJson("rip", outcome)))
            .object();
    EXPECT_EQ(root["command"].toString(), "rip");
    EXPECT_EQ(root["exitCode"].toInt(), 1);
    EXPECT_FALSE(root["interrupted"].toBool());
    EXPECT_EQ(root["log"].toString(), "/out/rip-1.log");
    EXPECT_FALSE(root.contains("disc"));
    const QJsonArray items = root["items"].toArray();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toObject()["track"].toInt(), 1);
    EXPECT_EQ(items[0].toObject()["output"].toString(), "/out/01 \"Intro\".mp3");
    EXPECT_EQ(items[0].toObject()["status"].toString(), "ok");
    EXPECT_TRUE(items[1].toObject()["output"].isNull());
    EXPECT_EQ(items[1].toObject()["detail"].toString(), "damaged (2 sectors uncorrectable)");
}

TEST(OutcomeText, CountsTheGoodItemsAndSaysWhenInterrupted) {
    EXPECT_EQ(cli::OutcomeText(Outcome({"ok", "failed", "ok"}, false)), "2 of 3 ok\n");
    EXPECT_EQ(cli::OutcomeText(Outcome({"ok", "stopped"}, true)), "1 of 2 ok, interrupted\n");
}

TEST(FormatNames, EveryRowOfTheFormatTableIsNamedByItsExtension) {
    const std::vector<std::string> names = cli::FormatNames();
    const auto rows = settings::OutputFormats();
    ASSERT_EQ(names.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ("." + names[i], rows[i].Extension);
        EXPECT_EQ(cli::FormatNamed(names[i]), rows[i].Format) << names[i];
    }
    const std::pair<const char*, std::optional<settings::TOutputFormat>> cases[] = {
        {"MP3", settings::TOutputFormat::ofMp3},
        {"Wav", settings::TOutputFormat::ofWav},
        {".mp3", std::nullopt},
        {"", std::nullopt},
        {"mp", std::nullopt},
        {"mp3 ", std::nullopt},
    };
    for (const auto& [name, format] : cases) {
        EXPECT_EQ(cli::FormatNamed(name), format) << name;
    }
    const std::string choices = cli::FormatChoices();
    EXPECT_NE(choices.find(" or " + names.back()), std::string::npos) << choices;
    EXPECT_EQ(choices.rfind(names.front() + ", ", 0), 0u) << choices;
}

} // namespace
