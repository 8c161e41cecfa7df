// Tests of the path routines: taking paths apart, absolute paths, the PATH search, folder
// chains and the console question (run in a child copy of this test with piped input).
#include "support.h"

#include "os.h"
#include "paths.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

// Characters whose ANSI form in code page 932 ends in a backslash: 'ソ' is 83 5C, '表'
// 95 5C. In UTF-8 none of their bytes is ASCII. 'é' takes 2 bytes, U+1F600 4 bytes for its
// two UTF-16 units.
#define KATAKANA_SO "\xe3\x82\xbd"
#define KANJI_HYO "\xe8\xa1\xa8"
#define E_ACUTE "\xc3\xa9"
#define SMILEY "\xf0\x9f\x98\x80"

// text repeated count times.
static std::string times(const char *text, size_t count)
{
    std::string result;
    for (size_t i = 0; i < count; i++)
        result += text;
    return result;
}

static std::string current_directory()
{
    char buffer[PATH_BUFFER_SIZE];
    if (os_get_current_directory(buffer, sizeof buffer) != 0)
        return "";
    return buffer;
}

// ---- Taking paths apart ----------------------------------------------------------------

struct NameRow {
    const char *path;
    const char *result;
    const char *path_after; // the caller's string afterwards
};

TEST(FileNameOf, FindsTheLastComponentAsTheTableSaysInEveryCodePage)
{
    const NameRow rows[] = {
        {"C:\\games\\cars\\old.mas", "old.mas", "C:\\games\\cars\\old.mas"},
        {"C:\\games\\cars\\", "cars", "C:\\games\\cars"},
        {"C:", "", "C:"},
        {"C:\\", "", "C:"},
        {"old.mas", "old.mas", "old.mas"},
        {"a/b", "a/b", "a/b"},
        {"", "", ""},
        {"\\", "", ""},
        {"a\\\\", "", "a\\"},
        {"\\old.mas", "old.mas", "\\old.mas"},
        {"C:\\" KATAKANA_SO "\\" KANJI_HYO ".mas", KANJI_HYO ".mas",
         "C:\\" KATAKANA_SO "\\" KANJI_HYO ".mas"},
        {"C:\\" KANJI_HYO "\\", KANJI_HYO, "C:\\" KANJI_HYO},
        {KATAKANA_SO KANJI_HYO, KATAKANA_SO KANJI_HYO, KATAKANA_SO KANJI_HYO},
    };
    for (const NameRow &row : rows) {
        char path[64];
        strcpy(path, row.path);
        EXPECT_STREQ(file_name_of(path), row.result) << row.path;
        EXPECT_STREQ(path, row.path_after) << row.path;
    }
}

TEST(FileNameOf, PointsIntoTheCallersString)
{
    char path[] = "C:\\cars\\old.mas";
    EXPECT_EQ(file_name_of(path), path + 8);
}

TEST(DirectoryOf, CopiesTheFolderPartAsTheTableSaysInEveryCodePage)
{
    const NameRow rows[] = {
        {"C:\\games\\cars\\old.mas", "C:\\games\\cars", nullptr},
        {"old.mas", ".", nullptr},
        {"C:\\old.mas", "C:", nullptr},
        {"\\old.mas", ".", nullptr},
        {"C:\\games\\cars\\", "C:\\games", nullptr},
        {"", ".", nullptr},
        {"C:\\" KATAKANA_SO "\\" KANJI_HYO ".mas", "C:\\" KATAKANA_SO, nullptr},
        {KANJI_HYO "\\" KATAKANA_SO "\\", KANJI_HYO, nullptr},
        {KATAKANA_SO, ".", nullptr},
    };
    for (const NameRow &row : rows) {
        char path[64], out[64];
        strcpy(path, row.path);
        EXPECT_EQ(directory_of(out, path), out);
        EXPECT_STREQ(out, row.result) << row.path;
    }
}

