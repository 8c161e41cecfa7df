// End-to-end tests of Zandrel: the built program and the stand-in archive tool run in a
// temporary car folder, and the new archive is checked by extracting it again.
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "filecopy.h"
#include "os.h"
#include "support.h"
#include "version.h"

namespace
{

const std::string N(1, '\0');

const char *const FIRST_SUFFIXES[] = {"VA", "VB", "VC", "VD", "VE", "VW"};
const char *const SECOND_SUFFIXES[] = {"BLA",  "BLW",  "EXHA", "HLA",  "HLW",  "SHAD", "TLFH",
                                       "TLFM", "TLRH", "TLRM", "TRFH", "TRFM", "TRRH", "TRRM"};

const char BANNER[] = "\n"
                      "Zandrel - makes a new car from an existing car archive\n"
                      "\n" CARTOOLS_RELEASE_LINE "\n"
                      "\n";

const char HELP[] = "This program use MASadelic by Velkor.  'MASadelic.exe' must be located on\n"
                    "the same folder than Zandrel. Zandrel use the job list 'Zandrel.lst' .\n"
                    "\n"
                    "Syntax of a job:\n"
                    "\n"
                    "        [OLD_MAS];[NEW_MAS];[BMP1 BMP2];[NEW_BMP1 NEW_BMP2];[options]\n"
                    "          ex: 1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d\n"
                    "\n"
                    "Options available:\n"
                    "    d   Delete all new BMPs listed\n"
                    "\n"
                    "You can rename Zandrel.exe and Zandrel.lst, but with the same body: \n"
                    "For example Setup.exe and Setup.lst\n"
                    "\n";

const char EXAMPLE_JOB[] = "1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d\r\n";

// A .VRL file whose bitmap name lies in its last 300 bytes, after a long head.
std::string vrl_content(const std::string &id, const std::string &bitmap)
{
    return std::string(500, 'h') + N + id + N + bitmap + N + "tail" + N;
}

struct CarFile {
    std::string name, content;
};

// The sample car: its bitmap, the 20 .VRL files named for 1gt500.mas, and two files no
// job step touches.
std::vector<CarFile> sample_car(bool lower_case)
{
    std::vector<CarFile> files;
    files.push_back({lower_case ? "1shgt500.bmp" : "1SHGT500.BMP", "old bitmap"});
    for (const char *suffix : FIRST_SUFFIXES)
        files.push_back({std::string("1GT5") + suffix + ".VRL",
                         vrl_content(std::string("1GT5") + suffix, "1SHGT500")});
    for (const char *suffix : SECOND_SUFFIXES)
        files.push_back({std::string("1500") + suffix + ".VRL",
                         vrl_content(std::string("1500") + suffix, "1SHGT500")});
    files.push_back({"1GT5VZ.VRL", vrl_content("1GT5VZ", "1SHGT500")});
    files.push_back({"ENGINE.TXT", "engine data\r\n"});
    if (lower_case)
        for (CarFile &file : files)
            for (char &c : file.name)
                if (c >= 'A' && c <= 'Z')
                    c = (char)(c - 'A' + 'a');
    return files;
}

// What the example job makes of the sample car, in the stored names.
std::set<std::string> cloned_names()
{
    std::set<std::string> names = {"2SHGT500.BMP", "ENGINE.TXT", "1GT5VZ.VRL"};
    for (const char *suffix : FIRST_SUFFIXES)
        names.insert(std::string("2GT5") + suffix + ".VRL");
    for (const char *suffix : SECOND_SUFFIXES)
        names.insert(std::string("2500") + suffix + ".VRL");
    return names;
}

class Zandrel : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        top = dir;
        std::string self = built_program("Zandrel");
        tools = self.substr(0, self.rfind('\\'));
    }
    // A test may work in a folder below the temporary one; the whole tree goes.
    void TearDown() override
    {
        dir = top;
        TempFolderTest::TearDown();
    }

    // Makes a folder of exactly length characters (absolute, Windows form) below the
    // temporary folder, and makes it the car folder of the test.
    void enter_folder_of_length(size_t length)
    {
        ASSERT_GT(length, top.size() + 1);
        std::string folder = top + "\\" + std::string(length - top.size() - 1, 'w');
        ASSERT_EQ(folder.size(), length);
        ASSERT_EQ(os_make_directory(folder.c_str()), 0) << folder;
        ASSERT_EQ(os_change_directory(folder.c_str()), 0) << folder;
        dir = folder;
    }

    // Copies a built program into the car folder under the given file name.
    void install(const std::string &source, const std::string &name)
    {
        ASSERT_EQ(copy_file(source.c_str(), at(name).c_str()), 0) << source;
        ASSERT_EQ(os_make_executable(at(name).c_str()), 0);
    }
    void install_both()
    {
        install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
        install(tools + "\\MASadelic.exe", "MASadelic.exe");
    }

    ProgramRun tool(const std::string &command_line)
    {
        return run_program(at("MASadelic.exe"), command_line);
    }

    // Builds an archive in the car folder from files, with the tool itself.
    void make_archive(const std::string &archive, const std::vector<CarFile> &files)
    {
        std::string folder = at("pack");
        ASSERT_EQ(os_make_directory(folder.c_str()), 0);
        for (const CarFile &file : files)
            ASSERT_TRUE(write_file(folder + "\\" + file.name, file.content));
        ASSERT_EQ(os_change_directory(folder.c_str()), 0);
        ProgramRun create = run_program(at("MASadelic.exe"), "MASadelic -C -m:..\\" + archive);
        os_delete_file("MASBODY.TMP");
        os_delete_file("MASHEAD.TMP");
        ProgramRun add =
            run_program(at("MASadelic.exe"), "MASadelic -A -m:..\\" + archive + " -f:* -i:*");
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        remove_all(folder);
        ASSERT_EQ(create.exit_status, 0) << create.err;
        ASSERT_EQ(add.exit_status, 0) << add.err;
    }

    // The files of an archive, extracted into a fresh folder; names give their content.
    std::set<std::string> extract(const std::string &archive, const std::string &folder)
    {
        ProgramRun run = tool("MASadelic.exe -E -m:" + archive + " -f:* -o:" + folder);
        EXPECT_EQ(run.exit_status, 0) << run.err;
        return names_in(at(folder));
    }

    ProgramRun run_zandrel(const std::string &name = "Zandrel")
    {
        return run_program(at(name + os_program_suffix), name);
    }

    void expect_cloned(const std::string &folder)
    {
        EXPECT_EQ(read_file(at(folder + "\\2SHGT500.BMP")), "new bitmap");
        for (const char *suffix : FIRST_SUFFIXES)
            EXPECT_EQ(read_file(at(folder + "\\2GT5" + suffix + ".VRL")),
                      vrl_content(std::string("1GT5") + suffix, "2SHGT500"))
                << suffix;
        for (const char *suffix : SECOND_SUFFIXES)
            EXPECT_EQ(read_file(at(folder + "\\2500" + suffix + ".VRL")),
                      vrl_content(std::string("1500") + suffix, "2SHGT500"))
                << suffix;
    }

    void expect_exit_status(const ProgramRun &run, int status)
    {
        EXPECT_EQ(run.started, 1);
        EXPECT_TRUE(run.exit_status == status || run.exit_status == (status & 255))
            << run.exit_status;
    }

    void write_new_bitmap()
    {
        ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
        ASSERT_TRUE(write_file(at("bmp\\2SHGT500.BMP"), "new bitmap"));
    }

    std::string tools; // the folder of the built programs
    std::string top;   // the temporary folder itself; dir may lie below it
};

