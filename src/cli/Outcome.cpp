#include "cli/Outcome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include "cli/Arguments.h"

namespace cli {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

int ExitCodeOf(const TJobOutcome& outcome) {
    if (outcome.interrupted) {
        return kExitInterrupted;
    }
    const bool allOk = std::all_of(outcome.items.begin(), outcome.items.end(),
                                   [](const TItemResult& r) { return r.status == "ok"; });
    return allOk ? kExitOk : kExitSomeFailed;
}

std::string OutcomeJson(const std::string& command, const TJobOutcome& outcome) {
    QJsonArray items;
    for (const TItemResult& r : outcome.items) {
        QJsonObject item;
        if (r.track > 0) {
            item[QStringLiteral("track")] = r.track;
        }
        item[QStringLiteral("input")] = Q(r.input);
        item[QStringLiteral("output")] = r.output.empty() ? QJsonValue() : QJsonValue(Q(r.output));
        item[QStringLiteral("status")] = Q(r.status);
        if (!r.detail.empty()) {
            item[QStringLiteral("detail")] = Q(r.detail);
        }
        items.append(item);
    }
    QJsonObject root;
    root[QStringLiteral("command")] = Q(command);
    root[QStringLiteral("exitCode")] = ExitCodeOf(outcome);
    root[QStringLiteral("interrupted")] = outcome.interrupted;
    root[QStringLiteral("items")] = items;
    if (!outcome.log.empty()) {
        root[QStringLiteral("log")] = Q(outcome.log);
    }
    if (!outcome.disc.empty()) {
        root[QStringLiteral("disc")] = Q(outcome.disc);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact).toStdString();
}

std::string OutcomeText(const TJobOutcome& outcome) {
    const auto ok = std::count_if(outcome.items.begin(), outcome.items.end(),
                                  [](const TItemResult& r) { return r.status == "ok"; });
    std::string text = std::to_string(ok) + " of " + std::to_string(outcome.items.size()) + " ok" +
                       (outcome.interrupted ? ", interrupted" : "") + "\n";
    for (const TItemResult& r : outcome.items) {
        if (!r.detail.empty()) {
            text += (r.track > 0 ? "track " + std::to_string(r.track) + ": " : r.input + ": ") +
                    r.detail + "\n";
        }
    }
    if (!outcome.disc.empty()) {
        text += outcome.disc + "\n";
    }
    if (!outcome.log.empty()) {
        text += "log: " + outcome.log + "\n";
    }
    return text;
}

} // namespace cli
