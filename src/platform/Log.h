#pragma once
// The one place an exception that is deliberately not passed on leaves its trace: a line
// on stderr. Any thread; never throws.
#include <string_view>

namespace platform {

// Call inside a catch block: writes "vellorine: <where>: <what the exception says>".
void LogSwallowedException(std::string_view where) noexcept;

} // namespace platform
