// End-to-end tests of the stand-in archive tool: the command lines Zandrel gives it, the
// listing, and its refusal of bad command lines and damaged archives.
#include <stdint.h>

#include <set>
#include <string>

#include "os.h"
#include "support.h"

namespace
{

std::string tool_path()
{
    std::string any = built_program("x");
    size_t cut = any.rfind('\\');
    return (cut == std::string::npos ? std::string(".") : any.substr(0, cut)) + "\\MASadelic.exe";
}

ProgramRun tool(const std::string &arguments)
{
    return run_program(tool_path(), "MASadelic " + arguments);
}

std::string u32(uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; i++)
        bytes += (char)(value >> (8 * i));
    return bytes;
}

// An archive in the stand-in's own format, written by hand.
std::string entry(const std::string &name, const std::string &content)
{
    return std::string(1, (char)name.size()) + name + u32((uint32_t)content.size()) + content;
}

std::string archive(uint32_t count, const std::string &entries)
{
    return "MASSTAND1\n" + u32(count) + entries;
}

class MasadelicTest : public TempFolderTest
{
  protected:
    // Makes folder "pack" holding the files, creates and fills ..\name from inside it the
    // way Zandrel does, and returns to the test folder.
    void pack(const std::string &name, const std::set<std::pair<std::string, std::string>> &files)
    {
        ASSERT_EQ(os_make_directory("pack"), 0);
        for (const auto &f : files)
            ASSERT_TRUE(write_file(at("pack\\" + f.first), f.second));
        ASSERT_EQ(os_change_directory("pack"), 0);
        EXPECT_EQ(tool("-C -m:..\\" + name).exit_status, 0);
        os_delete_file("MASBODY.TMP");
        os_delete_file("MASHEAD.TMP");
        EXPECT_EQ(tool("-A -m:..\\" + name + " -f:* -i:*").exit_status, 0);
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        remove_all(at("pack"));
    }
};

const std::string BINARY("\0\x01\r\n\x1a\xff\0end\r\n", 11);

} // namespace

TEST_F(MasadelicTest, RoundTripKeepsEveryByteAndListsNamesAndSizes)
{
    pack("car.mas", {{"A.VRL", BINARY}, {"EMPTY.DAT", ""}, {"notes.txt", "one\r\ntwo\n"}});
    ProgramRun list = tool("-L -m:car.mas");
    EXPECT_EQ(list.exit_status, 0);
    EXPECT_EQ(list.out, "A.VRL                  11\n"
                        "EMPTY.DAT               0\n"
                        "notes.txt               9\n");
    ProgramRun run = tool("-E -m:car.mas -f:* -o:tmp");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(names_in(at("tmp")), (std::set<std::string>{"A.VRL", "EMPTY.DAT", "notes.txt"}));
    EXPECT_EQ(read_file(at("tmp\\A.VRL")), BINARY);
    EXPECT_EQ(read_file(at("tmp\\EMPTY.DAT")), "");
    EXPECT_EQ(read_file(at("tmp\\notes.txt")), "one\r\ntwo\n");
}

TEST_F(MasadelicTest, CreateLeavesItsScratchFilesBesideAnEmptyArchive)
{
    ASSERT_EQ(os_make_directory("tmp"), 0);
    ASSERT_EQ(os_change_directory("tmp"), 0);
    EXPECT_EQ(tool("-C -m:..\\new.mas").exit_status, 0);
    EXPECT_EQ(names_in("."), (std::set<std::string>{"MASBODY.TMP", "MASHEAD.TMP"}));
    ProgramRun list = tool("-L -m:..\\new.mas");
    EXPECT_EQ(list.exit_status, 0);
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(read_file(at("new.mas")), archive(0, ""));
}

TEST_F(MasadelicTest, AddStoresLeftoverScratchFilesThatNobodyDeleted)
{
    ASSERT_EQ(os_make_directory("tmp"), 0);
    ASSERT_EQ(os_change_directory("tmp"), 0);
    ASSERT_EQ(tool("-C -m:..\\new.mas").exit_status, 0);
    ASSERT_EQ(tool("-A -m:..\\new.mas -f:* -i:*").exit_status, 0);
    std::string listing = tool("-L -m:..\\new.mas").out;
    EXPECT_NE(listing.find("MASBODY.TMP"), std::string::npos) << listing;
    EXPECT_NE(listing.find("MASHEAD.TMP"), std::string::npos) << listing;
}

TEST_F(MasadelicTest, AddReplacesAnEntryOfTheSameNameWhateverItsCase)
{
    ASSERT_TRUE(write_file(at("car.mas"), archive(2, entry("CAR.TXT", "old") + entry("K", "k"))));
    ASSERT_EQ(os_make_directory("in"), 0);
    ASSERT_EQ(os_make_directory("in\\sub"), 0);
    ASSERT_TRUE(write_file(at("in\\car.txt"), "new!"));
    ASSERT_EQ(os_change_directory("in"), 0);
    ProgramRun run = tool("-A -m:..\\car.mas -f:* -i:*");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(read_file(at("car.mas")), archive(2, entry("K", "k") + entry("car.txt", "new!")));
}

