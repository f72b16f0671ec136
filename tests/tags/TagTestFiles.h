#pragma once
// Files for the tag tests: the shared scratch-folder and command helpers, and the bytes of
// a tag image.
#include <cstdint>
#include <string>

#include "support/TestSupport.h"

namespace tagtests {

using testsupport::Bytes;
using testsupport::ReadAll;
using testsupport::RunCommand;
using testsupport::ScratchFolder;

// A 128-byte tag image: "TAG" then every field at its offset, the rest 0x00.
Bytes TagImage(const std::string& title, const std::string& artist, const std::string& album,
               const std::string& year, const Bytes& comment30, std::uint8_t genre);

} // namespace tagtests
