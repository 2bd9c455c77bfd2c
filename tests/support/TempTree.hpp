#pragma once

// A scratch directory tree for one test, removed afterwards, with helpers to
// lay out files of a given age.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace logreap::test {

class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return root_ / relative;
    }

    // Creates the file (and its parents) with the given content and age.
    std::filesystem::path file(const std::filesystem::path& relative,
                               std::chrono::hours age = std::chrono::hours{0},
                               const std::string& content = "x\n") const;
    std::filesystem::path dir(const std::filesystem::path& relative) const;

    // Every entry beneath root, relative, sorted; directories end in '/'.
    std::vector<std::string> listing() const;

  private:
    std::filesystem::path root_;
};

// Sets the last-write time to `age` before now.
void setAge(const std::filesystem::path& path, std::chrono::hours age);

std::string readFile(const std::filesystem::path& path);

// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

// The name of today's log file, logreap_YYYY-MM-DD.log (local date).
std::string todaysLogFileName();
void writeFile(const std::filesystem::path& path, const std::string& content);

}  // namespace logreap::test
