// libFuzzer entry: arbitrary bytes as a configuration file. An error other
// than the loader's documented ones escapes and ends the run as a crash.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "LoadDocument.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)logreap::fuzz::loadConfigDocument(bytes);
    return 0;
}
