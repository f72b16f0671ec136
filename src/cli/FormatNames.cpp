#include "cli/FormatNames.h"

#include <algorithm>
#include <cctype>

namespace cli {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string NameOf(const settings::TOutputFormatRow& row) {
    const std::string extension = row.Extension;
    return Lower(extension.empty() || extension.front() != '.' ? extension : extension.substr(1));
}

} // namespace

std::vector<std::string> FormatNames() {
    std::vector<std::string> names;
    for (const settings::TOutputFormatRow& row : settings::OutputFormats()) {
        names.push_back(NameOf(row));
    }
    return names;
}

std::optional<settings::TOutputFormat> FormatNamed(const std::string& name) {
    const std::string wanted = Lower(name);
    for (const settings::TOutputFormatRow& row : settings::OutputFormats()) {
        if (!wanted.empty() && NameOf(row) == wanted) {
            return row.Format;
        }
    }
    return std::nullopt;
}

std::string FormatChoices() {
    const std::vector<std::string> names = FormatNames();
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    }
    return text;
}

} // namespace cli
