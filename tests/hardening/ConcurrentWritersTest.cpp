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
using logreap::hardening::kOld;
using logreap::hardening::RunFixture;
using ::testing::IsEmpty;

namespace {

constexpr int kRunsPerRound = 4;
constexpr auto kWriterLimit = std::chrono::seconds{60};

// What the writer believes it left, and what it found missing on the way.
struct WriterReport {
    std::vector<std::string> files;
    std::vector<std::string> lost;
    long operations = 0;
};

bool startsWithDirectory(const std::string& path, const std::string& directory) {
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

// The writer's loop, in the child process. Only its own files are counted:
// they are all young, so the purge must never take one of them.
class WriterLoop {
  public:
    WriterLoop(unsigned seed, std::vector<std::string> directories)
        : seed_(seed),
          random_(seed),
          directories_(std::move(directories)),
          fixed_(directories_.size()) {}

    void step() {
        ++operations_;
        const unsigned choice = random_() % 100;
        if (choice < 30 || files_.empty()) {
            create(pick(directories_));
        } else if (choice < 40) {
            makeDirectory();
        } else if (choice < 70) {
            append();
        } else if (choice < 85) {
            renameFile();
        } else if (choice < 95) {
            removeFile();
        } else {
            renameDirectory();
        }
    }

    void write(std::ostream& out) const {
        out << "operations " << operations_ << '\n';
        for (const auto& file : files_) {
            out << "file " << file << '\n';
        }
        for (const auto& entry : lost_) {
            out << "lost " << entry << '\n';
        }
    }

  private:
    template <class T>
    const T& pick(const std::vector<T>& items) {
        return items[random_() % items.size()];
    }

    std::string freshName(const std::string& directory, const char* stem) {
        return directory + "/" + stem + std::to_string(seed_) + "-" + std::to_string(next_++);
    }

    void lose(const std::string& path, const char* what) {
        lost_.push_back(path + " (" + what + ": " + std::strerror(errno) + ")");
        files_.erase(std::find(files_.begin(), files_.end(), path));
    }

    // A purge may remove a directory the moment it is empty: recreate it.
    void create(const std::string& directory) {
        const std::string path = freshName(directory, "w") + ".log";
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd >= 0) {
                (void)!::write(fd, "first line\n", 11);
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

    void makeDirectory() {
        if (directories_.size() > 150) {
            return;
        }
        const std::string directory = freshName(pick(directories_), "wd");
        makeDirectories(directory);
        directories_.push_back(directory);
        create(directory);
    }

    void append() {
        const std::string path = pick(files_);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        if (fd < 0) {
            lose(path, "append");
            return;
        }
        (void)!::write(fd, "another line\n", 13);
        ::close(fd);
    }

    void renameFile() {
        const std::string path = pick(files_);
        const std::string target = freshName(fs::path(path).parent_path().string(), "r") + ".log";
        if (::rename(path.c_str(), target.c_str()) != 0) {
            lose(path, "rename");
            return;
        }
        *std::find(files_.begin(), files_.end(), path) = target;
    }

    void removeFile() {
        const std::string path = pick(files_);
        if (::unlink(path.c_str()) != 0) {
            lose(path, "unlink");
            return;
        }
        files_.erase(std::find(files_.begin(), files_.end(), path));
    }

    // One of the writer's own directories, with all it holds.
    void renameDirectory() {
        if (directories_.size() == fixed_) {
            return;
        }
        const std::size_t index = fixed_ + random_() % (directories_.size() - fixed_);
        const std::string from = directories_[index];
        const std::string to = freshName(fs::path(from).parent_path().string(), "rd");
        const bool moved = ::rename(from.c_str(), to.c_str()) == 0;
        std::vector<std::string> kept;
        for (auto& directory : directories_) {
            const bool inside = directory == from || startsWithDirectory(directory, from);
            if (!inside) {
                kept.push_back(directory);
            } else if (moved) {
                kept.push_back(to + directory.substr(from.size()));
            }
        }
        directories_ = std::move(kept);
        if (moved) {
            for (auto& file : files_) {
                if (startsWithDirectory(file, from)) {
                    file = to + file.substr(from.size());
                }
            }
        }
    }

    unsigned seed_;
    std::mt19937 random_;
    std::vector<std::string> directories_;
    std::size_t fixed_;  // the first directories are the tree's, never renamed
    std::vector<std::string> files_;
    std::vector<std::string> lost_;
    long operations_ = 0;
    unsigned long next_ = 0;
};

// The writer as a child process: it runs from start() until stop().
class Writer {
  public:
    Writer(unsigned seed, std::vector<std::string> directories, fs::path manifest)
        : seed_(seed), directories_(std::move(directories)), manifest_(std::move(manifest)) {}

    ~Writer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void start() {
        int stop[2];
        int ready[2];
        ASSERT_EQ(::pipe(stop), 0);
        ASSERT_EQ(::pipe(ready), 0);
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::close(stop[1]);
            ::close(ready[0]);
            run(stop[0], ready[1]);
        }
        ::close(stop[0]);
        ::close(ready[1]);
        stop_ = stop[1];
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
    }

    WriterReport stop() {
        ::close(stop_);
        int status = 0;
        EXPECT_EQ(::waitpid(pid_, &status, 0), pid_);
        pid_ = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        WriterReport report;
        std::ifstream in(manifest_);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("file ", 0) == 0) {
                report.files.push_back(line.substr(5));
            } else if (line.rfind("lost ", 0) == 0) {
                report.lost.push_back(line.substr(5));
            } else if (line.rfind("operations ", 0) == 0) {
                report.operations = std::stol(line.substr(11));
            }
        }
        return report;
    }

