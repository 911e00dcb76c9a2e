// hollowbox-vault extract against a hostile target folder or vault: links
// already lying below DIR, a planted temporary name, and entries that share
// bytes of the vault.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "RunTool.h"
#include "VaultTestUtil.h"
#include "cli/ToolPlatform.h"
#include "cli/VaultTool.h"

using namespace hbtest;

namespace {

std::string Text(const std::string& path) {
    const Bytes b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}

Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(CliExtractSafety, EntriesSharingBytesStopBeforeAnythingIsWritten) {
    TempDir dir("cli_shared");
    const std::string vault = dir / "v.vfo";
    BuildVault(vault, {{"a.txt", MakeData(20000, 1, true)},
                       {"b.txt", MakeData(300, 2, true)},
                       {"c.txt", MakeData(300, 3, true)}});
    Bytes image = ReadBytes(vault);
    const vault::CentralHeader a = CentralHeaderAt(image, 0);
    for (int i : {1, 2}) {
        size_t pos = 0, len = 0;
        ASSERT_TRUE(CentralRecordAt(image, i, &pos, &len));
        PatchRecord(&image, pos, 64, [&](uint8_t* p) {
            vault::PutU16(p + 10, a.method);
            vault::PutU32(p + 16, a.crc);
            vault::PutU32(p + 20, a.compressedSize);
            vault::PutU32(p + 24, a.uncompressedSize);
            vault::PutU32(p + 42, a.localOffset);
        });
    }
    ASSERT_TRUE(WriteBytes(vault, image));
    const std::string out = dir / "out";
    for (bool named : {false, true}) {
        std::vector<std::string> args = {"extract", vault, "-d", out};
        if (named) args.push_back("a.txt");
        ToolRun r = RunTool(args);
        EXPECT_EQ(r.rc, 1);
        EXPECT_NE(r.err.find("3 entries share bytes of the vault"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing extracted"), std::string::npos) << r.err;
        EXPECT_FALSE(fileio::Exists(out)) << "the target folder was made";
    }
}

// Stops the tool (as a crash or power cut would) right after it removes a
// given file.
struct StopAfterRemoving : fileio::IoObserver {
    struct Stopped {};
    std::string path;
    bool BeforeWrite(CFile&, uint64_t, size_t) override { return true; }
    bool BeforeTruncate(CFile&, uint64_t) override { return true; }
    void AfterFlush(CFile&) override {}
    void AfterRename(const std::string&, const std::string&) override {}
    void AfterRemove(const std::string& removed) override {
        if (removed == path) throw Stopped{};
    }
};

// With -o the old file is replaced in one step: at no moment is there
// neither the old nor the new file under its name.
TEST(CliExtractSafety, ReplacingNeverLeavesTheNameEmpty) {
    TempDir dir("cli_replace");
    const std::string vault = dir / "v.vfo";
    BuildVault(vault, {{"keep.txt", B("new content")}});
    const std::string out = dir / "out";
    ASSERT_TRUE(fileio::MakeDirectoryChain(out));
    const std::string target = out + fileio::Separator() + "keep.txt";
    ASSERT_TRUE(WriteBytes(target, B("old content")));
    StopAfterRemoving stop;
    stop.path = target;
    fileio::SetIoObserver(&stop);
    bool stopped = false;
    try {
        RunTool({"extract", "-o", vault, "-d", out});
    } catch (const StopAfterRemoving::Stopped&) {
        stopped = true;
    }
    fileio::SetIoObserver(nullptr);
    EXPECT_FALSE(stopped) << "the old file was removed before the new one took its name";
    const std::string now = Text(target);
    EXPECT_TRUE(now == "old content" || now == "new content") << now;
}

TEST(CliExtractSafety, EntriesForOneNameNeverRunTogetherOnSeveralThreads) {
    TempDir dir("cli_threads");
    const std::string vault = dir / "v.vfo";
    // The same name three times (in two spellings), a file where a later
    // entry wants a folder, and many others around them.
    std::vector<TestEntry> entries;
    for (int i = 0; i < 40; ++i) entries.push_back({"f" + std::to_string(i) + ".txt", MakeData(3000, i, true)});
    entries.insert(entries.begin() + 5, {"dup.txt", B("first")});
    entries.insert(entries.begin() + 9, {"DUP.txt", B("second")});
    entries.insert(entries.begin() + 20, {"dup.txt", B("third")});
    entries.insert(entries.begin() + 21, {"x", B("a file")});
    entries.insert(entries.begin() + 30, {"x/y.txt", B("below a file")});
    BuildVault(vault, entries);
    const std::string out = dir / "out";
    for (const char* threads : {"1", "7"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        fileio::MakeDirectoryChain(out);
        const ToolRun r = RunTool({"extract", "-o", "--threads", threads, vault, "-d", out});
        EXPECT_EQ(r.rc, 1);  // x/y.txt cannot go below the file x
        EXPECT_NE(r.err.find("not a folder"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("create"), std::string::npos) << r.err;
        EXPECT_EQ(Text(out + fileio::Separator() + "x"), "a file");
        for (int i = 0; i < 40; ++i) {
            const std::string name = "f" + std::to_string(i) + ".txt";
            EXPECT_EQ(ReadBytes(out + fileio::Separator() + name), MakeData(3000, i, true)) << name;
        }
#ifdef _WIN32
        EXPECT_EQ(Text(out + "\\dup.txt"), "third");
#else
        EXPECT_EQ(Text(out + "/dup.txt"), "third");
        EXPECT_EQ(Text(out + "/DUP.txt"), "second");
#endif
        std::error_code ec;
        std::filesystem::remove_all(out, ec);
    }
    EXPECT_EQ(RunTool({"extract", "--threads", "0", vault, "-d", out}).rc, 2);
    EXPECT_EQ(RunTool({"add", "--threads", "x", vault, dir / "v.vfo"}).rc, 2);
}

#ifndef _WIN32
TEST(CliExtractSafety, LinksBelowTheTargetFolderAreNeverWrittenThrough) {
    TempDir dir("cli_links");
    const std::string vault = dir / "v.vfo";
    BuildVault(vault, {{"a/b.txt", B("through the folder link")},
                       {"plain.txt", B("plain")},
                       {"file.txt", B("new content")},
                       {"dangling.txt", B("would land elsewhere")},
                       {"kept.txt", B("fresh")}});
    const std::string out = dir / "out";
    const std::string elsewhere = dir / "elsewhere";
    ASSERT_TRUE(fileio::MakeDirectoryChain(out));
    ASSERT_TRUE(fileio::MakeDirectoryChain(elsewhere));
    ASSERT_TRUE(WriteBytes(elsewhere + "/victim", B("victim")));
    ASSERT_TRUE(WriteBytes(out + "/kept.txt", B("old")));
    ASSERT_EQ(symlink(elsewhere.c_str(), (out + "/a").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere + "/victim").c_str(), (out + "/file.txt").c_str()), 0);
    ASSERT_EQ(symlink((elsewhere + "/new").c_str(), (out + "/dangling.txt").c_str()), 0);
    // A link planted under the temporary name of a replaced file.
    ASSERT_EQ(symlink((elsewhere + "/part").c_str(), (out + "/kept.txt.hbpart").c_str()), 0);

    ToolRun r = RunTool({"extract", vault, "-d", out});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find(out + "/a: is a link; not followed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("file.txt: exists; not overwritten"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("dangling.txt: exists; not overwritten"), std::string::npos) << r.err;
    EXPECT_FALSE(fileio::Exists(elsewhere + "/b.txt"));
    EXPECT_FALSE(fileio::Exists(elsewhere + "/new"));
    EXPECT_EQ(Text(elsewhere + "/victim"), "victim");
    EXPECT_EQ(Text(out + "/plain.txt"), "plain");
    EXPECT_EQ(Text(out + "/kept.txt"), "old");

    // With -o the links themselves are replaced by the entries' files.
    r = RunTool({"extract", "-o", vault, "-d", out, "file.txt", "dangling.txt", "kept.txt"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(Text(elsewhere + "/victim"), "victim");
    EXPECT_FALSE(fileio::Exists(elsewhere + "/new"));
    EXPECT_FALSE(fileio::Exists(elsewhere + "/part"));
    for (const char* name : {"/file.txt", "/dangling.txt", "/kept.txt"})
        EXPECT_EQ(hbcli::InspectNoFollow(out + name), hbcli::PathState::File) << name;
    EXPECT_EQ(Text(out + "/file.txt"), "new content");
    EXPECT_EQ(Text(out + "/dangling.txt"), "would land elsewhere");
    EXPECT_EQ(Text(out + "/kept.txt"), "fresh");
    EXPECT_EQ(hbcli::InspectNoFollow(out + "/kept.txt.hbpart"), hbcli::PathState::Link);
    EXPECT_FALSE(fileio::Exists(out + "/kept.txt.hbpart1"));
}
#endif
