#include <windows.h>

#include <atomic>
#include <string>
#include <system_error>

#include "support/UniqueDirectory.hpp"

namespace fs = std::filesystem;

namespace logreap::test {

fs::path makeUniqueDirectory(const char* prefix) {
    static std::atomic<unsigned> counter{0};
    const fs::path temp = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::wstring name =
            fs::path(prefix).native() + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(counter.fetch_add(1));
        const fs::path candidate = temp / name;
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            return candidate;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                    "CreateDirectoryW");
        }
    }
    throw std::runtime_error("no unique directory name found");
}

}  // namespace logreap::test