TEST_F(MasadelicTest, AddLeavesOutTheArchiveItselfWhenItLiesInTheCurrentFolder)
{
    ASSERT_EQ(tool("-C -m:self.mas").exit_status, 0);
    ASSERT_TRUE(write_file(at("A"), "a"));
    ProgramRun run = tool("-A -m:self.mas -f:* -i:*");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    std::string listing = tool("-L -m:self.mas").out;
    EXPECT_EQ(listing.find("self.mas"), std::string::npos) << listing;
    EXPECT_NE(listing.find("A "), std::string::npos) << listing;
    EXPECT_FALSE(os_exists("self.mas.new"));
}

TEST_F(MasadelicTest, ExtractTakesOnlyMatchingNamesAndOptionLettersIgnoreCase)
{
    ASSERT_TRUE(write_file(at("car.mas"), archive(2, entry("A.VRL", "v") + entry("B.BMP", "b"))));
    ProgramRun run = tool("-e -M:car.mas -F:*.vrl -O:out");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(names_in(at("out")), std::set<std::string>{"A.VRL"});
}

TEST_F(MasadelicTest, RefusesBadCommandLinesWithAMessage)
{
    ASSERT_TRUE(write_file(at("ok.mas"), archive(0, "")));
    const struct {
        const char *arguments;
        const char *message;
    } rows[] = {
        {"", "usage"},
        {"-X -m:ok.mas", "unknown command '-X'"},
        {"-EE -m:ok.mas", "unknown command '-EE'"},
        {"-L -m:ok.mas -q:1", "unknown option '-q:1'"},
        {"-C -m:ok.mas -o:x", "unknown option '-o:x'"},
        {"-L -m:ok.mas extra", "unknown option 'extra'"},
        {"-L -m:ok.mas -m:ok.mas", "given twice"},
        {"-L", "needs the option -m:"},
        {"-E -m:ok.mas -f:*", "needs the option -o:"},
        {"-L -m:", "needs a value"},
    };
    for (const auto &row : rows) {
        ProgramRun run = tool(row.arguments);
        EXPECT_EQ(run.started, 1);
        EXPECT_NE(run.exit_status, 0) << row.arguments;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << row.arguments << ": " << run.err;
    }
}

TEST_F(MasadelicTest, RefusesMissingOrDamagedArchivesNamingThem)
{
    const std::string good = entry("A", "abc");
    const struct {
        const char *what;
        std::string bytes;
    } rows[] = {
        {"empty file", ""},
        {"wrong magic", "MASSTAND2\n" + u32(0)},
        {"header cut short", archive(0, "").substr(0, 12)},
        {"more entries than fit", archive(1000, good)},
        {"content beyond the end", archive(1, good.substr(0, good.size() - 1))},
        {"name cut short", archive(1, std::string("\x08"
                                                  "AB",
                                                  3))},
        {"empty name", archive(1, entry("", "x"))},
        {"NUL inside the name", archive(1, entry(std::string("A\0B", 3), "x"))},
        {"name with a folder", archive(1, entry("..\\x", "x"))},
        {"name of the parent", archive(1, entry("..", "x"))},
        {"bytes after the last entry", archive(1, good + "junk")},
        {"size near 4 GiB", archive(1, std::string("\x01"
                                                   "A",
                                                   2) +
                                           u32(0xFFFFFFF0u) + "abc")},
    };
    for (const auto &row : rows) {
        ASSERT_TRUE(write_file(at("bad.mas"), row.bytes));
        for (const char *command :
             {"-L -m:bad.mas", "-E -m:bad.mas -f:* -o:out", "-A -m:bad.mas -f:* -i:*"}) {
            ProgramRun run = tool(command);
            EXPECT_NE(run.exit_status, 0) << row.what << ", " << command;
            EXPECT_NE(run.err.find("corrupt archive 'bad.mas'"), std::string::npos)
                << row.what << ", " << command << ": " << run.err;
        }
        EXPECT_EQ(read_file(at("bad.mas")), row.bytes) << row.what;
        EXPECT_FALSE(os_exists("out\\x")) << row.what;
    }
    for (const char *command :
         {"-L -m:none.mas", "-E -m:none.mas -f:* -o:out", "-A -m:none.mas -f:* -i:*"}) {
        ProgramRun run = tool(command);
        EXPECT_NE(run.exit_status, 0) << command;
        EXPECT_NE(run.err.find("cannot open archive 'none.mas'"), std::string::npos) << run.err;
    }
}

