// Whole runs of logreap.exe on a scratch tree: Windows paths in every message,
// directory links, paths beyond MAX_PATH and names beyond ASCII.

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/RunFixture.hpp"

namespace fs = std::filesystem;
using namespace logreap::test;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

// A path from UTF-8 text (a plain string would be read in the code page).
fs::path u8path(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// The \\?\ form, which the wide API takes beyond MAX_PATH; mingw's
// std::filesystem does not, so long trees are made and inspected with these.
std::wstring extended(const fs::path& absolute) {
    return L"\\\\?\\" + fs::path(absolute).make_preferred().native();
}

bool present(const fs::path& path) {
    return ::GetFileAttributesW(extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates the file and its missing parent folders, last written `age` ago.
void makeFile(const fs::path& path, std::chrono::hours age = {}) {
    fs::path folder;
    for (const auto& part : path.parent_path()) {
        folder /= part;
        ::CreateDirectoryW(extended(folder).c_str(), nullptr);  // existing ones fail
    }
    const HANDLE file = ::CreateFileW(extended(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail("CreateFileW " + path.string());
    }
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
    ticks.QuadPart -= static_cast<ULONGLONG>(age.count()) * 36'000'000'000ULL;
    const FILETIME written{ticks.LowPart, ticks.HighPart};
    DWORD count = 0;
    const bool ok = ::WriteFile(file, "x\n", 2, &count, nullptr) &&
                    ::SetFileTime(file, nullptr, nullptr, &written);
    ::CloseHandle(file);
    if (!ok) {
        fail("writing " + path.string());
    }
}

// Removes a tree of any depth; reparse points are left alone, never entered.
void removeTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            const std::wstring child = path + L"\\" + name;
            if (name == L"." || name == L".." ||
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                continue;
            }
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                removeTree(child);
            } else {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only ones
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

class WindowsRun : public RunFixture, public ::testing::Test {
  protected:
    WindowsRun() { setLogging({{"level", "debug"}, {"consolelevel", "debug"}}); }

    // The root with forward slashes, as a configuration written by hand may have it.
    std::string generic = tree.root().generic_string();
    std::string native = tree.root().string();
    std::string shownUserLogs = native + "\\data\\public\\Logs";
    std::string shownInstallLogs = native + "\\suite\\logs";

    // Takes the host link `name` of the pool that tests/windows/make-link-pool.sh
    // laid out: its holder folder becomes the folder `where` (which must not
    // exist yet), so that the link lies at where/name. Returns the link's target,
    // an empty folder outside the scratch tree.
    fs::path takeLink(const std::string& name, const fs::path& where) {
        const char* pool = std::getenv("LOGREAP_LINK_POOL");
        if (pool == nullptr) {
            throw std::runtime_error("LOGREAP_LINK_POOL is not set: run the test through CTest");
        }
        const fs::path slot = fs::path(pool).make_preferred() / name;
        fs::create_directories(tree / where.parent_path());
        if (!::MoveFileExW((slot / "holder").c_str(), (tree / where).c_str(), 0)) {
            fail("taking the host link " + (slot / "holder").string() +
                 " (each CTest run lays the pool out afresh)");
        }
        taken.emplace_back(tree / where, slot / "returned");
        return slot / "target";
    }

    // Every log file in the first tree, one after the other, with LF line ends
    // as on the console.
    std::string logFileText() const {
        std::string text;
        for (const auto& entry : fs::directory_iterator(userLogs())) {
            if (entry.path().filename().string().rfind("logreap_", 0) == 0) {
                text += readFile(entry.path());
            }
        }
        std::erase(text, '\r');
        return text;
    }

    // The links go back to the pool first: the tree's removal would walk
    // through them, and Wine's removal of a link acts on its target.
    void TearDown() override {
        for (auto it = taken.rbegin(); it != taken.rend(); ++it) {
            ::MoveFileExW(it->first.c_str(), it->second.c_str(), 0);
        }
        removeTree(extended(tree.root()));
    }

    // The user-data folder as configured; a relative one is taken from the
    // working directory, tree/work.
    ProcessResult run(const std::string& userdata = {}) {
        config["settings"]["userdata"] = userdata.empty() ? generic + "/data/" : userdata;
        config["settings"]["install"] = native + "\\suite\\bin\\..\\";
        return RunFixture::run();
    }

  private:
    std::vector<std::pair<fs::path, fs::path>> taken;  // holder's place, its way back
};

TEST_F(WindowsRun, PurgesBothTreesWithBackslashesInEveryMessage) {
    tree.file("data/public/Logs/old.log", kOld);
    tree.file("data/public/Logs/new.log");
    tree.file("suite/logs/a/b/old.txt", kOld);

    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out,
                HasSubstr("Purging logs older than 14 day(s) and 00:00:00 in the '" +
                          shownUserLogs + "' and '" + shownInstallLogs + "' directories"));
    EXPECT_THAT(result.out, HasSubstr("Deleting log file: " + shownUserLogs + "\\old.log"));
    EXPECT_THAT(result.out,
                HasSubstr("Deleting log file: " + shownInstallLogs + "\\a\\b\\old.txt"));
    EXPECT_THAT(result.out,
                HasSubstr("Successfully removed directory: '" + shownInstallLogs + "\\a\\b'"));
    EXPECT_THAT(result.out,
                HasSubstr("Successfully removed directory: '" + shownInstallLogs + "\\a'"));
    EXPECT_THAT(result.out, Not(HasSubstr("/")));
    EXPECT_THAT(result.out, HasSubstr("Total time: "));

    EXPECT_FALSE(fs::exists(tree / "data/public/Logs/old.log"));
    EXPECT_TRUE(fs::exists(tree / "data/public/Logs/new.log"));
    EXPECT_FALSE(fs::exists(tree / "suite/logs/a"));
    EXPECT_TRUE(fs::is_directory(tree / "suite/logs"));
}

TEST_F(WindowsRun, WritesTheDailyLogFileWithTheSameMessages) {
    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    std::string logText;
    for (const auto& entry : fs::directory_iterator(tree / "data/public/Logs")) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.rfind("logreap_", 0), 0U) << name;
        EXPECT_EQ(entry.path().extension(), ".log");
        logText += readFile(entry.path());
    }
    EXPECT_THAT(logText, HasSubstr("[info] [thread "));
    // Call sites relative to the source tree, not the build machine's paths.
    EXPECT_THAT(logText, HasSubstr("] [src/logreap/main.cpp:"));
    EXPECT_THAT(logText, HasSubstr("Log purge operation completed"));
    EXPECT_THAT(logText, HasSubstr("in the '" + native + "\\data\\public\\Logs' and"));
}

// A link to a directory is removed itself, never walked into.
TEST_F(WindowsRun, DirectoryLinkIsRemovedNotFollowed) {
    const fs::path elsewhere = takeLink("link", "data/public/Logs");
    makeFile(elsewhere / "keep.log", kOld);

    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, Not(HasSubstr("keep.log")));
    // Only the attempt is checked: Wine's removal of a host link acts on its
    // target (here refused, the target not being empty), so the link's own
    // removal cannot be shown under Wine.
    EXPECT_THAT(result.out,
                HasSubstr("Trying to remove directory '" + shownUserLogs + "\\link' if empty."));
    EXPECT_TRUE(present(elsewhere / "keep.log"));
}