TEST(ExtensionOf, FindsTheExtensionAsTheTableSays)
{
    const NameRow rows[] = {
        {"old.mas", "mas", nullptr},  {"a.b.c", "c", nullptr},
        {"old", "", nullptr},         {"old.", "", nullptr},
        {".veh", "", nullptr},        {"C:\\x.y\\old", "", nullptr},
        {"C:\\x\\.veh", "", nullptr}, {"C:\\x\\car.veh\\", "veh", nullptr},
    };
    for (const NameRow &row : rows) {
        char path[64];
        strcpy(path, row.path);
        char *extension = extension_of(path);
        EXPECT_STREQ(extension, row.result) << row.path;
        EXPECT_TRUE(extension >= path && extension <= path + strlen(path)) << row.path;
    }
}

TEST(BaseNameOf, DropsTheExtensionAsTheTableSays)
{
    const NameRow rows[] = {
        {"C:\\x\\old.mas", "old", nullptr},
        {"a.b.c", "a.b", nullptr},
        {"old", "old", nullptr},
        {"old.", "old", nullptr},
        {".veh", ".veh", nullptr},
        {"C:\\x.y\\old", "old", nullptr},
        {"C:\\", "", nullptr},
        {"C:\\" KATAKANA_SO "\\" KANJI_HYO ".mas", KANJI_HYO, nullptr},
    };
    for (const NameRow &row : rows) {
        char path[64], out[64];
        strcpy(path, row.path);
        EXPECT_EQ(base_name_of(out, path), out);
        EXPECT_STREQ(out, row.result) << row.path;
    }
}

TEST(SplitPath, FillsTheGivenBuffersAndSkipsNullOnes)
{
    char path[64] = "old.mas";
    char directory[64] = "#", base[64] = "#", extension[64] = "#";
    EXPECT_EQ(split_path(path, directory, base, extension), 0);
    EXPECT_STREQ(directory, "");
    EXPECT_STREQ(base, "old");
    EXPECT_STREQ(extension, "mas");
    strcpy(path, "C:\\x\\a.b.c\\");
    EXPECT_EQ(split_path(path, directory, nullptr, nullptr), 0);
    EXPECT_STREQ(directory, "C:\\x");
    EXPECT_EQ(split_path(path, nullptr, base, nullptr), 0);
    EXPECT_STREQ(base, "a.b");
    EXPECT_EQ(split_path(path, nullptr, nullptr, extension), 0);
    EXPECT_STREQ(extension, "c");
    strcpy(path, "C:\\x\\old");
    EXPECT_EQ(split_path(path, nullptr, nullptr, extension), 0);
    EXPECT_STREQ(extension, "");
}

TEST(NormalizeSeparators, TurnsSlashesIntoBackslashes)
{
    const NameRow rows[] = {
        {"a/b/c/", "a\\b\\c", nullptr}, {"/", "", nullptr}, {"a\\", "a", nullptr},
        {"a//", "a\\", nullptr},        {"", "", nullptr},  {"C:/x\\y", "C:\\x\\y", nullptr},
    };
    for (const NameRow &row : rows) {
        char path[64];
        strcpy(path, row.path);
        EXPECT_EQ(normalize_separators(path), path);
        EXPECT_STREQ(path, row.result) << row.path;
    }
}

// ---- make_absolute_path ------------------------------------------------------------------

class AbsolutePathTest : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_EQ(os_make_directory("work"), 0);
        ASSERT_EQ(os_make_directory("work\\sub"), 0);
        ASSERT_EQ(os_change_directory("work\\sub"), 0);
        sub = current_directory();
        work = sub.substr(0, sub.rfind('\\'));
        above = work.substr(0, work.rfind('\\'));
    }
    std::string sub, work, above;
};

struct AbsoluteRow {
    const char *path;
    std::string expected;
};

TEST_F(AbsolutePathTest, JoinsRelativePathsToTheCurrentFolder)
{
    const AbsoluteRow rows[] = {
        {"x.lst", sub + "\\x.lst"},
        {".\\x", sub + "\\x"},
        {"..\\x", work + "\\x"},
        {"..\\..\\x", above + "\\x"},
        {"...\\x", above + "\\x"},
        {"\\x", sub + "\\x"},
        {"..", sub + "\\.."},
        {"D:\\y", "D:\\y"},
        {"/y", "/y"},
        {"D:y", sub + "\\D:y"},
        {"a\\..\\b", sub + "\\a\\..\\b"},
        {".\\.\\x", sub + "\\x"},
        {".veh", sub + "\\.veh"},
        {"..\\.\\x", work + "\\x"},
        {"", sub + "\\"},
    };
    for (const AbsoluteRow &row : rows) {
        char out[PATH_BUFFER_SIZE];
        EXPECT_EQ(make_absolute_path(out, row.path), out) << row.path;
        EXPECT_EQ(std::string(out), row.expected) << row.path;
    }
}

