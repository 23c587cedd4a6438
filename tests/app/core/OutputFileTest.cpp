// Outputs that never destroy a file: regular files replaced atomically (through links), FIFOs
// and device nodes written in place, and the same-file test writers use to refuse their input.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "OutputFile.h"
#include "support/Processes.h"

namespace fs = std::filesystem;
using tolvane::IsSameFile;
using tolvane::MakeFileOutput;
using tolvane_test::ReadFile;
using tolvane_test::TempDir;

namespace {

bool writeAll(const std::string& path, const std::string& text, bool commit = true) {
    const std::unique_ptr<tolvane::TOutput> output = MakeFileOutput(path);
    return output->Open() && output->Write(text) && (!commit || output->Commit());
}

mode_t typeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? (status.st_mode & S_IFMT) : 0;
}

} // namespace

TEST(OutputFile, SameFileFollowsHardAndSymbolicLinks) {
    TempDir dir;
    const std::string a = dir.Write("a.pdf", "%PDF-");
    const std::string b = dir.Write("b.pdf", "%PDF-");
    fs::create_hard_link(a, dir.Path / "hard.txt");
    fs::create_symlink(a, dir.Path / "soft.txt");
    EXPECT_TRUE(IsSameFile(a, a));
    EXPECT_TRUE(IsSameFile(a, (dir.Path / "hard.txt").string()));
    EXPECT_TRUE(IsSameFile((dir.Path / "soft.txt").string(), a));
    EXPECT_TRUE(IsSameFile(a, (dir.Path / "." / "a.pdf").string()));
    EXPECT_FALSE(IsSameFile(a, b));
    EXPECT_FALSE(IsSameFile(a, (dir.Path / "missing").string()));
}

TEST(OutputFile, RegularFilesAreReplacedOnlyOnCommitAndLinksStay) {
    TempDir dir;
    const std::string target = dir.Write("target.txt", "old");
    const std::string link = (dir.Path / "link.txt").string();
    fs::create_symlink(target, link);

    EXPECT_TRUE(writeAll(link, "uncommitted", false));
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_TRUE(writeAll(link, "new"));
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(typeOf(link), S_IFLNK);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path), fs::directory_iterator()), 2)
        << "no temporary file is left";
}

TEST(OutputFile, AFifoIsWrittenInPlace) {
    TempDir dir;
    const std::string fifo = (dir.Path / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::future<std::string> reader = std::async(std::launch::async, [&fifo] {
        return ReadFile(fifo); // opens the FIFO for reading, so the writer's open returns
    });
    EXPECT_TRUE(writeAll(fifo, "text\n"));
    EXPECT_EQ(reader.get(), "text\n");
    EXPECT_EQ(typeOf(fifo), S_IFIFO);
}

TEST(OutputFile, ADeviceNodeIsWrittenInPlaceNeverReplaced) {
    TempDir dir;
    const std::string node = (dir.Path / "null").string();
    if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "making a device node needs root";
    EXPECT_TRUE(writeAll(node, "discarded"));
    EXPECT_EQ(typeOf(node), S_IFCHR);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path), fs::directory_iterator()), 1);
}