// Links at the top of a tree and further down lead out of both trees; nothing
// beyond them is deleted or named, while the tree around them is purged.
TEST_F(WindowsRun, DirectoryLinksAtAnyDepthLeaveTheirTargetsAlone) {
    const std::vector<std::pair<std::string, fs::path>> links{
        {shownUserLogs + "\\link-to-precious", takeLink("link-to-precious", "data/public/Logs")},
        {shownUserLogs + "\\sub\\link2", takeLink("link2", "data/public/Logs/sub")}};
    for (const auto& [link, target] : links) {
        makeFile(target / "precious.log", kOld);
        makeFile(target / "inner/precious.log", kOld);
    }
    makeFile(tree / "data/public/Logs/old.log", kOld);
    makeFile(tree / "data/public/Logs/sub/old.log", kOld);
    makeFile(tree / "data/public/Logs/sub/new.log");

    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string logText = logFileText();
    for (const auto& [link, target] : links) {
        EXPECT_TRUE(present(target / "precious.log")) << target;
        EXPECT_TRUE(present(target / "inner")) << target;
        EXPECT_TRUE(present(target / "inner/precious.log")) << target;
        EXPECT_THAT(result.out, HasSubstr("Trying to remove directory '" + link + "' if empty."));
        EXPECT_THAT(result.out, Not(HasSubstr(link + "\\")));
        EXPECT_THAT(logText, Not(HasSubstr(link + "\\")));
    }
    EXPECT_FALSE(present(tree / "data/public/Logs/old.log"));
    EXPECT_FALSE(present(tree / "data/public/Logs/sub/old.log"));
    EXPECT_TRUE(present(tree / "data/public/Logs/sub/new.log"));
}

