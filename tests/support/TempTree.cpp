#include "support/TempTree.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "support/UniqueDirectory.hpp"

namespace fs = std::filesystem;

namespace logreap::test {

TempTree::TempTree() : root_(makeUniqueDirectory("logreap-test-")) {}

TempTree::~TempTree() {
    std::error_code ignored;
    // Restore permissions that a test took away, so that the tree can go.
    for (auto it = fs::recursive_directory_iterator(
             root_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(root_, ignored);
}

fs::path TempTree::file(const fs::path& relative, std::chrono::hours age,
                        const std::string& content) const {
    const fs::path path = root_ / relative;
    fs::create_directories(path.parent_path());
    writeFile(path, content);
    setAge(path, age);
    return path;
}

fs::path TempTree::dir(const fs::path& relative) const {
    const fs::path path = root_ / relative;
    fs::create_directories(path);
    return path;
}

std::vector<std::string> TempTree::listing() const {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        std::string name = entry.path().lexically_relative(root_).generic_string();
        if (entry.is_directory() && !entry.is_symlink()) {
            name += '/';
        }
        entries.push_back(std::move(name));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void setAge(const fs::path& path, std::chrono::hours age) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::string todaysLogFileName() {
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    return fmt::format("logreap_{:%Y-%m-%d}.log", fmt::localtime(now));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace logreap::test
