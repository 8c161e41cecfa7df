// Tests of one job's pieces: prefixes, name pair tables, and the jobs refused before the
// archive tool is started.
#include <string.h>

#include <string>

#include "code_page.h"
#include "driver.h"
#include "job.h"
#include "os.h"
#include "stream.h"
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
        // Names are UTF-8 on both targets: characters are taken whole, and only ASCII
        // letters change case.
        {"Mxy\xc3\xbc"
         "00.mas",
         "MXY\xc3\xbc",
         "M\xc3\xbc"
         "00"},
        {"\xe2\x82\xac\xf0\x9f\x9a\x97"
         "abcdef.mas",
         "\xe2\x82\xac\xf0\x9f\x9a\x97"
         "AB",
         "\xe2\x82\xac"
         "BCD"},
        {"\xe3\x83\x84gt500.mas", "\xe3\x83\x84GT5",
         "\xe3\x83\x84"
         "500"},
        {"cars\\\xe8\xa1\xa8gt500.mas", "\xe8\xa1\xa8GT5",
         "\xe8\xa1\xa8"
         "500"},
        {"\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88x.mas", "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88X",
         "\xe3\x82\xbdX.M"},
    };
    for (const Row &row : rows) {
        char first[PREFIX_SIZE] = "????", second[PREFIX_SIZE] = "????";
        form_prefixes(row.archive, first, second);
        EXPECT_STREQ(first, row.first) << row.archive;
        EXPECT_STREQ(second, row.second) << row.archive;
    }
}

// Reads the first job of a job list holding bytes, in the test's folder. 1 with *job filled.
int first_job(const std::string &folder, const std::string &bytes, JobFields *job)
{
    std::string path = folder + "\\JOBS.LST";
    EXPECT_TRUE(write_file(path, bytes));
    Stream *stream = stream_open(path.c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    if (!stream)
        return -1;
    JobList list;
    int got = start_job_list(&list, stream, "JOBS.LST") == 0 ? next_job(&list, job) : -1;
    stream_close(stream);
    return got;
}

class NextJobCodePage : public TempFolderTest
{
};

// A line that is not UTF-8 is read in the ANSI code page and converted whole, though each of
// its bytes may take three in UTF-8 (cp932's half-width katakana, cp1252's euro sign); a
// UTF-8 line is taken as it is.
TEST_F(NextJobCodePage, ReadsALineThatIsNotUtf8InTheAnsiCodePageWhole)
{
    const std::string rows[] = {
        "a.mas;b.mas;" + std::string(242, '\xb1'),
        "a.mas;b.mas;" + std::string(242, '\x80'),
        "\x83\x63gt500.mas;\x95\x5c"
        "gt500.mas;1SHGT500;bmp\\\x95\x5c"
        "1",
    };
    for (const std::string &line : rows) {
        JobFields job;
        ASSERT_EQ(first_job(dir, line + "\r\n", &job), 1) << line;
        std::string read = job.old_mas + std::string(";") + job.new_mas + ";" + job.old_bitmaps;
        if (job.new_bitmaps[0] != '\0')
            read += std::string(";") + job.new_bitmaps;
        EXPECT_EQ(read, from_ansi(line));
    }
    const std::string utf8 = "1gt500.mas;2gt500.mas;1SHGT500;bmp\\\xe8\xa1\xa8"
                             "1";
    JobFields job;
    ASSERT_EQ(first_job(dir, utf8 + "\n", &job), 1);
    EXPECT_STREQ(job.new_bitmaps, "bmp\\\xe8\xa1\xa8"
                                  "1");
}

struct Tables {
    char old_names[NAME_TABLE_ENTRIES][NAME_SIZE];
    char new_names[NAME_TABLE_ENTRIES][NAME_SIZE];
};

TEST(FillNameTables, PairsNamesWhileBothListsHoldText)
{
    const std::string long_name(32, 'L');
    const std::string too_long = "Old bitmap name too long (31 characters at most), it and the "
                                 "pairs after it are skipped: " +
                                 long_name + "\n";
    const std::string unpaired = "Bitmap names without a partner in the other list, left out: ";
    struct Row {
        std::string old_list, new_list;
        int pairs;
        std::string old0, new0, old1, new1, said, left_out;
    } rows[] = {
        {"A B C", "X Y", 2, "A", "X", "B", "Y", unpaired + "C\n", "C"},
        {"A", "X", 1, "A", "X", "", "", "", ""},
        {"A", "X Y Z", 1, "A", "X", "", "", unpaired + "Y, Z\n", "Y, Z"},
        {"", "X", 0, "", "", "", "", unpaired + "X\n", "X"},
        {"   ", "X", 0, "", "", "", "", unpaired + "X\n", "X"},
        {"  A    B ", " X  Y", 2, "A", "X", "B", "Y", "", ""},
        {"A " + long_name + " C", "X Y Z", 1, "A", "X", "", "", too_long, long_name + ", C"},
        {"A B", "X " + long_name, 2, "A", "X", "B", "", "", ""},
        {"bmp\\A", "new\\X", 1, "bmp\\A", "new\\X", "", "", "", ""},
        {"a/b", "bmp/X", 1, "a\\b", "bmp\\X", "", "", "", ""},
        {"A B/C", "X", 1, "A", "X", "", "", unpaired + "B\\C\n", "B\\C"},
    };
    for (const Row &row : rows) {
        Tables t;
        memset(&t, '?', sizeof t);
        LeftOut left_out = {0, ""};
        testing::internal::CaptureStdout();
        EXPECT_EQ(fill_name_tables(row.old_list.c_str(), row.new_list.c_str(), t.old_names,
                                   t.new_names, &left_out),
                  row.pairs)
            << row.old_list;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), row.said) << row.old_list;
        EXPECT_EQ(left_out.names, row.left_out) << row.old_list;
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
    LeftOut left_out = {0, ""};
    testing::internal::CaptureStdout();
    EXPECT_EQ(fill_name_tables(list.c_str(), list.c_str(), t.old_names, t.new_names, &left_out),
              19);
    EXPECT_EQ(left_out.count, 6);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "More than 19 bitmap pairs, the pairs from N19 on are skipped\n");
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