TEST_F(Zandrel, PrintsHelpAndEndsWithMinusOneWithoutJobList)
{
    install_both();
    ProgramRun run = run_zandrel();
    EXPECT_EQ(run.out, std::string(BANNER) + HELP);
    expect_exit_status(run, -1);
}

TEST_F(Zandrel, RequiresTheArchiveTool)
{
    install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
    ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    EXPECT_EQ(run.out,
              std::string(BANNER) + "processing job file: Zandrel.LST\n\nMASadelic.exe required\n");
    expect_exit_status(run, -1);
}

// Every archive named here is missing, so each job ends after its "Creating" line and the
// tool (a stand-in file) is never started.
TEST_F(Zandrel, SplitsJobLinesAndSkipsLinesThatAreNoJob)
{
    install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    const std::string name31(31, 'o'), name32(32, 'o');
    // 254 characters: the first piece of a longer line ends just before "r.mas".
    const std::string piece = "p.mas;q.mas;" + std::string(242, 'x');
    ASSERT_EQ(piece.size(), 254u);
    ASSERT_TRUE(write_file(at("Zandrel.LST"), ";;a.mas;;b.mas;x;y;d\r\n"
                                              "\r\n"
                                              "a.mas\n" +
                                                  name32 + ";c.mas;x;y;\n" + name31 + ";d.mas\r\n" +
                                                  piece +
                                                  "r.mas;s.mas\n"
                                                  "t.mas;u.mas\x1a"
                                                  "v.mas;w.mas\n"));
    ProgramRun run = run_zandrel();
    EXPECT_EQ(run.out, std::string(BANNER) +
                           "processing job file: Zandrel.LST\n\n"
                           "Creating 'b.mas' from 'a.mas' ... \nFile not found: a.mas\n"
                           "Creating 'd.mas' from '" +
                           name31 +
                           "' ... \n"
                           "File not found: " +
                           name31 +
                           "\n"
                           "Creating 'q.mas' from 'p.mas' ... \nFile not found: p.mas\n"
                           "Creating 's.mas' from 'r.mas' ... \nFile not found: r.mas\n"
                           "Creating 'u.mas' from 't.mas' ... \nFile not found: t.mas\n");
    expect_exit_status(run, 0);
    EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
}

