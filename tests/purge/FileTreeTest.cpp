// The file-tree layer's openings and removals, where a whole run cannot show
// them: what stands under a listed directory's name by the time it is used.

#include <filesystem>
#include <system_error>

#include <gtest/gtest.h>

#include "detail/FileTree.hpp"
#include "support/TempTree.hpp"

namespace fs = std::filesystem;
using norvane::abap::filetree::Directory;
using norvane::abap::filetree::isGone;

namespace {

class FileTreeRemoval : public ::testing::Test {
  protected:
    void SetUp() override {
        std::error_code ec;
        logs = Directory::open(tree.dir("logs"), ec);
        ASSERT_FALSE(ec) << ec.message();
    }
    logreap::test::TempTree tree;
    Directory logs;
};

TEST_F(FileTreeRemoval, RemovesAnEmptyDirectoryAndRefusesAFullOne) {
    tree.dir("logs/empty");
    tree.file("logs/full/young.log");
    EXPECT_FALSE(logs.removeDirectory(fs::path("empty").native()));
    EXPECT_TRUE(logs.removeDirectory(fs::path("full").native()));
    EXPECT_FALSE(fs::exists(tree / "logs/empty"));
    EXPECT_TRUE(fs::exists(tree / "logs/full/young.log"));
}

TEST_F(FileTreeRemoval, CountsAGoneDirectoryAsRemoved) {
    const auto ec = logs.removeDirectory(fs::path("gone").native());
    EXPECT_FALSE(ec) << ec.message();
    std::error_code opened;
    EXPECT_FALSE(logs.openChild(fs::path("gone").native(), opened));
    EXPECT_TRUE(isGone(opened)) << opened.message();
}

// A file renamed to where an empty directory was is young data, not a directory.
TEST_F(FileTreeRemoval, LeavesAFileInADirectorysPlace) {
    tree.file("logs/was-a-directory");
    EXPECT_TRUE(logs.removeDirectory(fs::path("was-a-directory").native()));
    EXPECT_TRUE(fs::exists(tree / "logs/was-a-directory"));
    std::error_code ec;
    EXPECT_FALSE(logs.openChild(fs::path("was-a-directory").native(), ec));
    EXPECT_FALSE(ec) << "a file is not walked into, and that is no error";
}

// A link put where a directory was listed is neither entered nor followed by
// the removal: the link goes, its target stays.
TEST_F(FileTreeRemoval, NeverEntersOrFollowsALinkInADirectorysPlace) {
    tree.file("outside/old.log");
    std::error_code ec;
    fs::create_directory_symlink(tree / "outside", tree / "logs/swapped", ec);
    if (ec) {
        GTEST_SKIP() << "links cannot be created here (Wine): " << ec.message();
    }
    EXPECT_FALSE(logs.openChild(fs::path("swapped").native(), ec));
    EXPECT_FALSE(ec) << "a link is not walked into, and that is no error";
    EXPECT_FALSE(logs.removeDirectory(fs::path("swapped").native()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree / "logs/swapped")));
    EXPECT_TRUE(fs::exists(tree / "outside/old.log"));
}

}  // namespace
