// The fault models themselves: a power cut keeps flushed writes and loses
// the rest, including a renamed file's unflushed content.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "PowerCut.h"
#include "VaultTestUtil.h"

using namespace hbtest;

namespace {

std::string ReadAll(const std::string& path) {
    CFile f;
    if (!f.Open(path, CFile::Mode::Read)) return "<missing>";
    std::string s(4096, '\0');
    size_t got = 0;
    f.Read(&s[0], s.size(), &got);
    s.resize(got);
    return s;
}

void WriteAt(CFile& f, uint64_t pos, const std::string& text) {
    ASSERT_TRUE(f.Seek(pos));
    ASSERT_TRUE(f.Write(text.data(), text.size()));
}

}  // namespace

TEST(FaultModel, PowerCutKeepsOnlyFlushedWrites) {
    TempDir dir("cut");
    const std::string a = dir / "a.bin", b = dir / "b.bin", c = dir / "c.bin";
    {
        CFile f;
        ASSERT_TRUE(f.Open(a, CFile::Mode::CreateWrite));
        WriteAt(f, 0, "0123456789");
        ASSERT_TRUE(f.Flush());
    }
    FaultModel model(6, true);
    try {
        CFile f;
        ASSERT_TRUE(f.Open(a, CFile::Mode::ReadWriteExisting));
        WriteAt(f, 2, "ab");          // write 1: flushed below
        ASSERT_TRUE(f.Flush());
        WriteAt(f, 8, "XYZW");        // write 2: grows the file, never flushed
        ASSERT_TRUE(f.Truncate(5));   // write 3: cut, never flushed
        CFile g;
        ASSERT_TRUE(g.Open(b, CFile::Mode::CreateWrite));
        WriteAt(g, 0, "journal");     // write 4: renamed over c, never flushed
        g.Close();
        CFile h;
        ASSERT_TRUE(h.Open(c, CFile::Mode::CreateWrite));
        WriteAt(h, 0, "old");         // write 5
        ASSERT_TRUE(h.Flush());
        h.Close();
        ASSERT_TRUE(fileio::Rename(b, c));
        WriteAt(f, 0, "!");           // write 6: the stop
        FAIL() << "the sixth write should have stopped the process";
    } catch (const ProcessStopped&) {
    }
    EXPECT_TRUE(model.Stopped());
    EXPECT_EQ(model.Writes(), 6);
    model.DropUnflushed();
    EXPECT_EQ(ReadAll(a), "01ab456789");
    EXPECT_EQ(ReadAll(c), "");  // the name moved, its bytes never reached the disk
    EXPECT_EQ(ReadAll(b), "<missing>");
}

TEST(FaultModel, StopWithoutPowerCutKeepsEverythingWritten) {
    TempDir dir("stop");
    const std::string a = dir / "a.bin";
    FaultModel model(2, false);
    try {
        CFile f;
        ASSERT_TRUE(f.Open(a, CFile::Mode::CreateWrite));
        WriteAt(f, 0, "kept");
        WriteAt(f, 4, "lost");
    } catch (const ProcessStopped&) {
    }
    model.DropUnflushed();
    EXPECT_EQ(ReadAll(a), "kept");
}

TEST(FileLayer, CreateNewRefusesAnExistingNameAndALink) {
    TempDir dir("new");
    const std::string a = dir / "a.bin";
    CFile f;
    ASSERT_TRUE(f.Open(a, CFile::Mode::CreateNew));
    WriteAt(f, 0, "first");
    f.Close();
    EXPECT_FALSE(f.Open(a, CFile::Mode::CreateNew));
    EXPECT_EQ(ReadAll(a), "first");
#ifndef _WIN32
    const std::string link = dir / "link";
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), link.c_str()), 0);
    EXPECT_FALSE(f.Open(link, CFile::Mode::CreateNew));
    EXPECT_FALSE(fileio::Exists(dir / "elsewhere"));
#endif
}