TEST_F(AbsolutePathTest, StopsClimbingAtTheRoot)
{
    std::string climb;
    for (int i = 0; i < 60; i++)
        climb += "..\\";
    char out[PATH_BUFFER_SIZE];
    ASSERT_EQ(make_absolute_path(out, (climb + "x").c_str()), out);
    EXPECT_EQ(std::string(out), sub.substr(0, 2) + "\\x");
}

TEST_F(AbsolutePathTest, AtTheRootGivesTwoSeparatorsInARow)
{
    ASSERT_EQ(os_change_directory(sub.substr(0, 3).c_str()), 0);
    char out[PATH_BUFFER_SIZE];
    ASSERT_EQ(make_absolute_path(out, "x"), out);
    EXPECT_EQ(std::string(out), sub.substr(0, 2) + "\\\\x");
}

TEST_F(AbsolutePathTest, ClimbingFromTheRootStaysAtTheRoot)
{
    ASSERT_EQ(os_change_directory(sub.substr(0, 3).c_str()), 0);
    char out[PATH_BUFFER_SIZE];
    ASSERT_EQ(make_absolute_path(out, "..\\x"), out);
    EXPECT_EQ(std::string(out), sub.substr(0, 2) + "\\x");
}

TEST_F(AbsolutePathTest, RefusesResultsThatDoNotFit)
{
    char out[PATH_BUFFER_SIZE];
    // Relative: the result is the current folder, a separator and the name.
    const size_t room = PATH_UNITS_MAX - os_utf16_length(sub.c_str()) - 1;
    const std::string fits(room, 'n'), too_long(room + 1, 'n'), much(1000, 'n');
    ASSERT_EQ(make_absolute_path(out, fits.c_str()), out);
    EXPECT_EQ(strlen(out), (size_t)PATH_UNITS_MAX);
    ASSERT_EQ(make_absolute_path(out, times(E_ACUTE, room).c_str()), out);
    EXPECT_EQ(std::string(out), sub + "\\" + times(E_ACUTE, room));
    EXPECT_EQ(make_absolute_path(out, times(KATAKANA_SO, room + 1).c_str()), nullptr);
    memset(out, '#', sizeof out);
    EXPECT_EQ(make_absolute_path(out, too_long.c_str()), nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(make_absolute_path(out, much.c_str()), nullptr);
    EXPECT_STREQ(out, "");
    // Absolute: copied as it is when it fits.
    const std::string rooted = "D:\\" + std::string(PATH_UNITS_MAX - 3, 'r');
    ASSERT_EQ(make_absolute_path(out, rooted.c_str()), out);
    EXPECT_EQ(std::string(out), rooted);
    memset(out, '#', sizeof out);
    EXPECT_EQ(make_absolute_path(out, (rooted + "r").c_str()), nullptr);
    EXPECT_STREQ(out, "");
}

struct UnitsRow {
    std::string path;
    bool fits;
};

// 255 UTF-16 units fit whatever the script, 256 do not, though a path of 256 units may take
// fewer bytes than one of 255.
TEST(MakeAbsolutePath, CountsTheLimitInUtf16UnitsInEveryCodePage)
{
    const UnitsRow rows[] = {
        {"D:\\" + times(E_ACUTE, PATH_UNITS_MAX - 3), true}, // 507 bytes
        {"D:\\" + times(E_ACUTE, PATH_UNITS_MAX - 2), false},
        {"/" + times(E_ACUTE, PATH_UNITS_MAX - 1), true},         // 509 bytes
        {"D:\\" + times(KATAKANA_SO, PATH_UNITS_MAX - 3), true},  // 759 bytes
        {"D:\\" + times(KANJI_HYO, PATH_UNITS_MAX - 2), false},   // 762 bytes
        {"D:\\" + times(SMILEY, (PATH_UNITS_MAX - 3) / 2), true}, // 2 units each
        {"D:\\" + times(SMILEY, (PATH_UNITS_MAX - 3) / 2) + "x", false},
        {"D:\\" + times(KATAKANA_SO, 300), false}, // more bytes than a path buffer holds
    };
    for (const UnitsRow &row : rows) {
        char out[PATH_BUFFER_SIZE];
        memset(out, '#', sizeof out);
        char *result = make_absolute_path(out, row.path.c_str());
        EXPECT_EQ(result, row.fits ? out : nullptr) << row.path.size() << " bytes";
        EXPECT_EQ(std::string(out), row.fits ? row.path : "") << row.path.size() << " bytes";
    }
}

// ---- search_path_list and locate_file ----------------------------------------------------

// A temporary folder with bin\tool.exe in it; PATH is restored after each test.
class PathSearchTest : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        std::vector<char> value(1 << 16);
        had_path = os_get_environment("PATH", value.data(), (uint32_t)value.size()) >= 0;
        saved_path = value.data();
        ASSERT_EQ(os_make_directory("bin"), 0);
        ASSERT_TRUE(write_file(at("bin\\tool.exe"), "program"));
        bin = at("bin");
    }
    void TearDown() override
    {
        os_set_environment("PATH", had_path ? saved_path.c_str() : nullptr);
        TempFolderTest::TearDown();
    }
    void set_path(const std::string &value)
    {
        ASSERT_EQ(os_set_environment("PATH", value.c_str()), 0);
    }

    bool had_path = false;
    std::string saved_path, bin;
};

