// logreap purging a tree while another process keeps writing into it: fresh
// files and directories appear, files grow, are renamed and deleted, and whole
// directories are renamed. Nothing young may be lost, no directory that holds
// a file may go, and every run ends with 0 or a documented file-system error.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Hardening.hpp"

namespace fs = std::filesystem;
using logreap::test::kOld;
using logreap::test::RunFixture;
using ::testing::IsEmpty;

namespace {

constexpr int kRunsPerRound = 6;

bool isBelow(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
           path[directory.size()] == '/';
}

void makeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos) {
            return;
        }
    }
}

// The writer, run in a child process. It counts only its own files: all are
// young, so the purge must never take one of them. What it finds missing on
// the way is "lost".
class Writer {
  public:
    Writer(unsigned seed, std::vector<std::string> directories)
        : seed_(seed),
          random_(seed),
          directories_(std::move(directories)),
          fixed_(directories_.size()) {}

    // Works until `stopFd` becomes readable (or a minute has passed), then
    // writes what it believes it left to `manifest` and exits.
    [[noreturn]] void run(int stopFd, int readyFd, const fs::path& manifest) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes{1};
        step();
        (void)!::write(readyFd, "x", 1);
        pollfd stop{stopFd, POLLIN, 0};
        while (::poll(&stop, 1, 0) == 0 && std::chrono::steady_clock::now() < limit) {
            step();
        }
        std::ofstream out(manifest);
        out << "operations " << operations_ << '\n';
        for (const auto& file : files_) {
            out << "file " << file << '\n';
        }
        for (const auto& entry : lost_) {
            out << "lost " << entry << '\n';
        }
        out.close();
        ::_exit(out ? 0 : 1);
    }

  private:
    void step() {
        ++operations_;
        const unsigned choice = random_() % 100;
        if (choice < 30 || files_.empty()) {
            create(directories_[random_() % directories_.size()]);
        } else if (choice < 40) {
            if (directories_.size() < 150) {
                directories_.push_back(fresh(directories_[random_() % directories_.size()], "wd"));
                create(directories_.back());
            }
        } else if (choice < 95) {
            const std::string path = files_[random_() % files_.size()];
            if (choice < 70) {
                const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
                if (fd < 0) {
                    return lose(path, "append");
                }
                (void)!::write(fd, "more\n", 5);
                ::close(fd);
            } else if (choice < 85) {
                const std::string target = fresh(fs::path(path).parent_path(), "r") + ".log";
                if (::rename(path.c_str(), target.c_str()) != 0) {
                    return lose(path, "rename");
                }
                *std::find(files_.begin(), files_.end(), path) = target;
            } else if (::unlink(path.c_str()) != 0) {
                lose(path, "unlink");
            } else {
                files_.erase(std::find(files_.begin(), files_.end(), path));
            }
        } else if (directories_.size() > fixed_) {
            renameDirectory(fixed_ + random_() % (directories_.size() - fixed_));
        }
    }

    std::string fresh(const fs::path& directory, const char* stem) {
        return (directory / (stem + std::to_string(seed_) + "-" + std::to_string(next_++)))
            .string();
    }

    void lose(const std::string& path, const char* what) {
        lost_.push_back(path + " (" + what + ": " + std::strerror(errno) + ")");
        files_.erase(std::find(files_.begin(), files_.end(), path));
    }

    // A purge may remove a directory the moment it is empty: recreate it.
    void create(const std::string& directory) {
        const std::string path = fresh(directory, "w") + ".log";
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd >= 0) {
                (void)!::write(fd, "first\n", 6);
                ::close(fd);
                files_.push_back(path);
                return;
            }
            if (errno != ENOENT) {
                return;
            }
            makeDirectories(directory);
        }
    }

    // One of the writer's own directories, with all it holds. The tree's own
    // directories (the first ones) are never renamed.
    void renameDirectory(std::size_t index) {
        const std::string from = directories_[index];
        const std::string to = fresh(fs::path(from).parent_path(), "rd");
        const bool moved = ::rename(from.c_str(), to.c_str()) == 0;
        auto move = [&](std::string& path) { path = to + path.substr(from.size()); };
        std::vector<std::string> kept;
        for (auto& directory : directories_) {
            if (directory != from && !isBelow(directory, from)) {
                kept.push_back(directory);
            } else if (moved) {
                move(kept.emplace_back(directory));
            }
        }
        directories_ = std::move(kept);
        for (auto& file : files_) {
            if (moved && isBelow(file, from)) {
                move(file);
            }
        }
    }

    unsigned seed_;
    std::mt19937 random_;
    std::vector<std::string> directories_;
    std::size_t fixed_;
    std::vector<std::string> files_;
    std::vector<std::string> lost_;
    long operations_ = 0;
    unsigned long next_ = 0;
};

