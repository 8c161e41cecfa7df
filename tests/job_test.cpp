// Tests of one job's pieces: prefixes, name pair tables, and the jobs refused before the
// archive tool is started.
#include <string.h>

#include <string>

#include "driver.h"
#include "job.h"
#include "os.h"
#include "support.h"

namespace
{

TEST(FormPrefixes, TakesFirstFourAndFirstWithFourthToSixthUpperCased)
{
    struct Row {
        const char *archive, *first, *second;
    } rows[] = {
        {"1gt500.mas", "1GT5", "1500"},
        {"2gt500.mas", "2GT5", "2500"},
        {"cars\\1gt500.mas", "1GT5", "1500"},
        {"ab.mas", "AB.M", "AMAS"},
        {"abcde", "ABCD", "ADE"},
        {"abcd", "ABCD", "AD"},
        {"abc", "ABC", "A"},
        {"a", "A", "A"},
        {"", "", ""},
        {"1\xe9x500.mas", "1\xe9X5", "1500"},
    };
    for (const Row &row : rows) {
        char first[5] = "????", second[5] = "????";
        form_prefixes(row.archive, first, second);
        EXPECT_STREQ(first, row.first) << row.archive;
        EXPECT_STREQ(second, row.second) << row.archive;
    }
}

TEST(UpperCase, ChangesOnlyLettersAToZ)
{
    char text[] = "az AZ 09 \xe9.mas_{}";
    upper_case(text);
    EXPECT_STREQ(text, "AZ AZ 09 \xe9.MAS_{}");
}

struct Tables {
    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    char new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
};

TEST(FillNameTables, PairsNamesWhileBothListsHoldText)
{
    const std::string long_name(32, 'L');
    struct Row {
        std::string old_list, new_list;
        int pairs;
        std::string old0, new0, old1, new1;
    } rows[] = {
        {"A B C", "X Y", 2, "A", "X", "B", "Y"},
        {"A", "X", 1, "A", "X", "", ""},
        {"A", "X Y Z", 1, "A", "X", "", ""},
        {"", "X", 0, "", "", "", ""},
        {"   ", "X", 0, "", "", "", ""},
        {"  A    B ", " X  Y", 2, "A", "X", "B", "Y"},
        {"A " + long_name + " C", "X Y Z", 1, "A", "X", "", ""},
        {"A B", "X " + long_name, 2, "A", "X", "B", ""},
        {"bmp\\A", "new\\X", 1, "bmp\\A", "new\\X", "", ""},
    };
    for (const Row &row : rows) {
        Tables t;
        memset(&t, '?', sizeof t);
        EXPECT_EQ(
            fill_name_tables(row.old_list.c_str(), row.new_list.c_str(), t.old_names, t.new_names),
            row.pairs)
            << row.old_list;
        EXPECT_EQ(t.old_names[0], row.old0) << row.old_list;
        EXPECT_EQ(t.new_names[0], row.new0) << row.old_list;
        EXPECT_EQ(t.old_names[1], row.old1) << row.old_list;
        EXPECT_EQ(t.new_names[1], row.new1) << row.old_list;
        EXPECT_STREQ(t.old_names[NAME_TABLE_ENTRIES - 1], "") << row.old_list;
    }
}

TEST(FillNameTables, KeepsNineteenPairsSoTheTableEnds)
{
    std::string list;
    for (int k = 0; k < 25; k++)
        list += "N" + std::to_string(k) + " ";
    Tables t;
    EXPECT_EQ(fill_name_tables(list.c_str(), list.c_str(), t.old_names, t.new_names), 19);
    EXPECT_STREQ(t.old_names[18], "N18");
    EXPECT_STREQ(t.old_names[19], "");
    EXPECT_STREQ(t.new_names[19], "");
}

TEST(VrlSuffixes, ListTwentyFilesInProcessingOrder)
{
    std::string first, second;
    for (const char *suffix : vrl_suffixes_first)
        first += std::string(suffix) + " ";
    for (const char *suffix : vrl_suffixes_second)
        second += std::string(suffix) + " ";
    EXPECT_EQ(first, "VA VB VC VD VE VW ");
    EXPECT_EQ(second, "BLA BLW EXHA HLA HLW SHAD TLFH TLFM TLRH TLRM TRFH TRFM TRRH TRRM ");
}

TEST(DropLineEnd, CutsOneLfAndThenOneCr)
{
    struct Row {
        const char *line, *expected;
    } rows[] = {
        {"a;b;c;d\n", "a;b;c;d"},
        {"a;b;c;d\r\n", "a;b;c;d"},
        {"a;b;c;d", "a;b;c;d"},
        {"a\r", "a"},
        {"a\n\n", "a\n"},
        {"a\r\r\n", "a\r"},
        {"\n", ""},
        {"", ""},
        {"a\nb", "a\nb"},
    };
    for (const Row &row : rows) {
        char line[32];
        snprintf(line, sizeof line, "%s", row.line);
        drop_line_end(line);
        EXPECT_STREQ(line, row.expected) << row.line;
    }
}

// run_job in a fresh work folder, with its printed lines captured.
class RunJob : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        snprintf(work_folder, sizeof work_folder, "%s", dir.c_str());
    }
    int run(const char *old_mas, const char *new_mas, std::string *out)
    {
        testing::internal::CaptureStdout();
        int result = run_job(old_mas, new_mas, "1SHGT500", "2SHGT500");
        *out = strip_cr(testing::internal::GetCapturedStdout());
        return result;
    }
};

TEST_F(RunJob, RefusesMissingOldArchiveAndCreatesNothing)
{
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "File not found: 1gt500.mas\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

TEST_F(RunJob, RemovesScratchFolderWhenToolIsMissing)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "File not found: MASadelic.exe\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

TEST_F(RunJob, SkipsJobWhileScratchFolderHoldsFiles)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    ASSERT_TRUE(write_file(at("2gt500.mas"), "older copy"));
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    ASSERT_EQ(os_make_directory("tmp"), 0);
    ASSERT_TRUE(write_file(at("tmp\\mine.txt"), "keep me"));
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "Folder '" + dir + "\\tmp' is not empty: move it away, job skipped\n");
    EXPECT_EQ(read_file(at("tmp\\mine.txt")), "keep me");
    EXPECT_EQ(read_file(at("2gt500.mas")), "older copy");
}

TEST_F(RunJob, SkipsJobWhileScratchNameIsAFile)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    ASSERT_TRUE(write_file(at("tmp"), "a file"));
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "'" + dir + "\\tmp' is a file: move it away, job skipped\n");
    EXPECT_EQ(read_file(at("tmp")), "a file");
}

TEST_F(RunJob, RefusesWorkFolderLongerThan245Characters)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    std::string folder = "C:\\" + std::string(243, 'w');
    snprintf(work_folder, sizeof work_folder, "%s", folder.c_str());
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "Work folder too long (245 characters at most): " + folder + "\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

TEST_F(RunJob, AcceptsWorkFolderOf245Characters)
{
    // The job gets as far as the missing archive, past the work folder check.
    snprintf(work_folder, sizeof work_folder, "C:\\%s", std::string(242, 'w').c_str());
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "File not found: 1gt500.mas\n");
}

TEST_F(RunJob, RefusesArchiveNameLongerThan31Characters)
{
    std::string name = std::string(28, 'n') + ".mas";
    ASSERT_TRUE(write_file(at(name), "archive"));
    std::string out;
    EXPECT_EQ(run(name.c_str(), "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "Archive name too long (31 characters at most): " + name + "\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

} // namespace