namespace
{

// The tests' own way to make one call fail: MASADELIC_FAIL, inherited by the tool.
class MasadelicFailTest : public MasadelicTest
{
  protected:
    void TearDown() override
    {
        os_set_environment("MASADELIC_FAIL", nullptr);
        MasadelicTest::TearDown();
    }
    void fail(const char *how)
    {
        ASSERT_EQ(os_set_environment("MASADELIC_FAIL", how), 0);
    }
    const std::string two_entries = archive(2, entry("A.VRL", "aaa") + entry("B.BMP", "bb"));
};

} // namespace

TEST_F(MasadelicFailTest, RefusesTheNamedCallOnRequestBeforeTouchingAnything)
{
    const struct {
        const char *how, *arguments;
    } rows[] = {
        {"E:refuse", "-E -m:car.mas -f:* -o:out"},
        {"e:refuse", "-E -m:car.mas -f:* -o:out"},
        {"C:refuse", "-C -m:car.mas"},
        {"A:refuse", "-A -m:car.mas -f:* -i:*"},
    };
    for (const auto &row : rows) {
        ASSERT_TRUE(write_file(at("car.mas"), two_entries));
        ASSERT_TRUE(write_file(at("NEW.TXT"), "new"));
        fail(row.how);
        ProgramRun run = tool(row.arguments);
        EXPECT_EQ(run.exit_status, 4) << row.how;
        EXPECT_NE(run.err.find("MASadelic: failing on request"), std::string::npos) << run.err;
        EXPECT_EQ(read_file(at("car.mas")), two_entries) << row.how;
        EXPECT_EQ(names_in(dir), (std::set<std::string>{"car.mas", "NEW.TXT"})) << row.how;
    }
}

TEST_F(MasadelicFailTest, LetsTheOtherCallsWork)
{
    ASSERT_TRUE(write_file(at("car.mas"), two_entries));
    fail("C:crash");
    ProgramRun run = tool("-E -m:car.mas -f:* -o:out");
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(names_in(at("out")), (std::set<std::string>{"A.VRL", "B.BMP"}));
    EXPECT_EQ(tool("-L -m:car.mas").exit_status, 0);
}

TEST_F(MasadelicFailTest, ExtractCrashLeavesOnlyTheFirstFile)
{
    ASSERT_TRUE(write_file(at("car.mas"), two_entries));
    fail("E:crash");
    ProgramRun run = tool("-E -m:car.mas -f:* -o:out");
    EXPECT_NE(run.exit_status, 0);
    EXPECT_NE(run.exit_status, 4);
    EXPECT_NE(run.err.find("MASadelic: crashing on request"), std::string::npos) << run.err;
    EXPECT_EQ(names_in(at("out")), std::set<std::string>{"A.VRL"});
    EXPECT_EQ(read_file(at("out\\A.VRL")), "aaa");
}

TEST_F(MasadelicFailTest, CreateCrashLeavesHalfAHeader)
{
    fail("C:crash");
    ProgramRun run = tool("-C -m:new.mas");
    EXPECT_NE(run.exit_status, 0);
    EXPECT_NE(run.exit_status, 4);
    EXPECT_EQ(read_file(at("new.mas")), archive(0, "").substr(0, 7));
    EXPECT_EQ(names_in(dir), std::set<std::string>{"new.mas"});
    os_set_environment("MASADELIC_FAIL", nullptr);
    EXPECT_NE(tool("-L -m:new.mas").err.find("corrupt archive 'new.mas'"), std::string::npos);
}

TEST_F(MasadelicFailTest, AddCrashLeavesAnArchiveThatCountsEntriesItLacks)
{
    ASSERT_TRUE(write_file(at("car.mas"), two_entries));
    ASSERT_EQ(os_make_directory("in"), 0);
    ASSERT_TRUE(write_file(at("in\\C.TXT"), "c"));
    ASSERT_EQ(os_change_directory("in"), 0);
    fail("A:crash");
    ProgramRun run = tool("-A -m:..\\car.mas -f:* -i:*");
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    EXPECT_NE(run.exit_status, 0);
    EXPECT_NE(run.exit_status, 4);
    EXPECT_EQ(read_file(at("car.mas")), archive(3, ""));
    EXPECT_EQ(names_in(dir), (std::set<std::string>{"car.mas", "in"}));
}

TEST_F(MasadelicFailTest, RefusesAValueItDoesNotKnow)
{
    ASSERT_TRUE(write_file(at("car.mas"), two_entries));
    for (const char *how : {"X:refuse", "C", "C:", "C:boom", "Crefuse", ":crash", "A:crash!"}) {
        fail(how);
        ProgramRun run = tool("-L -m:car.mas");
        EXPECT_EQ(run.exit_status, 1) << how;
        EXPECT_NE(run.err.find("MASADELIC_FAIL is E, C or A"), std::string::npos) << how;
        EXPECT_EQ(run.out, "") << how;
    }
}
