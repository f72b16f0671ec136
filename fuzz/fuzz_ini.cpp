// Arbitrary bytes as an INI file: every read must stay within the rules (values at most
// 2047 bytes, integers from their text or the default) and a write must keep them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzScratch.h"
#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzzing::Scratch().File("options.ini");
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    platform::IniFile ini(path);
    const std::string section(reinterpret_cast<const char*>(data), size < 4 ? size : 4);
    for (const char* key : {"a", "BitRate", "1", ""}) {
        if (ini.ReadString(section, key, "").size() > platform::IniFile::MaxValueLength) {
            std::abort();
        }
        ini.ReadInteger(section, key, -1);
    }
    ini.WriteString(section, "k", "value");
    ini.UpdateFile();
    if (platform::IniFile(path).ReadString(section, "k", "") != "value" && !section.empty() &&
        section.find_first_of("[]\r\n=") == std::string::npos &&
        section.find_first_not_of(" \t") != std::string::npos && section.front() != ' ' &&
        section.back() != ' ' && section.back() != '\t' && section.front() != '\t') {
        std::abort();
    }
    return 0;
}