// run_job in a fresh work folder, with its printed lines captured.
class RunJob : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        snprintf(work_folder, sizeof work_folder, "%s", dir.c_str());
    }
    int run(const char *old_mas, const char *new_mas, std::string *out,
            const char *old_bitmaps = "1SHGT500", const char *new_bitmaps = "2SHGT500")
    {
        testing::internal::CaptureStdout();
        int result = run_job(old_mas, new_mas, old_bitmaps, new_bitmaps);
        *out = strip_cr(testing::internal::GetCapturedStdout());
        return result;
    }
};

TEST(IsPlainName, AcceptsOnlyOneComponentWithoutDrive)
{
    struct Row {
        const char *name;
        int plain;
    } rows[] = {
        {"1SHGT500", 1}, {"a.b", 1},  {"...", 1}, {".x", 1},  {"", 0},    {".", 0},   {"..", 0},
        {"..\\X", 0},    {"../X", 0}, {"\\X", 0}, {"X\\", 0}, {"C:X", 0}, {"a/b", 0}, {"a:b", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(is_plain_name(row.name), row.plain) << row.name;
}

TEST(DropForeignNames, TakesOutPairsWhoseOldNameIsNoArchiveNameAndKeepsOrder)
{
    Tables t;
    LeftOut left_out = {0, ""};
    ASSERT_EQ(fill_name_tables("A ..\\X B C:Y C", "P Q R S T", t.old_names, t.new_names, &left_out),
              5);
    testing::internal::CaptureStdout();
    EXPECT_EQ(drop_foreign_names(t.old_names, t.new_names, &left_out), 3);
    EXPECT_STREQ(left_out.names, "..\\X, C:Y");
    EXPECT_EQ(strip_cr(testing::internal::GetCapturedStdout()),
              "Old bitmap name is not a name inside the archive, pair skipped: ..\\X\n"
              "Old bitmap name is not a name inside the archive, pair skipped: C:Y\n");
    const char *old_expected[] = {"A", "B", "C", "", "", ""};
    const char *new_expected[] = {"P", "R", "T", "", "", ""};
    for (int k = 0; k < 6; k++) {
        EXPECT_STREQ(t.old_names[k], old_expected[k]) << k;
        EXPECT_STREQ(t.new_names[k], new_expected[k]) << k;
    }
}

TEST(DropForeignNames, LeavesPlainTablesAlone)
{
    Tables t;
    LeftOut left_out = {0, ""};
    ASSERT_EQ(fill_name_tables("A B", "X Y", t.old_names, t.new_names, &left_out), 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(drop_foreign_names(t.old_names, t.new_names, &left_out), 2);
    EXPECT_EQ(left_out.count, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_STREQ(t.old_names[1], "B");
    EXPECT_STREQ(t.new_names[1], "Y");
    EXPECT_STREQ(t.old_names[2], "");
}

std::string repeated(const std::string &text, int count)
{
    std::string result;
    for (int k = 0; k < count; k++)
        result += text;
    return result;
}

// Bitmap names are measured in the bytes of their ANSI form, as the archive tool and the .VRL
// files take them: 31 at most, however many bytes the UTF-8 form inside takes. A name with no
// such form is measured in characters, to be left out on its own account.
TEST(FillNameTablesCodePage, MeasuresNamesInTheBytesOfTheirAnsiForm)
{
    const std::string hyo = "\xe8\xa1\xa8", u = "\xc3\xbc";
    const std::string names[] = {
        repeated(hyo, 15) + "1", repeated(hyo, 16),   repeated(u, 31),
        repeated(u, 32),         "\xe3\x83\x84gt500", "bmp\\" + hyo + "1",
    };
    for (const std::string &name : names) {
        bool fits =
            has_ansi_form(name) ? ansi(name).size() <= 31 : os_utf16_length(name.c_str()) <= 31;
        Tables t;
        LeftOut left_out = {0, ""};
        testing::internal::CaptureStdout();
        EXPECT_EQ(fill_name_tables(name.c_str(), "X", t.old_names, t.new_names, &left_out),
                  fits ? 1 : 0)
            << name;
        std::string said = testing::internal::GetCapturedStdout();
        EXPECT_EQ(t.old_names[0], fits ? name : "") << name;
        EXPECT_EQ(said.find("Old bitmap name too long (31 characters at most)") == 0, !fits)
            << said;
    }
}

// The archive tool and the .VRL files take bitmap names in the ANSI code page: a pair with a
// name that page lacks is left out, never handed over as a look-alike.
TEST(DropForeignNamesCodePage, LeavesOutPairsWithANameTheAnsiCodePageLacks)
{
    // No code page of 1252, 1251 and 932 has the Polish letter; 932 has the Japanese one.
    const std::string s = "\xc5\x9b", hyo = "\xe8\xa1\xa8";
    const std::string old_names[] = {"A", s + "1", "B", hyo + "1"};
    const std::string new_names[] = {"P", "Q", s + "2", "bmp\\" + hyo + "2"};
    Tables t;
    LeftOut left_out = {0, ""};
    std::string old_list, new_list, kept_old, dropped;
    int kept = 0;
    for (int k = 0; k < 4; k++) {
        old_list += old_names[k] + " ";
        new_list += new_names[k] + " ";
        if (has_ansi_form(old_names[k]) && has_ansi_form(new_names[k])) {
            kept_old += old_names[k] + " ";
            kept++;
        } else {
            dropped += (dropped.empty() ? "" : ", ") + old_names[k];
        }
    }
    ASSERT_EQ(
        fill_name_tables(old_list.c_str(), new_list.c_str(), t.old_names, t.new_names, &left_out),
        4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(drop_foreign_names(t.old_names, t.new_names, &left_out), kept);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(left_out.count, 4 - kept);
    EXPECT_EQ(left_out.names, dropped);
    std::string kept_now;
    for (int k = 0; k < kept; k++)
        kept_now += std::string(t.old_names[k]) + " ";
    EXPECT_EQ(kept_now, kept_old);
    EXPECT_STREQ(t.old_names[kept], "");
    size_t lines = 0;
    for (size_t at = said.find("pair left out: "); at != std::string::npos;
         at = said.find("pair left out: ", at + 1))
        lines++;
    EXPECT_EQ(lines, static_cast<size_t>(4 - kept)) << said;
}

TEST_F(RunJob, RefusesMissingOldArchiveAndCreatesNothing)
{
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "File not found: 1gt500.mas\n2gt500.mas not made: 1gt500.mas is missing\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

TEST_F(RunJob, RemovesScratchFolderWhenToolIsMissing)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out,
              "File not found: MASadelic.exe\n2gt500.mas not made: MASadelic.exe is missing\n");
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
    EXPECT_EQ(out, "Folder '" + dir +
                       "\\tmp' is not empty: move it away, job skipped\n"
                       "2gt500.mas not made: the scratch folder tmp is in the way\n");
    EXPECT_EQ(read_file(at("tmp\\mine.txt")), "keep me");
    EXPECT_EQ(read_file(at("2gt500.mas")), "older copy");
}

// A "tmp" a job of this run could not wholly remove (a scanner held a file of it, here a
// read-only file stands in) is cleared by the next job once it can be, and only while it is
// still the very folder that job left.
TEST_F(RunJob, ClearsTheScratchFolderAnEarlierJobOfItsRunLeft)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    const std::string removed =
        "Removed the scratch folder '" + dir + "\\tmp' that an earlier job of this run left\n";
    const std::string no_tool =
        "File not found: MASadelic.exe\n2gt500.mas not made: MASadelic.exe is missing\n";
    const std::string in_the_way = "Folder '" + dir +
                                   "\\tmp' is not empty: move it away, job skipped\n"
                                   "2gt500.mas not made: the scratch folder tmp is in the way\n";
    const struct {
        const char *what;
        bool let_go, replaced;
        std::string out;
        bool tmp_stays;
    } rows[] = {
        {"let go since", true, false, removed + no_tool, false},
        {"still held by another", false, false, in_the_way, true},
        {"another folder in its place", true, true, in_the_way, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(os_make_directory("tmp"), 0);
        ASSERT_TRUE(write_file(at("tmp\\held.txt"), "x"));
        ASSERT_EQ(os_set_attributes("tmp\\held.txt", OS_ATTR_READONLY), 0);
        ASSERT_EQ(remove_scratch_folder(), -1);
        keep_left_scratch_folder();
        ASSERT_EQ(os_set_attributes("tmp\\held.txt", row.let_go ? 0 : OS_ATTR_READONLY), 0);
        bool replaced = false;
        if (row.replaced && os_rename_no_replace("tmp", "moved") == 0) {
            replaced = true;
            ASSERT_EQ(os_make_directory("tmp"), 0);
            ASSERT_TRUE(write_file(at("tmp\\mine.txt"), "keep me"));
        }
        std::string out;
        EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
        // Windows lets no one rename the folder while the run holds it.
        EXPECT_EQ(out, row.replaced && !replaced ? removed + no_tool : row.out);
        EXPECT_EQ(os_exists("tmp"), row.tmp_stays && (replaced || !row.replaced) ? 1 : 0);
        EXPECT_TRUE(!replaced || read_file(at("tmp\\mine.txt")) == "keep me");
        // Once it can go, the hold kept while it could not lets the next try clear it.
        os_set_attributes("tmp\\held.txt", 0);
        testing::internal::CaptureStdout();
        int cleared = clear_left_scratch_folder();
        std::string said = strip_cr(testing::internal::GetCapturedStdout());
        EXPECT_EQ(cleared, !row.let_go ? 1 : 0);
        EXPECT_EQ(said, !row.let_go ? removed : "");
        remove_all(at("tmp"));
        remove_all(at("moved"));
    }
}

TEST_F(RunJob, SkipsJobWhileScratchNameIsAFile)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    ASSERT_TRUE(write_file(at("tmp"), "a file"));
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "'" + dir +
                       "\\tmp' is a file: move it away, job skipped\n"
                       "2gt500.mas not made: the scratch folder tmp is in the way\n");
    EXPECT_EQ(read_file(at("tmp")), "a file");
}

TEST_F(RunJob, RefusesWorkFolderLongerThan245Characters)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    std::string folder = "C:\\" + std::string(243, 'w');
    snprintf(work_folder, sizeof work_folder, "%s", folder.c_str());
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out, "Work folder too long (245 characters at most): " + folder +
                       "\n2gt500.mas not made: the work folder's path is too long\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

// 1 when text holds no byte below 32 but LF and no byte 127: nothing a terminal acts on.
bool only_visible(const std::string &text)
{
    for (char c : text)
        if ((c != '\n' && static_cast<unsigned char>(c) < 32) || c == '\x7f')
            return false;
    return true;
}

// Every line that names the work folder shows its control characters.
TEST_F(RunJob, ShowsControlCharactersOfTheWorkFolder)
{
    std::string out;
    snprintf(work_folder, sizeof work_folder, "C:\\%s\x07", std::string(243, '\x1b').c_str());
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_NE(out.find("C:\\^[^[^["), std::string::npos) << out;
    EXPECT_TRUE(only_visible(out)) << out;
    if (os_program_suffix[0] != '\0')
        GTEST_SKIP() << "Windows names hold no control characters";
    const std::string folder = dir + "\\w\x1b]0;x\x07\x7f", shown = "w^[]0;x^G^?";
    ASSERT_EQ(os_make_directory(folder.c_str()), 0);
    ASSERT_EQ(os_change_directory(folder.c_str()), 0);
    snprintf(work_folder, sizeof work_folder, "%s", folder.c_str());
    ASSERT_TRUE(write_file(folder + "\\1gt500.mas", "archive"));
    ASSERT_TRUE(write_file(folder + "\\MASadelic.exe", "not run"));
    ASSERT_TRUE(write_file(folder + "\\tmp", "a file"));
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_NE(out.find(shown + "\\tmp' is a file"), std::string::npos) << out;
    EXPECT_TRUE(only_visible(out)) << out;
    ASSERT_EQ(os_delete_file("tmp"), 0);
    ASSERT_EQ(os_make_directory("tmp"), 0);
    ASSERT_TRUE(write_file(folder + "\\tmp\\mine.txt", "keep me"));
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_NE(out.find(shown + "\\tmp' is not empty"), std::string::npos) << out;
    EXPECT_TRUE(only_visible(out)) << out;
    remove_all(folder + "\\tmp");
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    os_inject_fault(OS_FAULT_CREATE, 0);
    EXPECT_NE(out.find("Cannot make the scratch folder '"), std::string::npos) << out;
    EXPECT_NE(out.find(shown + "\\tmp': "), std::string::npos) << out;
    EXPECT_TRUE(only_visible(out)) << out;
}

TEST_F(RunJob, AcceptsWorkFolderOf245Characters)
{
    // The job gets as far as the missing archive, past the work folder check.
    snprintf(work_folder, sizeof work_folder, "C:\\%s", std::string(242, 'w').c_str());
    std::string out;
    EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
    EXPECT_EQ(out.substr(0, 27), "File not found: 1gt500.mas\n");
}

// Windows counts a path in UTF-16 units: a work folder of 245 is accepted however many bytes
// its UTF-8 form takes, and one of 246 refused; a character beyond U+FFFF counts two.
TEST_F(RunJob, CountsTheWorkFolderInUtf16Units)
{
    const std::string no = "\xe8\x83\xbd", clef = "\xf0\x9d\x84\x9e";
    const struct {
        std::string folder;
        bool accepted;
    } rows[] = {
        {"C:\\" + repeated(no, 242), true},
        {"C:\\" + repeated(no, 243), false},
        {"C:\\" + repeated(clef, 121), true},
        {"C:\\" + repeated(clef, 121) + "w", false},
    };
    for (const auto &row : rows) {
        snprintf(work_folder, sizeof work_folder, "%s", row.folder.c_str());
        ASSERT_EQ(row.folder, work_folder);
        std::string out;
        EXPECT_EQ(run("1gt500.mas", "2gt500.mas", &out), -1);
        if (row.accepted)
            EXPECT_EQ(out.substr(0, 27), "File not found: 1gt500.mas\n");
        else
            EXPECT_EQ(out.find("Work folder too long (245 characters at most): "), 0u) << out;
    }
}

// run_job where what is said or done follows the ANSI code page.
class RunJobCodePage : public RunJob
{
};

// An archive renamed by its user: the line names the prefixes its .VRL files carry, counted in
// whole characters as the prefixes of a name are (shown as "?" where a pipe's code page
// lacks them).
TEST_F(RunJobCodePage, NamesThePrefixesTheVrlFilesCarryInWholeCharacters)
{
    const std::string ue = "\xc3\x9c";
    ASSERT_EQ(os_make_directory("tmp"), 0);
    ASSERT_TRUE(write_file(at("tmp\\M" + ue + "LLVA.VRL"), "vrl"));
    ASSERT_TRUE(write_file(at("tmp\\M" + ue + "50TRRM.VRL"), "vrl"));
    ASSERT_TRUE(write_file(at("tmp\\M" + ue + "LL5VA.VRL"), "five characters: no prefix"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(old_prefixes_missing("mustang.mas"), 1);
    const std::string head = "mustang.mas holds no .VRL file of its name's prefixes MUST and MTAN; "
                             "its .VRL files carry ",
                      carried = "M" + ue + "LL and M" + ue + "50",
                      tail = ": give the archive the name they were made for\n";
    std::string said = strip_cr(testing::internal::GetCapturedStdout());
    if (has_ansi_form(carried))
        EXPECT_EQ(said, ansi(head + carried + tail));
    else
        EXPECT_EQ(said, head + "M?LL and M?50" + tail);
    remove_all(at("tmp"));
}

// The archive tool gets the archive names in the ANSI code page: one that page lacks is
// refused before anything is made, never handed over as a look-alike.
TEST_F(RunJobCodePage, RefusesAnArchiveNameTheAnsiCodePageLacks)
{
    const std::string name = "Wy\xc5\x9b"
                             "cigi.mas";
    std::string out;
    EXPECT_EQ(run(name.c_str(), "2gt500.mas", &out), -1);
    if (has_ansi_form(name))
        EXPECT_EQ(out, ansi("File not found: " + name + "\n2gt500.mas not made: " + name +
                            " is missing\n"));
    else
        EXPECT_NE(out.find("has no form in this system's ANSI code page\n"), std::string::npos)
            << out;
    EXPECT_EQ(out.find("File not found") == 0, has_ansi_form(name)) << out;
    EXPECT_EQ(os_exists("tmp"), 0);
}

TEST_F(RunJob, RefusesArchiveNameLongerThan31Characters)
{
    std::string name = std::string(28, 'n') + ".mas";
    ASSERT_TRUE(write_file(at(name), "archive"));
    std::string out;
    EXPECT_EQ(run(name.c_str(), "2gt500.mas", &out), -1);
    EXPECT_EQ(out,
              "2gt500.mas not made: archive name too long (31 characters at most): " + name + "\n");
    EXPECT_EQ(os_exists("tmp"), 0);
}

TEST(IsToolSafeName, RefusesWhatTheToolsCommandLineCannotCarry)
{
    struct Row {
        const char *name;
        int safe;
    } rows[] = {
        {"1gt500.mas", 1},
        {"cars\\1gt500.mas", 1},
        {"C:\\cars\\a.mas", 1},
        {"../a.mas", 1},
        {"", 0},
        {"new car.mas", 0},
        {"a.mas\t", 0},
        {"a\".mas", 0},
        {"a<b.mas", 0},
        {"a>b.mas", 0},
        {"a|b.mas", 0},
        {"a?.mas", 0},
        {"*.mas", 0},
        {"a\x01.mas", 0},
        {"b.txt:x.mas", 0},
        {"1:a.mas", 0},
        {"2gt.mas -m:..\\1gt500.mas", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(is_tool_safe_name(row.name), row.safe) << row.name;
}

TEST(IsWorkFolderArchive, AcceptsOnlyMasFilesInsideTheWorkFolder)
{
    struct Row {
        const char *name;
        int inside;
    } rows[] = {
        {"2gt500.mas", 1},
        {"2GT500.MAS", 1},
        {"cars\\2gt.Mas", 1},
        {".\\2gt.mas", 1},
        {"a..b.mas", 1},
        {"tmpx\\a.mas", 1},
        {"..\\outside\\a.mas", 0},
        {"cars\\..\\..\\a.mas", 0},
        {"...\\a.mas", 0},
        {"\\a.mas", 0},
        {"/a.mas", 0},
        {"C:a.mas", 0},
        {"C:\\a.mas", 0},
        {"a.txt", 0},
        {"a.mas.", 0},
        {"a.mas\\", 0},
        {"tmp\\a.mas", 0},
        {"TMP.\\a.mas", 0},
        {".\\tmp\\a.mas", 0},
        {"mas", 0},
        {"nul.mas", 0},
        {"CON.MAS", 0},
        {"lpt1.mas", 0},
        {"aux.x\\a.mas", 0},
        {"com0.mas", 1},
        {"console.mas", 1},
        {"nul1.mas", 1},
        {"CONIN$.mas", 0},
        {"com\xb9.mas", 0},
        {"com\xc2\xb9.mas", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(is_work_folder_archive(row.name), row.inside) << row.name;
}

TEST(NamesADevice, FindsEveryWindowsDeviceNameInAnyComponent)
{
    struct Row {
        const char *path;
        int device;
    } rows[] = {
        {"con", 1},
        {"NUL.mas", 1},
        {"bmp\\COM1", 1},
        {"bmp/lpt9.x", 1},
        {"CONIN$.mas", 1},
        {"conout$", 1},
        {"COM\xb9", 1},
        {"lpt\xb2.mas", 1},
        {"LPT\xb3\\a.mas", 1},
        {"COM\xc2\xb9", 1},
        {"lpt\xc2\xb2.mas", 1},
        {"bmp\\LPT\xc2\xb3", 1},
        {"COM\xc2\xb4", 0},
        {"COM\xc3\xb9", 0},
        {"aux.x\\a.mas", 1},
        {"com0", 0},
        {"COM\xb4", 0},
        {"conin", 0},
        {"conin$x", 0},
        {"console.mas", 0},
        {"bmp\\2SHGT500", 0},
        {"", 0},
        {"nul1.mas", 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(names_a_device(row.path), row.device) << row.path;
}

TEST(NoteLeftOut, CountsEveryPairAndCutsTheNamesWithDotsWhenFull)
{
    LeftOut left_out = {0, ""};
    note_left_out(&left_out, "A");
    note_left_out(&left_out, "B");
    EXPECT_STREQ(left_out.names, "A, B");
    const std::string name(30, 'n');
    for (int k = 0; k < 10; k++)
        note_left_out(&left_out, name.c_str());
    EXPECT_EQ(left_out.count, 12);
    std::string names = left_out.names;
    EXPECT_LT(names.size(), sizeof left_out.names);
    EXPECT_EQ(names.substr(names.size() - 4), " ...");
    note_left_out(&left_out, "C");
    EXPECT_EQ(left_out.names, names);
}

// Names refused before the job touches anything: one line naming NEW_MAS and why.
TEST_F(RunJob, RefusesArchiveNamesBeforeAnythingIsMade)
{
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    ASSERT_EQ(os_make_directory(at("outside").c_str()), 0);
    ASSERT_TRUE(write_file(at("outside\\file.txt"), "the user's file"));
    ASSERT_EQ(os_make_directory(at("car.mas").c_str()), 0);
    struct Row {
        const char *old_mas, *new_mas, *out;
    } rows[] = {
        {"1gt500.mas", "outside\\..\\..\\file.txt",
         "outside\\..\\..\\file.txt not made: a new archive must be a .mas file inside the work "
         "folder\n"},
        {"1gt500.mas", "outside\\file.txt",
         "outside\\file.txt not made: a new archive must be a .mas file inside the work folder\n"},
        {"1gt500.mas", "new car.mas",
         "new car.mas not made: 'new car.mas' holds a blank, a quote or a character a file name "
         "cannot hold\n"},
        {"1gt500.mas -o:x", "2gt.mas",
         "2gt.mas not made: '1gt500.mas -o:x' holds a blank, a quote or a character a file name "
         "cannot hold\n"},
        {"1gt500.mas", "nodir\\2gt.mas",
         "nodir\\2gt.mas not made: the folder nodir does not exist\n"},
        {"1gt500.mas", "outside\\file.txt\\2gt.mas",
         "outside\\file.txt\\2gt.mas not made: the folder outside\\file.txt does not exist\n"},
        {"1gt500.mas", "car.mas", "car.mas not made: a folder of that name is in the way\n"},
        {"con.mas", "2gt.mas",
         "2gt.mas not made: 'con.mas' is the name of a Windows device, not of a file\n"},
        {"1gt500.mas", "CONOUT$.MAS",
         "CONOUT$.MAS not made: 'CONOUT$.MAS' is the name of a Windows device, not of a file\n"},
    };
    for (const Row &row : rows) {
        std::string out;
        EXPECT_EQ(run(row.old_mas, row.new_mas, &out), -1) << row.new_mas;
        EXPECT_EQ(out, row.out);
        EXPECT_EQ(names_in(dir),
                  std::set<std::string>({"1gt500.mas", "MASadelic.exe", "outside", "car.mas"}));
        EXPECT_EQ(read_file(at("outside\\file.txt")), "the user's file");
    }
}

} // namespace