TEST_F(PathSearchTest, LocateFileFindsAProgramAlongPath)
{
    set_path("Q:\\nowhere;" + bin);
    char path[PATH_BUFFER_SIZE] = "tool.exe";
    EXPECT_EQ(locate_file(path), path);
    EXPECT_EQ(std::string(path), bin + "\\tool.exe");
}

TEST_F(PathSearchTest, LocateFileMakesAnExistingRelativePathAbsolute)
{
    set_path(bin);
    ASSERT_TRUE(write_file(at("here.exe"), "x"));
    char path[PATH_BUFFER_SIZE] = "here.exe";
    EXPECT_EQ(locate_file(path), path);
    EXPECT_EQ(std::string(path), current_directory() + "\\here.exe");
}

TEST_F(PathSearchTest, LocateFileLeavesTheBufferAloneWhenNothingIsFound)
{
    set_path(bin);
    char path[PATH_BUFFER_SIZE] = "missing.exe";
    EXPECT_EQ(locate_file(path), nullptr);
    EXPECT_STREQ(path, "missing.exe");
    const std::string long_name(PATH_BUFFER_SIZE - 1, 'n');
    strcpy(path, long_name.c_str());
    EXPECT_EQ(locate_file(path), nullptr);
    EXPECT_EQ(std::string(path), long_name);
}

TEST_F(PathSearchTest, SearchPathListAddsNoSecondSeparator)
{
    set_path(bin + "\\");
    char path[PATH_BUFFER_SIZE] = "some\\folder\\tool.exe";
    EXPECT_EQ(search_path_list(path), path);
    EXPECT_EQ(std::string(path), bin + "\\tool.exe");
}

TEST_F(PathSearchTest, SearchPathListSkipsEmptyEntries)
{
    set_path(";;" + bin + ";;");
    char path[PATH_BUFFER_SIZE] = "nothing.exe";
    EXPECT_EQ(search_path_list(path), nullptr);
    // The last candidate tried stays in the buffer; an empty entry would have left
    // "\nothing.exe".
    EXPECT_EQ(std::string(path), bin + "\\nothing.exe");
}

TEST_F(PathSearchTest, SearchPathListGivesExistingPathsBack)
{
    set_path("Q:\\nowhere");
    char path[PATH_BUFFER_SIZE] = "bin";
    EXPECT_EQ(search_path_list(path), path);
    EXPECT_STREQ(path, "bin");
}

TEST_F(PathSearchTest, SearchPathListIgnoresANameEndingInASeparator)
{
    set_path(bin);
    char path[PATH_BUFFER_SIZE] = "missing\\";
    EXPECT_EQ(search_path_list(path), nullptr);
    EXPECT_STREQ(path, "missing\\");
}

