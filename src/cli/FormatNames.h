#pragma once
// Output formats by the names the command line takes: each row of the format table
// (settings/OutputFormat.h) is named by its file extension without the dot, so a format
// added to the table is offered here without any change.
#include <optional>
#include <string>
#include <vector>

#include "settings/OutputFormat.h"

namespace cli {

// "mp3", "wav", ... in the table's order.
std::vector<std::string> FormatNames();
// The format of a name, in any case; nothing for a name no row has.
std::optional<settings::TOutputFormat> FormatNamed(const std::string& name);
// "mp3, wav, ogg or wma".
std::string FormatChoices();

} // namespace cli
