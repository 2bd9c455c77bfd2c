#include "LogPaths.hpp"

#include "detail/Platform.hpp"

namespace norvane::abap {

std::filesystem::path normalisedDirectory(const std::filesystem::path& directory) {
    return withPreferredSeparators(lexicallyNormal(directory));
}

std::filesystem::path publicLogsPath(const std::filesystem::path& base) {
    return normalisedDirectory(base) / "public" / "Logs";
}

}  // namespace norvane::abap