TEST_F(PathSearchTest, SearchPathListWithoutPathFindsNothing)
{
    ASSERT_EQ(os_set_environment("PATH", nullptr), 0);
    char path[PATH_BUFFER_SIZE] = "tool.exe";
    EXPECT_EQ(search_path_list(path), nullptr);
    EXPECT_STREQ(path, "tool.exe");
}

TEST_F(PathSearchTest, SearchPathListTakesNamesOfUpTo99Characters)
{
    const std::string name_99(99, 'p'), name_100(100, 'p');
    ASSERT_TRUE(write_file(at("bin\\" + name_99), "x"));
    ASSERT_TRUE(write_file(at("bin\\" + name_100), "x"));
    set_path(bin);
    char path[PATH_BUFFER_SIZE];
    strcpy(path, name_99.c_str());
    EXPECT_EQ(search_path_list(path), path);
    EXPECT_EQ(std::string(path), bin + "\\" + name_99);
    strcpy(path, ("Q:\\" + name_100).c_str());
    EXPECT_EQ(search_path_list(path), nullptr);
    EXPECT_EQ(std::string(path), "Q:\\" + name_100);
    // Counted in UTF-16 units: 99 accented letters (198 bytes) are looked for, 100 are not.
    const std::string accents_99 = times(E_ACUTE, 99), accents_100 = times(E_ACUTE, 100);
    strcpy(path, accents_99.c_str());
    EXPECT_EQ(search_path_list(path), nullptr);
    EXPECT_EQ(std::string(path), bin + "\\" + accents_99) << "the last candidate tried";
    strcpy(path, accents_100.c_str());
    EXPECT_EQ(search_path_list(path), nullptr);
    EXPECT_EQ(std::string(path), accents_100) << "never looked for";
}

TEST_F(PathSearchTest, SearchPathListSkipsEntriesTooLongToJoin)
{
    set_path("Q:\\" + std::string(250, 'e') + ";" + bin);
    char path[PATH_BUFFER_SIZE] = "tool.exe";
    EXPECT_EQ(search_path_list(path), path);
    EXPECT_EQ(std::string(path), bin + "\\tool.exe");
}

// ---- make_directory_tree -----------------------------------------------------------------

class DirectoryTreeTest : public TempFolderTest
{
  protected:
    bool is_directory(const std::string &path)
    {
        OsFileStatus status;
        return os_file_status(path.c_str(), &status) == 0 && status.is_directory;
    }
};

TEST_F(DirectoryTreeTest, CreatesTheMissingLevelsAndKeepsTheCurrentFolder)
{
    ASSERT_EQ(os_make_directory("a"), 0);
    EXPECT_EQ(make_directory_tree(at("a\\b\\c").c_str(), -1), 0);
    EXPECT_TRUE(is_directory(at("a\\b")));
    EXPECT_TRUE(is_directory(at("a\\b\\c")));
    EXPECT_EQ(current_directory(), dir);
    EXPECT_EQ(make_directory_tree(at("a\\b\\c\\").c_str(), 0700), 0);
    EXPECT_EQ(make_directory_tree(at("x\\y\\").c_str(), -1), 0);
    EXPECT_TRUE(is_directory(at("x\\y")));
    EXPECT_EQ(current_directory(), dir);
}

TEST_F(DirectoryTreeTest, FailsWhereALevelIsAFile)
{
    ASSERT_EQ(os_make_directory("a"), 0);
    ASSERT_TRUE(write_file(at("a\\b"), "file"));
    EXPECT_EQ(make_directory_tree(at("a\\b\\c").c_str(), -1), -1);
    EXPECT_EQ(read_file(at("a\\b")), "file");
}

TEST_F(DirectoryTreeTest, FailsOnAnEmptyPath)
{
    EXPECT_EQ(make_directory_tree("", -1), -1);
    EXPECT_EQ(make_directory_tree("\\", -1), -1);
    EXPECT_EQ(current_directory(), dir);
}

