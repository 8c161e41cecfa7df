// Tests of the in-file name patching of .VRL files: the 300-byte window, exact matches, cut
// and padded names, and texts that are no candidates.
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "code_page.h"
#include "os.h"
#include "patch.h"
#include "support.h"

namespace
{

struct NameTables {
    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    char new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
};

NameTables make_tables(const std::vector<std::pair<std::string, std::string>> &pairs)
{
    NameTables tables;
    memset(&tables, 0, sizeof tables);
    for (size_t k = 0; k < pairs.size(); k++) {
        snprintf(tables.old_names[k], NAME_SIZE, "%s", pairs[k].first.c_str());
        snprintf(tables.new_names[k], NAME_SIZE, "%s", pairs[k].second.c_str());
    }
    return tables;
}

// Bytes with text placed at offset in a run of NUL bytes of the given size.
std::string nuls_with(size_t size, size_t offset, const std::string &text)
{
    std::string bytes(size, '\0');
    bytes.replace(offset, text.size(), text);
    return bytes;
}

const std::string N(1, '\0');

class PatchNames : public TempFolderTest
{
  protected:
    std::string patched(const std::string &bytes, NameTables tables)
    {
        std::string path = at("1GT5VA.VRL");
        EXPECT_TRUE(write_file(path, bytes));
        result = patch_names(path.c_str(), tables.old_names, tables.new_names);
        return read_file(path);
    }
    int32_t result = 0; // patch_names' result in the last call of patched
};

struct PatchRow {
    const char *behaviour;
    std::string input;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string expected;
};

TEST_F(PatchNames, RewritesTextsInSmallFilesAsTheTableSays)
{
    const PatchRow rows[] = {
        {"same length, folder dropped",
         N + "1SHGT500" + N + "tail",
         {{"1SHGT500", "bmp\\2SHGT500"}},
         N + "2SHGT500" + N + "tail"},
        {"file starts with the text", "AB" + N, {{"AB", "CD"}}, "CD" + N},
        {"lower case is another text", "1shgt500" + N, {{"1SHGT500", "2SHGT500"}}, "1shgt500" + N},
        {"longer text is another text",
         "1SHGT5000" + N,
         {{"1SHGT500", "2SHGT500"}},
         "1SHGT5000" + N},
        {"text inside a longer run", "X1SHGT500" + N, {{"1SHGT500", "2SHGT500"}}, "X1SHGT500" + N},
        {"first equal old name decides", N + "AB" + N, {{"AB", "CD"}, {"AB", "EF"}}, N + "CD" + N},
        {"second pair", "AB" + N + "GH" + N, {{"ZZ", "QQ"}, {"GH", "IJ"}}, "AB" + N + "IJ" + N},
        {"longer new name is cut", "AB" + N, {{"AB", "XYZ"}}, "XY" + N},
        {"shorter new name is padded with NULs",
         "1SHGT500" + N + "z",
         {{"1SHGT500", "bmp\\Q"}},
         "Q" + std::string(7, '\0') + N + "z"},
        {"no closing NUL", N + "1SHGT500", {{"1SHGT500", "2SHGT500"}}, N + "1SHGT500"},
        {"every text replaced once",
         "AB" + N + "AB" + N,
         {{"AB", "BA"}, {"BA", "AB"}},
         "BA" + N + "BA" + N},
        {"empty new name never written", "AB" + N, {{"AB", ""}}, "AB" + N},
        {"new name empty after its folder", "AB" + N, {{"AB", "C:"}}, "AB" + N},
        {"line ends and Ctrl-Z pass unchanged",
         "\r\n\x1a" + N + "AB" + N + "\r\n",
         {{"AB", "CD"}},
         "\r\n\x1a" + N + "CD" + N + "\r\n"},
        {"empty tables", "AB" + N + "CD" + N, {}, "AB" + N + "CD" + N},
    };
    for (const PatchRow &row : rows)
        EXPECT_EQ(patched(row.input, make_tables(row.pairs)), row.expected) << row.behaviour;
}

TEST_F(PatchNames, RewritesTextInLastThreeHundredBytesAndKeepsTheRest)
{
    std::string input = nuls_with(1000, 800, "1SHGT500");
    input.replace(0, 4, "head");
    std::string expected = input;
    expected.replace(800, 8, "2SHGT500");
    EXPECT_EQ(patched(input, make_tables({{"1SHGT500", "bmp\\2SHGT500"}})), expected);
}

TEST_F(PatchNames, LeavesTextBeforeLastThreeHundredBytesAlone)
{
    std::string input = nuls_with(1000, 600, "1SHGT500");
    EXPECT_EQ(patched(input, make_tables({{"1SHGT500", "2SHGT500"}})), input);
}

TEST_F(PatchNames, SeesRunOpenAtWindowStartFromWindowFirstByte)
{
    // The window of this 400-byte file starts at byte 100, inside the run "ZZAB".
    std::string input = nuls_with(400, 98, "ZZAB");
    std::string expected = nuls_with(400, 98, "ZZCD");
    EXPECT_EQ(patched(input, make_tables({{"ZZAB", "QQQQ"}, {"AB", "CD"}})), expected);
}

TEST_F(PatchNames, ExaminesFileOfHundredBytesFromItsFirstByte)
{
    std::string input = nuls_with(100, 0, "AB");
    EXPECT_EQ(patched(input, make_tables({{"AB", "CD"}})), nuls_with(100, 0, "CD"));
}

TEST_F(PatchNames, NeverReadsPastTheNewName)
{
    NameTables tables = make_tables({{"1SHGT500", ""}});
    memset(tables.new_names[0], 'R', NAME_SIZE);
    memcpy(tables.new_names[0], "Q", 2);
    std::string expected = "Q" + std::string(7, '\0') + N;
    EXPECT_EQ(patched("1SHGT500" + N, tables), expected);
}

TEST_F(PatchNames, SkipsRunsOfTwoHundredFiftySixBytesOrMore)
{
    // Each long run ends in an old name; only the short text after them is a candidate.
    std::string run256 = std::string(248, 'A') + "1SHGT500";
    std::string run299 = std::string(291, 'B') + "1SHGT500";
    NameTables tables = make_tables({{"1SHGT500", "2SHGT500"}, {"AB", "CD"}});
    EXPECT_EQ(patched(run256 + N + "AB" + N, tables), run256 + N + "CD" + N);
    EXPECT_EQ(patched(run299 + N, tables), run299 + N);
}

TEST_F(PatchNames, PassesOverRunThatJustFillsTheCandidateBuffer)
{
    // 255 bytes fill the candidate buffer with its NUL; the next text still matches.
    std::string run255 = std::string(255, 'A');
    NameTables tables = make_tables({{"AB", "CD"}});
    EXPECT_EQ(patched(run255 + N + "AB" + N, tables), run255 + N + "CD" + N);
}

TEST_F(PatchNames, TellsWhichOldNamesItRewrote)
{
    const struct {
        std::string input;
        std::vector<std::pair<std::string, std::string>> pairs;
        int32_t result;
    } rows[] = {
        {"AB" + N + "GH" + N + "GH" + N, {{"ZZ", "QQ"}, {"GH", "IJ"}}, 2},
        {"AB" + N + "GH" + N, {{"AB", "CD"}, {"ZZ", "QQ"}, {"GH", "IJ"}}, 5},
        {"AB" + N, {{"ZZ", "QQ"}}, 0},
        {"AB" + N, {{"AB", ""}}, 0},
        {"AB", {{"AB", "CD"}}, 0},
        {"", {{"AB", "CD"}}, 0},
    };
    for (const auto &row : rows) {
        patched(row.input, make_tables(row.pairs));
        EXPECT_EQ(result, row.result) << row.input;
    }
}

// A .VRL file holds the game's bytes, in the ANSI code page: an old name is found, and its new
// name written, in that form; the new name's folder is cut off before, as a double-byte
// character may end in the byte of "\\" (cp932: 表 is 95 5C). A pair with a name the page
// lacks changes nothing.
TEST_F(PatchNames, ComparesAndWritesNamesInTheAnsiCodePage)
{
    const std::string hyo = "\xe8\xa1\xa8", so = "\xe3\x82\xbd", s = "\xc5\x9b";
    const std::string u = "\xc3\xbc", o = "\xc3\xb6";
    const struct {
        std::string old_name, new_name, new_text;
    } rows[] = {
        {so + "1SHGT", "bmp\\" + hyo + "2", hyo + "2"},
        {"1SHGT500", "bmp\\" + hyo + "1", hyo + "1"},
        {hyo + "1", "new\\" + so + "2", so + "2"},
        {u + "1", "bmp\\" + o + "2", o + "2"},
        {"AB", s + "x", s + "x"},
        {s + "1", "XY", "XY"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.old_name);
        bool formed = has_ansi_form(row.old_name) && has_ansi_form(row.new_text);
        // The old name as the game wrote it; a name the page lacks stands as its UTF-8 bytes.
        std::string old_text = has_ansi_form(row.old_name) ? ansi(row.old_name) : row.old_name;
        std::string head(280, 'h'), input = head + N + old_text + N;
        std::string expected = input;
        if (formed) {
            std::string text = ansi(row.new_text).substr(0, old_text.size());
            text.resize(old_text.size(), '\0');
            expected = head + N + text + N;
        }
        EXPECT_EQ(patched(input, make_tables({{row.old_name, row.new_name}})), expected);
        EXPECT_EQ(result, formed ? 1 : 0);
    }
}

// A file that cannot be opened for update, read or written is a failure.
TEST_F(PatchNames, FailsWhenTheFileCannotBeUpdated)
{
    NameTables tables = make_tables({{"AB", "CD"}});
    std::string path = at("1GT5VA.VRL");
    ASSERT_TRUE(write_file(path, "AB" + N));
    ASSERT_EQ(os_set_attributes(path.c_str(), OS_ATTR_READONLY), 0);
    EXPECT_EQ(patch_names(path.c_str(), tables.old_names, tables.new_names), -1);
    EXPECT_EQ(read_file(path), "AB" + N);
    ASSERT_EQ(os_set_attributes(path.c_str(), 0), 0);
    for (int kind : {OS_FAULT_WRITE, OS_FAULT_READ}) {
        os_inject_fault(kind, 1);
        EXPECT_EQ(patch_names(path.c_str(), tables.old_names, tables.new_names), -1) << kind;
        os_inject_fault(kind, 0);
        EXPECT_EQ(read_file(path), "AB" + N) << kind;
    }
}

// The file open at a descriptor is patched as patch_names patches it, and stays open.
TEST_F(PatchNames, PatchesAFileOpenAtADescriptorAndLeavesItOpen)
{
    NameTables tables = make_tables({{"AB", "CD"}});
    std::string path = at("1GT5VA.VRL");
    ASSERT_TRUE(write_file(path, "x" + N + "AB" + N));
    OsOpenFile file;
    ASSERT_EQ(os_open_file(path.c_str(), 1, &file), 0);
    EXPECT_EQ(patch_open_file(file.fd, tables.old_names, tables.new_names), 1);
    EXPECT_EQ(os_seek(file.fd, 0, OS_SEEK_SET), 0);
    EXPECT_EQ(os_close(file.fd), 0);
    EXPECT_EQ(read_file(path), "x" + N + "CD" + N);
}

TEST_F(PatchNames, LeavesMissingFileMissing)
{
    NameTables tables = make_tables({{"AB", "CD"}});
    EXPECT_EQ(patch_names(at("none.VRL").c_str(), tables.old_names, tables.new_names), -1);
    EXPECT_EQ(read_file(at("none.VRL")), "<missing>");
}

TEST_F(PatchNames, LeavesEmptyFileEmpty)
{
    EXPECT_EQ(patched("", make_tables({{"AB", "CD"}})), "");
}

} // namespace