// A read-only old file is deleted as the platform's standard library deletes
// it: Wine knows only the classic removal, which refuses a read-only file, so
// there the attribute is cleared and the removal tried again. A name that
// begins with ".." is a name like any other.
TEST_F(WindowsRun, DeletesReadOnlyOldFiles) {
    const fs::path folder = tree / "suite/logs/a";
    makeFile(folder / "old.log", kOld);
    makeFile(folder / "..old.log", kOld);
    ASSERT_TRUE(
        ::SetFileAttributesW(extended(folder / "old.log").c_str(), FILE_ATTRIBUTE_READONLY));

    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out,
                HasSubstr("Successfully removed directory: '" + shownInstallLogs + "\\a'"));
    EXPECT_FALSE(present(folder));
}

// Twelve folders of thirty characters take the old file far beyond MAX_PATH,
// below a user-data folder given as a full path or relative to the working
// directory; the messages show the path as configured, without the \\?\ prefix.
class WindowsRunDeep : public WindowsRun, public ::testing::WithParamInterface<bool> {};

TEST_P(WindowsRunDeep, PurgesBeyondMaxPath) {
    const bool relative = GetParam();
    fs::path deep = "data/public/Logs";
    std::string shown = relative ? "..\\data\\public\\Logs" : shownUserLogs;
    for (int level = 10; level < 22; ++level) {
        const std::string name = "nested-folder-of-level-" + std::to_string(level) + "-logs";
        deep /= name;
        shown += "\\" + name;
    }
    ASSERT_GT(shown.size(), std::size_t{MAX_PATH} + 100);
    makeFile(tree / deep / "old.log", kOld);
    makeFile(tree / deep / "new.log");

    const auto result = run(relative ? "../data" : "");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Deleting log file: " + shown + "\\old.log\n"));
    EXPECT_THAT(result.out, Not(HasSubstr("\\\\?\\")));
    EXPECT_FALSE(present(tree / deep / "old.log"));
    EXPECT_TRUE(present(tree / deep / "new.log"));
}

INSTANTIATE_TEST_SUITE_P(UserData, WindowsRunDeep, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Relative" : "Full"; });

// Names beyond ASCII, an emoji (a surrogate pair in UTF-16) included, in
// either tree: purged, and written as UTF-8 to the console and the log file.
class WindowsRunNames : public WindowsRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(WindowsRunNames, AreWrittenAsUtf8) {
    const std::string logs = GetParam();
    const std::string file = "Protokoll-Größe-日本-😀.log";
    const std::string folder = "Übersicht-😀";
    makeFile(tree / u8path(logs + "/" + file), kOld);
    makeFile(tree / u8path(logs + "/" + folder + "/" + file), kOld);
    makeFile(tree / u8path(logs + "/Neu-" + file));

    const auto result = run();
    ASSERT_EQ(result.status, 0) << result.err;
    std::string shown = native + "\\" + logs;
    std::replace(shown.begin(), shown.end(), '/', '\\');
    const std::string logText = logFileText();
    for (const auto& text : {result.out, logText}) {
        EXPECT_THAT(text, HasSubstr("Deleting log file: " + shown + "\\" + file + "\n"));
        EXPECT_THAT(text,
                    HasSubstr("Deleting log file: " + shown + "\\" + folder + "\\" + file + "\n"));
        EXPECT_THAT(text,
                    HasSubstr("Successfully removed directory: '" + shown + "\\" + folder + "'\n"));
    }
    EXPECT_FALSE(present(tree / u8path(logs + "/" + file)));
    EXPECT_FALSE(present(tree / u8path(logs + "/" + folder)));
    EXPECT_TRUE(present(tree / u8path(logs + "/Neu-" + file)));
}

INSTANTIATE_TEST_SUITE_P(BothTrees, WindowsRunNames,
                         ::testing::Values("data/public/Logs", "suite/logs"));

}  // namespace