TEST_F(Zandrel, ClonesTheHelpTextsExampleJob)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("processing job file: Zandrel.LST\n\n"
                           "Creating '2gt500.mas' from '1gt500.mas' ... \n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
    EXPECT_EQ(os_exists(at("tmp").c_str()), 0);

    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
    expect_cloned("new");
    EXPECT_EQ(read_file(at("new\\1GT5VZ.VRL")), vrl_content("1GT5VZ", "1SHGT500"));
    EXPECT_EQ(read_file(at("new\\ENGINE.TXT")), "engine data\r\n");
    EXPECT_EQ(extract("1gt500.mas", "old").size(), sample_car(false).size());
}

TEST_F(Zandrel, ReplacesAnEarlierNewArchive)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    make_archive("2gt500.mas", {{"STALE.TXT", "from an earlier run"}});
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    expect_exit_status(run_zandrel(), 0);
    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
    EXPECT_FALSE(os_exists(at("2gt500.mas.bak").c_str()));
}

TEST_F(Zandrel, RebuildsAnArchiveInPlaceAndKeepsTheOneItStartedFrom)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    const std::string before = read_file(at("1gt500.mas"));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "1gt500.mas;1GT500.MAS;1SHGT500;bmp\\2SHGT500;\n"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Earlier 1GT500.MAS kept as 1GT500.MAS.bak\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(read_file(at("1GT500.MAS.bak")), before);
    std::set<std::string> names = extract("1gt500.mas", "new");
    EXPECT_EQ(names.count("2SHGT500.BMP"), 1u);
    EXPECT_EQ(names.count("1SHGT500.BMP"), 0u);
    EXPECT_EQ(read_file(at("new\\1GT5VA.VRL")), vrl_content("1GT5VA", "2SHGT500"));
}

TEST_F(Zandrel, ReadsLastFieldWithoutClosingSeparator)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500\r\n"
                                              "1gt500.mas;3gt500.mas;1SHGT500;bmp\\2SHGT500"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
    EXPECT_EQ(extract("2gt500.mas", "new").count("2SHGT500.BMP"), 1u);
    EXPECT_EQ(extract("3gt500.mas", "third").count("2SHGT500.BMP"), 1u);
    EXPECT_EQ(read_file(at("new\\2GT5VA.VRL")), vrl_content("1GT5VA", "2SHGT500"));
}

TEST_F(Zandrel, ReportsMissingArchiveAndGoesOnWithNextLine)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(
        write_file(at("Zandrel.LST"), std::string("none.mas;x.mas;A;B;\r\n") + EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Creating 'x.mas' from 'none.mas' ... \n"
                           "File not found: none.mas\n"
                           "Creating '2gt500.mas' from '1gt500.mas' ... \n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
}

TEST_F(Zandrel, ReportsMissingBitmapAndGoesOn)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), std::string("1gt500.mas;9gt500.mas;1SHGT500;"
                                                          "bmp\\NOPE;\r\n") +
                                                  EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Creating '9gt500.mas' from '1gt500.mas' ... \n"
                           "File not found: bmp\\NOPE.BMP\n"
                           "Creating '2gt500.mas' from '1gt500.mas' ... \n"),
              std::string::npos)
        << run.out;
    std::set<std::string> names = extract("9gt500.mas", "nine");
    EXPECT_EQ(names.count("1SHGT500.BMP"), 0u);
    EXPECT_EQ(names.count("9GT5VA.VRL"), 1u);
    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
}