  private:
    [[noreturn]] void run(int stopFd, int readyFd) {
        WriterLoop loop(seed_, directories_);
        const auto limit = std::chrono::steady_clock::now() + kWriterLimit;
        loop.step();
        (void)!::write(readyFd, "x", 1);
        ::close(readyFd);
        pollfd stop{stopFd, POLLIN, 0};
        while (::poll(&stop, 1, 0) == 0 && std::chrono::steady_clock::now() < limit) {
            loop.step();
        }
        std::ofstream out(manifest_);
        loop.write(out);
        out.close();
        ::_exit(out ? 0 : 1);
    }

    unsigned seed_;
    std::vector<std::string> directories_;
    fs::path manifest_;
    pid_t pid_ = -1;
    int stop_ = -1;
};

class ConcurrentWriters : public RunFixture, public ::testing::TestWithParam<unsigned> {
  protected:
    // Old files to purge in nested directories, young files that must stay,
    // empty directories, and the directories the writer starts from.
    std::vector<std::string> layOut() {
        std::vector<std::string> directories{installLogs().string()};
        for (int a = 0; a < 12; ++a) {
            for (int b = 0; b < 3; ++b) {
                const std::string directory =
                    "suite/logs/a" + std::to_string(a) + "/b" + std::to_string(b);
                for (int f = 0; f < 15; ++f) {
                    tree.file(directory + "/old" + std::to_string(f) + ".log", kOld);
                }
                directories.push_back((tree / directory).string());
            }
            tree.dir("suite/logs/empty" + std::to_string(a) + "/x/y");
            keep.push_back(tree.file("suite/logs/a" + std::to_string(a) + "/keep.log"));
        }
        tree.file("suite/bin/old.exe", kOld);
        return directories;
    }

    std::vector<fs::path> keep;
};

TEST_P(ConcurrentWriters, KeepEveryYoungFileAndReportOnlyDocumentedErrors) {
    const logreap::hardening::Deadline deadline(150);
    const auto directories = layOut();
    const logreap::test::TempTree scratch;
    Writer writer(GetParam(), directories, scratch / "manifest");
    ASSERT_NO_FATAL_FAILURE(writer.start());

    const std::regex documented(
        "logreap: error: filesystem error: cannot increment recursive directory iterator: No "
        "such file or directory\n");
    int interrupted = 0;
    for (int i = 0; i < kRunsPerRound; ++i) {
        const auto result = run();
        interrupted += result.status == 2 ? 1 : 0;
        EXPECT_EQ(result.signal, 0);
        if (result.status == 0) {
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.status, 2);
            EXPECT_TRUE(std::regex_match(result.err, documented)) << result.err;
        }
    }
    const WriterReport report = writer.stop();
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