TEST_F(DirectoryTreeTest, RefusesPathsOf256CharactersOrMore)
{
    const std::string long_path = at("new\\" + std::string(300, 'l'));
    EXPECT_EQ(make_directory_tree(long_path.c_str(), -1), -1);
    EXPECT_FALSE(is_directory(at("new")));
    const std::string exact = at("new") + "\\" + std::string(255 - at("new").size() - 1, 'l');
    ASSERT_EQ(exact.size(), 255u);
    EXPECT_EQ(make_directory_tree(exact.c_str(), -1), 0);
    EXPECT_TRUE(is_directory(exact));
    EXPECT_EQ(make_directory_tree((exact + "m").c_str(), -1), -1);
    // Counted in UTF-16 units: 255 in Japanese fit, in levels short enough for every file
    // system's limit on a name; 256 do not.
    std::string japanese = at("jp");
    while (os_utf16_length(japanese.c_str()) + 1 + 80 < PATH_UNITS_MAX)
        japanese += "\\" + times(KATAKANA_SO, 80);
    japanese += "\\" + times(KANJI_HYO, PATH_UNITS_MAX - os_utf16_length(japanese.c_str()) - 1);
    ASSERT_EQ(os_utf16_length(japanese.c_str()), (uint32_t)PATH_UNITS_MAX);
    EXPECT_EQ(make_directory_tree((japanese + KANJI_HYO).c_str(), -1), -1);
    EXPECT_FALSE(is_directory(at("jp")));
    EXPECT_EQ(make_directory_tree(japanese.c_str(), -1), 0);
    EXPECT_TRUE(is_directory(japanese));
}

// ---- read_directory_name -----------------------------------------------------------------

// Answers the questions from standard input when this test program runs as the child of
// ReadDirectoryName tests; each answer is printed as "answer <result> [<buffer>]".
TEST(ReadDirectoryNameChild, AnswersFromStandardInput)
{
    char flag[8];
    if (os_get_environment("PATHS_TEST_CHILD", flag, sizeof flag) < 0)
        GTEST_SKIP() << "runs only as the child of the ReadDirectoryName tests";
    for (int i = 0; i < 40; i++) {
        char buffer[PATH_BUFFER_SIZE];
        int result = read_directory_name(buffer);
        printf("answer %d [%s]\n", result, buffer);
        if (result == -1)
            break;
    }
}

class ReadDirectoryNameTest : public TempFolderTest
{
  protected:
    // The answers of a child that reads input, one "result [buffer]" per question.
    std::vector<std::string> answers(const std::string &input)
    {
        EXPECT_EQ(os_set_environment("PATHS_TEST_CHILD", "1"), 0);
        ProgramRun run = run_program(built_program("paths_test"),
                                     "paths_test --gtest_filter=ReadDirectoryNameChild.*", input);
        os_set_environment("PATHS_TEST_CHILD", nullptr);
        EXPECT_EQ(run.started, 1);
        std::vector<std::string> result;
        size_t start = 0;
        for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = run.out.substr(start, end - start);
            if (line.compare(0, 7, "answer ") == 0)
                result.push_back(line.substr(7));
        }
        return result;
    }
};

TEST_F(ReadDirectoryNameTest, CleansEachAnswerAndTellsFolders)
{
    ASSERT_EQ(os_make_directory("My Cars"), 0);
    ASSERT_EQ(os_make_directory("games"), 0);
    ASSERT_TRUE(write_file(at("file.txt"), "x"));
    // A piped line that is not UTF-8 is ANSI text: 0xFC is u with diaeresis in code page
    // 1252, which Windows reads as such (C3 BC inside), 0x81 the same letter in the console's
    // code page 850, which is not taken for it. POSIX passes the bytes unchanged.
    const bool windows = os_program_suffix[0] != '\0';
    const std::string muller = windows ? "M\xc3\xbcller" : "M\xfcller";
    ASSERT_EQ(os_make_directory(muller.c_str()), 0);
    const std::string input = "M\xfcller\\\n"
                              "M\x81ller\n"
                              "\"" +
                              dir +
                              "\\My Cars\\\"\r\n"
                              "\"My Cars\n"
                              "\"My Cars\" trailing\n"
                              "file.txt\n"
                              "missing\n"
                              "\n"
                              "\"\"\n"
                              "  games\n"
                              "games\\\r\n"
                              "games";
    const std::vector<std::string> expected = {
        "1 [" + muller + "]", windows ? "0 [M\xc2\x81ller]" : "0 [M\x81ller]",
        "1 [" + dir + "\\My Cars]",
        "1 [My Cars]",   "1 [My Cars]",   "0 [file.txt]",
        "0 [missing]",   "0 []",          "0 []",
        "0 [  games]",   "1 [games]",     "1 [games]",
        "-1 []",
    };
    EXPECT_EQ(answers(input), expected);
}

