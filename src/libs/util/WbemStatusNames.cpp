#include "util/WbemStatusNames.hpp"

#include <string_view>

namespace norvane::abap::util {
namespace {

struct WbemStatus {
    std::uint32_t code;
    std::wstring_view name;
};

// Lies in read-only data; only the table itself is built at run time.
constexpr WbemStatus kWbemStatusList[] = {
#define WBEM_STATUS(code, name) {code, L"" #name},
#include "util/WbemStatusList.inc"
#undef WBEM_STATUS
};

}  // namespace

WbemStatusNames buildWbemStatusNames() {
    WbemStatusNames names;
    for (const auto& [code, name] : kWbemStatusList) {
        // The codes ascend, so the end is the right hint; try_emplace leaves a
        // code already present (and its first name) alone.
        names.try_emplace(names.end(), code, name);
    }
    return names;
}

}  // namespace norvane::abap::util