TEST_F(Zandrel, ReportsMissingVrlFileAndHandlesTheOthers)
{
    install_both();
    std::vector<CarFile> car = sample_car(false);
    std::vector<CarFile> without_vb;
    for (const CarFile &file : car)
        if (file.name != "1GT5VB.VRL")
            without_vb.push_back(file);
    make_archive("1gt500.mas", without_vb);
    write_new_bitmap();
    ASSERT_TRUE(
        write_file(at("Zandrel.LST"), std::string(EXAMPLE_JOB) + "1gt500.mas;3gt500.mas;;;\r\n"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Creating '2gt500.mas' from '1gt500.mas' ... \n"
                           "File not found: 1GT5VB.VRL\n"
                           "Creating '3gt500.mas' from '1gt500.mas' ... \n"
                           "File not found: 1GT5VB.VRL\n"),
              std::string::npos)
        << run.out;
    std::set<std::string> expected = cloned_names();
    expected.erase("2GT5VB.VRL");
    EXPECT_EQ(extract("2gt500.mas", "new"), expected);
    // Empty bitmap lists: every .VRL file renamed, contents unchanged.
    std::set<std::string> third = extract("3gt500.mas", "third");
    EXPECT_EQ(third.count("1SHGT500.BMP"), 1u);
    EXPECT_EQ(read_file(at("third\\3500TRRM.VRL")), vrl_content("1500TRRM", "1SHGT500"));
}

TEST_F(Zandrel, RenamedProgramReadsItsOwnJobList)
{
    install(built_program("Zandrel"), std::string("Setup") + os_program_suffix);
    install(tools + "\\MASadelic.exe", "MASadelic.exe");
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Setup.LST"), EXAMPLE_JOB));
    ProgramRun run = run_zandrel("Setup");
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("processing job file: Setup.LST\n\n"), std::string::npos) << run.out;
    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
}

TEST_F(Zandrel, ReadsJobListNamedInLowerCase)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("zandrel.lst"), EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("processing job file: Zandrel.LST\n\n"), std::string::npos) << run.out;
    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
}

TEST_F(Zandrel, KeepsOldBitmapWhenNewNameIsTooLong)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    std::string long_name(32, 'L');
    ASSERT_TRUE(write_file(at(long_name + ".BMP"), "long"));
    ASSERT_TRUE(
        write_file(at("Zandrel.LST"), "1gt500.mas;2gt500.mas;1SHGT500;" + long_name + ";\n"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("New bitmap name too long (31 characters at most), 1SHGT500.BMP "
                           "kept\n"),
              std::string::npos)
        << run.out;
    std::set<std::string> names = extract("2gt500.mas", "new");
    EXPECT_EQ(names.count("1SHGT500.BMP"), 1u);
    EXPECT_EQ(names.size(), sample_car(false).size());
    EXPECT_EQ(read_file(at("new\\2GT5VA.VRL")), vrl_content("1GT5VA", "1SHGT500"));
}

TEST_F(Zandrel, HandlesArchiveStoredInLowerCase)
{
    install_both();
    make_archive("1gt500.mas", sample_car(true));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
    std::set<std::string> expected = cloned_names();
    expected.erase("1GT5VZ.VRL");
    expected.erase("ENGINE.TXT");
    expected.insert("1gt5vz.vrl");
    expected.insert("engine.txt");
    EXPECT_EQ(extract("2gt500.mas", "new"), expected);
    expect_cloned("new");
}

TEST_F(Zandrel, PatchesInPlaceWhenPrefixesAreEqual)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "1gt500.mas;1gt500b.mas;1SHGT500;bmp\\2SHGT500;\n"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
    std::set<std::string> names = extract("1gt500b.mas", "new");
    EXPECT_EQ(names.size(), sample_car(false).size());
    EXPECT_EQ(read_file(at("new\\1GT5VA.VRL")), vrl_content("1GT5VA", "2SHGT500"));
    EXPECT_EQ(read_file(at("new\\1500TRRM.VRL")), vrl_content("1500TRRM", "2SHGT500"));
}

