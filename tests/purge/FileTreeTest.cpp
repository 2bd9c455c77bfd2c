// The file-tree layer's openings and removals, where a whole run cannot show
// them: what stands under a listed directory's name by the time it is used.

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include <gtest/gtest.h>

#include "detail/DirectoryChain.hpp"
#include "detail/FileTree.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using norvane::abap::filetree::Directory;
using norvane::abap::filetree::Kind;

namespace {

class FileTreeRemoval : public ::testing::Test {
  protected:
    void SetUp() override {
        auto opened = Directory::open(tree.dir("logs"));
        ASSERT_FALSE(opened.error) << opened.error.message();
        logs = std::move(opened.value);
    }
    logreap::test::TempTree tree;
    Directory logs;
};

TEST_F(FileTreeRemoval, RemovesAnEmptyDirectoryAndRefusesAFullOne) {
    tree.dir("logs/empty");
    tree.file("logs/full/young.log");
    EXPECT_FALSE(logs.removeDirectory(fs::path("empty").native()).error);
    EXPECT_TRUE(logs.removeDirectory(fs::path("full").native()).error);
    EXPECT_FALSE(fs::exists(tree / "logs/empty"));
    EXPECT_TRUE(fs::exists(tree / "logs/full/young.log"));
}

TEST_F(FileTreeRemoval, CountsAGoneDirectoryAsRemoved) {
    const auto removed = logs.removeDirectory(fs::path("gone").native());
    EXPECT_FALSE(removed.error) << removed.error.message();
    EXPECT_EQ(removed.value, Kind::gone);
    const auto child = logs.openChild(fs::path("gone").native());
    EXPECT_FALSE(child.error) << child.error.message();
    EXPECT_EQ(child.value.kind, Kind::gone);
}

// A file renamed to where an empty directory was is young data, not a directory.
TEST_F(FileTreeRemoval, LeavesAFileInADirectorysPlace) {
    tree.file("logs/was-a-directory");
    EXPECT_TRUE(logs.removeDirectory(fs::path("was-a-directory").native()).error);
    EXPECT_TRUE(fs::exists(tree / "logs/was-a-directory"));
    const auto child = logs.openChild(fs::path("was-a-directory").native());
    EXPECT_FALSE(child.error) << child.error.message();
    EXPECT_EQ(child.value.kind, Kind::regular) << "a file is not walked into";
}

#ifndef _WIN32
// CIFS, ntfs3 and FUSE file systems list names longer than 255 bytes: such a
// name reaches the kernel, which answers for its own file system.
TEST_F(FileTreeRemoval, PassesNamesOfAnyLengthToTheSystem) {
    const std::string name(300, 'n');
    EXPECT_EQ(logs.status(name).error, std::errc::filename_too_long);
    EXPECT_EQ(logs.openChild(name).error, std::errc::filename_too_long);
}
#endif

// A link put where a directory was listed is neither entered nor followed by
// the removal: the link goes, its target stays.
TEST_F(FileTreeRemoval, NeverEntersOrFollowsALinkInADirectorysPlace) {
    tree.file("outside/old.log");
    std::error_code ec;
    fs::create_directory_symlink(tree / "outside", tree / "logs/swapped", ec);
    if (ec) {
        GTEST_SKIP() << "links cannot be created here (Wine): " << ec.message();
    }
    const auto child = logs.openChild(fs::path("swapped").native());
    EXPECT_FALSE(child.error) << child.error.message();
    EXPECT_EQ(child.value.kind, Kind::link) << "a link is not walked into";
    EXPECT_FALSE(logs.removeDirectory(fs::path("swapped").native()).error);
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree / "logs/swapped")));
    EXPECT_TRUE(fs::exists(tree / "outside/old.log"));
}

#ifdef _WIN32
// The removal reads identity and age again on the handle that removes: a file
// rotated onto the checked name since stays, and so does one not written
// strictly before the cut-off. (POSIX has no removal by descriptor.)
TEST_F(FileTreeRemoval, RemovesOnlyTheFileThatWasFoundOld) {
    using namespace std::chrono_literals;
    const auto name = fs::path("app.log.1").native();
    tree.file("logs/app.log.1", 48h);
    const auto old = logs.status(name);
    ASSERT_FALSE(old.error) << old.error.message();
    const auto rotating = tree.file("logs/app.log", 48h);  // made first: its own file index
    fs::remove(tree / "logs/app.log.1");
    fs::rename(rotating, tree / "logs/app.log.1");
    EXPECT_TRUE(logs.removeFile(name, {old.value.identity, old.value.lastWrite + 1h}).error);
    EXPECT_TRUE(fs::exists(tree / "logs/app.log.1"));

    const auto rotated = logs.status(name);
    EXPECT_TRUE(logs.removeFile(name, {rotated.value.identity, rotated.value.lastWrite}).error);
    EXPECT_TRUE(fs::exists(tree / "logs/app.log.1"));
    EXPECT_FALSE(
        logs.removeFile(name, {rotated.value.identity, rotated.value.lastWrite + 1ns}).error);
    EXPECT_FALSE(fs::exists(tree / "logs/app.log.1"));
}
#endif

}  // namespace

// Deeper than its window of open handles, the chain reopens a level by name
// when it comes back to it, and refuses one that another directory replaced
// or that is gone: what lay beneath it is out of reach.
TEST(DirectoryChain, ReopensLevelsOutsideItsWindowOnlyAsTheDirectoriesTheyWere) {
    using norvane::abap::filetree::DirectoryChain;
    for (const bool replaced : {false, true}) {
        logreap::test::TempTree tree;
        tree.dir("root/a/b/c");
        auto root = Directory::open(tree / "root");
        ASSERT_FALSE(root.error);
        DirectoryChain chain(root.value, 1);
        for (const char* name : {"a", "b", "c"}) {
            const auto pushed = chain.push(fs::path(name).native(), {});
            ASSERT_EQ(pushed.value, Kind::directory) << name << ": " << pushed.error.message();
        }
        // Moved away, c no longer leads back up to b: the way is found again
        // by name from the root.
        fs::rename(tree / "root/a/b/c", tree / "root/c");
        chain.pop();
        if (replaced) {
            fs::rename(tree / "root/a", tree / "moved");
            tree.dir("root/a/b");
        }
        const auto reached = chain.deepest();
        EXPECT_FALSE(reached.error) << reached.error.message();
        EXPECT_EQ(reached.value.directory != nullptr, !replaced);
        EXPECT_EQ(chain.depth(), replaced ? 0u : 2u);
        EXPECT_EQ(reached.value.kind, Kind::directory) << "another directory in its place";
    }
}
