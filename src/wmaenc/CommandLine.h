#pragma once
// The helper's command line:
//   -input F -output F -a_setting B_R_C [-author words...] [-description words...]
// An option's value is every word up to the next option name, joined by single blanks,
// so unquoted author and description texts arrive whole.
#include <string>
#include <vector>

namespace wmaenc {

struct TEncodeRequest {
    std::string Input;
    std::string Output;
    std::string Setting; // preset code such as "64_44_2"
    std::string Author;
    std::string Description;
};

// Throws std::runtime_error naming the fault when an option is unknown, missing,
// repeated or empty.
TEncodeRequest ParseCommandLine(const std::vector<std::string>& args);

} // namespace wmaenc