TEST_F(Zandrel, SaysSoWhenTheArchiveToolCannotStart)
{
    install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not a program"));
    ASSERT_TRUE(write_file(at("1gt500.mas"), "archive"));
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "1gt500.mas;2gt500.mas;;;\n"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Cannot start the archive tool MASAdelic\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Cannot start the archive tool " + dir + "\\MASadelic\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("File not found: 1GT5VA.VRL\n"), std::string::npos) << run.out;
    EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
}

TEST_F(Zandrel, KeepsUserFilesInAnExistingScratchFolder)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
    ASSERT_TRUE(write_file(at("tmp\\notes.txt"), "mine"));
    ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Folder '" + dir + "\\tmp' is not empty: move it away, job skipped\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(read_file(at("tmp\\notes.txt")), "mine");
    EXPECT_EQ(os_exists(at("2gt500.mas").c_str()), 0);
}

// The program path is the work folder, a backslash and the program file's name: "Zandrel.exe"
// on Windows, "Zandrel" natively. Up to 259 characters the system reports it, and the work
// folder's length decides whether jobs run; beyond, the program cannot tell its folder.
enum LongFolderOutcome { CLONES, FOLDER_TOO_LONG, PATH_UNKNOWN };

LongFolderOutcome long_folder_outcome(size_t length)
{
    size_t program_path = length + 1 + strlen("Zandrel") + strlen(os_program_suffix);
    if (program_path > 259)
        return PATH_UNKNOWN;
    return length <= 245 ? CLONES : FOLDER_TOO_LONG;
}

const size_t LONG_FOLDER_LENGTHS[] = {244, 245, 246, 247, 248, 249, 252};

TEST_F(Zandrel, RunsJobsInWorkFoldersUpTo245CharactersAndSaysWhyNotBeyond)
{
    for (size_t length : LONG_FOLDER_LENGTHS) {
        SCOPED_TRACE(length);
        LongFolderOutcome outcome = long_folder_outcome(length);
        // Windows starts no program whose path passes 259 characters.
        if (outcome == PATH_UNKNOWN && os_program_suffix[0] != '\0')
            continue;
        enter_folder_of_length(length);
        install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
        ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
        const std::string listed = std::string(BANNER) + "processing job file: Zandrel.LST\n\n";
        if (outcome == CLONES) {
            install(tools + "\\MASadelic.exe", "MASadelic.exe");
            make_archive("1gt500.mas", sample_car(false));
            write_new_bitmap();
            ProgramRun run = run_zandrel();
            expect_exit_status(run, 0);
            EXPECT_EQ(strip_cr(run.out).substr(0, listed.size()), listed) << run.out;
            EXPECT_NE(run.out.find("Creating '2gt500.mas' from '1gt500.mas' ... \n"),
                      std::string::npos)
                << run.out;
            EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
            EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
        } else {
            ProgramRun run = run_zandrel();
            expect_exit_status(run, -1);
            const std::string why =
                outcome == FOLDER_TOO_LONG
                    ? "Work folder too long (245 characters at most): " + dir + "\n"
                    : "Program path too long (259 characters at most): Zandrel\n";
            EXPECT_EQ(run.out, listed + why);
        }
        EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
        ASSERT_EQ(os_change_directory(top.c_str()), 0);
        dir = top;
    }
}

// The job list's name is held in 64 bytes: base names of up to 59 characters.
TEST_F(Zandrel, ReadsJobListOfA59CharacterNameAndSaysSoForLongerNames)
{
    const struct {
        size_t length;
        bool read;
    } rows[] = {{59, true}, {60, false}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.length);
        const std::string name(row.length, 'n');
        install(built_program("Zandrel"), name + os_program_suffix);
        ASSERT_TRUE(write_file(at(name + ".LST"), ""));
        ProgramRun run = run_zandrel(name);
        if (row.read) {
            EXPECT_EQ(run.out, std::string(BANNER) + "processing job file: " + name +
                                   ".LST\n\nMASadelic.exe required\n");
        } else {
            EXPECT_EQ(run.out, std::string(BANNER) +
                                   "Program name too long for its job list (59 characters at "
                                   "most): " +
                                   name + "\n" + HELP);
        }
        expect_exit_status(run, -1);
    }
}

} // namespace