struct WriterReport {
    std::vector<std::string> files;
    std::vector<std::string> lost;
    long operations = 0;
};

class ConcurrentWriters : public RunFixture, public ::testing::TestWithParam<unsigned> {
  protected:
    ~ConcurrentWriters() override {
        if (writer_ > 0) {
            ::kill(writer_, SIGKILL);
            ::waitpid(writer_, nullptr, 0);
        }
    }

    // Old files to purge in nested directories, young files that must stay,
    // empty directories, and an old file outside the purged trees. Returns the
    // directories the writer starts from.
    std::vector<std::string> layOut() {
        std::vector<std::string> directories{installLogs().string()};
        for (int a = 0; a < 12; ++a) {
            const std::string top = "suite/logs/a" + std::to_string(a);
            for (int b = 0; b < 3; ++b) {
                for (int f = 0; f < 15; ++f) {
                    tree.file(top + "/b" + std::to_string(b) + "/" + std::to_string(f), kOld);
                }
                directories.push_back((tree / top / ("b" + std::to_string(b))).string());
            }
            tree.dir("suite/logs/empty" + std::to_string(a) + "/x/y");
            keep.push_back(tree.file(top + "/keep.log"));
        }
        tree.file("suite/bin/old.exe", kOld);
        return directories;
    }

    void startWriter(std::vector<std::string> directories) {
        int stop[2];
        int ready[2];
        ASSERT_EQ(::pipe(stop), 0);
        ASSERT_EQ(::pipe(ready), 0);
        writer_ = ::fork();
        ASSERT_GE(writer_, 0);
        if (writer_ == 0) {
            ::close(stop[1]);
            Writer(GetParam(), std::move(directories)).run(stop[0], ready[1], scratch / "manifest");
        }
        ::close(stop[0]);
        ::close(ready[1]);
        stop_ = stop[1];
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
    }

    WriterReport stopWriter() {
        ::close(stop_);
        int status = 0;
        EXPECT_EQ(::waitpid(writer_, &status, 0), writer_);
        writer_ = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        WriterReport report;
        std::ifstream in(scratch / "manifest");
        for (std::string word, rest; in >> word && std::getline(in >> std::ws, rest);) {
            if (word == "file") {
                report.files.push_back(rest);
            } else if (word == "lost") {
                report.lost.push_back(rest);
            } else if (word == "operations") {
                report.operations = std::stol(rest);
            }
        }
        return report;
    }

    std::vector<fs::path> keep;
    const logreap::test::TempTree scratch;

  private:
    pid_t writer_ = -1;
    int stop_ = -1;
};

TEST_P(ConcurrentWriters, KeepEveryYoungFileAndReportOnlyDocumentedErrors) {
    const logreap::hardening::Deadline deadline(150);
    ASSERT_NO_FATAL_FAILURE(startWriter(layOut()));

    const std::regex documented(
        "logreap: error: filesystem error: cannot increment recursive directory iterator: No "
        "such file or directory\n");
    int interrupted = 0;
    for (int i = 0; i < kRunsPerRound; ++i) {
        const auto result = run();
        EXPECT_EQ(result.signal, 0);
        if (result.status == 0) {
            EXPECT_EQ(result.err, "");
        } else {
            ++interrupted;
            EXPECT_EQ(result.status, 2);
            EXPECT_TRUE(std::regex_match(result.err, documented)) << result.err;
        }
    }
    const WriterReport report = stopWriter();
    RecordProperty("writer_operations", std::to_string(report.operations));
    RecordProperty("interrupted_runs", std::to_string(interrupted));

    EXPECT_THAT(report.lost, IsEmpty());
    EXPECT_GT(report.operations, 100);
    for (const auto& file : report.files) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << file;
    }
    for (const auto& file : keep) {
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    EXPECT_TRUE(fs::exists(tree / "suite/bin/old.exe"));

    // Once the writer has stopped, one more run finishes the work: no old file
    // and no empty directory is left.
    const auto last = run();
    EXPECT_EQ(last.status, 0) << last.err;
    const auto cutoff = fs::file_time_type::clock::now() - std::chrono::hours{24 * 14};
    for (const auto& entry : fs::recursive_directory_iterator(installLogs())) {
        if (entry.is_directory()) {
            EXPECT_FALSE(fs::is_empty(entry.path())) << entry.path();
        } else {
            EXPECT_GT(entry.last_write_time(), cutoff) << entry.path();
        }
    }
    EXPECT_EQ(logreap::hardening::malformedLogLine(logText()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Seeds, ConcurrentWriters, ::testing::Values(1u, 2u, 3u, 4u));

}  // namespace
