#include "wmaenc/CommandLine.h"

#include <array>
#include <map>
#include <stdexcept>
#include <string_view>

namespace wmaenc {
namespace {

constexpr std::array<std::string_view, 5> OptionNames{"-input", "-output", "-a_setting", "-author",
                                                      "-description"};

bool IsOptionName(std::string_view word) {
    for (const auto name : OptionNames) {
        if (word == name) {
            return true;
        }
    }
    return false;
}

std::string& FieldOf(TEncodeRequest& request, std::string_view option) {
    if (option == "-input") {
        return request.Input;
    }
    if (option == "-output") {
        return request.Output;
    }
    if (option == "-a_setting") {
        return request.Setting;
    }
    if (option == "-author") {
        return request.Author;
    }
    return request.Description;
}

} // namespace

TEncodeRequest ParseCommandLine(const std::vector<std::string>& args) {
    TEncodeRequest request;
    std::map<std::string, std::string> values;
    std::string current;
    for (const auto& word : args) {
        if (IsOptionName(word)) {
            if (values.count(word) != 0) {
                throw std::runtime_error("option " + word + " given twice");
            }
            current = word;
            values[current];
            continue;
        }
        if (current.empty()) {
            throw std::runtime_error("unexpected argument \"" + word + "\"");
        }
        std::string& value = values[current];
        if (!value.empty()) {
            value += ' ';
        }
        value += word;
    }
    for (const auto& [option, value] : values) {
        FieldOf(request, option) = value;
    }
    for (const std::string_view required : {"-input", "-output", "-a_setting"}) {
        if (FieldOf(request, required).empty()) {
            throw std::runtime_error("missing value for " + std::string(required));
        }
    }
    return request;
}

} // namespace wmaenc
