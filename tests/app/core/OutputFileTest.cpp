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

// Text held back stays whole and in order whether it fits the memory bound or goes on in the
// temporary file, drains again as often as asked, and starts afresh after Clear.
TEST(Spool, KeepsTheTextInOrderInMemoryAndBeyond) {
    struct TCase {
        std::size_t Bound;
        std::vector<std::string> Pieces;
    };
    const std::string large(3 << 20, 'x'); // more than a piece read back from the file
    for (const TCase& c : {TCase{64, {"a", "", "bc\f"}}, TCase{4, {"abc", "de", "", "f\f", "g"}},
                           TCase{0, {"first", "second"}}, TCase{16, {large, "end\f"}}}) {
        tolvane::TSpool spool(c.Bound);
        std::string whole;
        for (const std::string& piece : c.Pieces) {
            ASSERT_TRUE(spool.Append(piece));
            whole += piece;
        }
        EXPECT_EQ(spool.Back(), whole.back());
        for (int pass = 0; pass < 2; ++pass) {
            std::string drained;
            ASSERT_TRUE(spool.Drain([&](std::string_view bytes) {
                drained.append(bytes);
                return true;
            }));
            EXPECT_EQ(drained.size(), whole.size());
            EXPECT_TRUE(drained == whole) << "bound " << c.Bound << ", pass " << pass;
        }
        ASSERT_TRUE(spool.Append("more"));
        spool.Clear();
        EXPECT_TRUE(spool.Empty());
        ASSERT_TRUE(spool.Append("z"));
        std::string after;
        spool.Drain([&](std::string_view bytes) {
            after.append(bytes);
            return true;
        });
        EXPECT_EQ(after, "z");
        EXPECT_FALSE(spool.Drain([](std::string_view) { return false; }));
    }
}