TEST_F(ReadDirectoryNameTest, KeepsOneOfTwoTrailingBackslashes)
{
    ASSERT_EQ(os_make_directory("games"), 0);
    std::vector<std::string> got = answers("games\\\\\n");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(got[0].find(' ')), " [games\\]");
    EXPECT_EQ(got[1], "-1 []");
}

// UTF-16 text, as 'cmd /u' writes it without a byte order mark, holds a NUL in every line.
TEST_F(ReadDirectoryNameTest, TellsLinesOfUtf16TextApart)
{
    ASSERT_EQ(os_make_directory("games"), 0);
    const std::string utf16 = std::string("g\0a\0m\0e\0s\0\r\0\n\0", 14);
    const std::vector<std::string> expected = {"1 [games]", "3 [g]", "3 []", "-1 []"};
    EXPECT_EQ(answers("games\n" + utf16), expected);
}

TEST_F(ReadDirectoryNameTest, RefusesLinesLongerThanTheBuffer)
{
    const std::string fits(PATH_UNITS_MAX, 'f');
    const std::string one_over(PATH_UNITS_MAX + 1, 'o');
    const std::string much(5000, 'm');
    ASSERT_EQ(os_make_directory("games"), 0);
    const std::vector<std::string> expected = {
        "0 [" + fits + "]", "2 [" + one_over.substr(1) + "]",
        "1 [games]",        "2 [" + much.substr(0, PATH_UNITS_MAX) + "]",
        "1 [games]",        "-1 []",
    };
    EXPECT_EQ(answers(fits + "\n" + one_over + "\ngames\n" + much + "\r\ngames\n"), expected);
}

// The too-long rule counts UTF-16 units, whatever the script: 255 fit, 256 do not, and a
// too-long line keeps its first 255, never a character cut in two.
TEST_F(ReadDirectoryNameTest, CountsLongLinesInUtf16UnitsInEveryCodePage)
{
    const std::string accents = times(E_ACUTE, PATH_UNITS_MAX);
    const std::string kana = times(KATAKANA_SO, PATH_UNITS_MAX);
    const std::string input = accents + "\n" + accents + E_ACUTE + "\n" + kana + "\n" + kana +
                              "x\n" + kana + times(KATAKANA_SO, 45) + "\n";
    const std::vector<std::string> expected = {
        "0 [" + accents + "]", "2 [" + accents + "]", "0 [" + kana + "]",
        "2 [" + kana + "]",    "2 [" + kana + "]",    "-1 []",
    };
    EXPECT_EQ(answers(input), expected);
}

// Answers saved by Notepad: a UTF-8 mark at the start is skipped. A line of valid UTF-8 is
// taken as it is; a Windows program reads any other line as ANSI (0xFC, u with diaeresis in
// code page 1252, becomes C3 BC), while POSIX passes its bytes unchanged.
TEST_F(ReadDirectoryNameTest, SkipsAUtf8MarkAndTakesPipedUtf8Lines)
{
    const bool windows = os_program_suffix[0] != '\0';
    if (!windows) {
        ASSERT_EQ(os_make_directory("M\xfcller"), 0);
    }
    ASSERT_EQ(os_make_directory("M\xc3\xbcller"), 0);
    const std::string ansi = windows ? "1 [M\xc3\xbcller]" : "1 [M\xfcller]";
    const std::vector<std::string> expected = {"1 [M\xc3\xbcller]", ansi, "-1 []"};
    EXPECT_EQ(answers("\xEF\xBB\xBFM\xc3\xbcller\nM\xfcller\n"), expected);
    // A second mark is a character of the line, taken as it is.
    EXPECT_EQ(answers("\xEF\xBB\xBF\xEF\xBB\xBFgames\n")[0], "0 [\xEF\xBB\xBFgames]")
        << "only the first mark is skipped";
}

TEST_F(ReadDirectoryNameTest, ReportsTheEndOfInput)
{
    EXPECT_EQ(answers(""), std::vector<std::string>{"-1 []"});
}
