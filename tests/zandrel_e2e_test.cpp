// End-to-end tests of Zandrel: the built program and the stand-in archive tool run in a
// temporary car folder, and the new archive is checked by extracting it again.
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "code_page.h"
#include "filecopy.h"
#include "os.h"
#include "support.h"
#include "version.h"

#include "zandrel_fixture.h"

namespace
{

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

// The lines of a job whose old archive is missing.
std::string missing(const std::string &old_mas, const std::string &new_mas)
{
    return "Creating '" + new_mas + "' from '" + old_mas + "' ... \nFile not found: " + old_mas +
           "\n" + new_mas + " not made: " + old_mas + " is missing\n";
}

// The line that refuses a comment written as other files write them.
std::string habit(int line)
{
    return "Zandrel.LST line " + std::to_string(line) +
           ": comments stand on lines of their own starting with #, no job run\n";
}

// Job lists as modders write and share them. Every archive named is missing, so each job
// ends at once and the tool (a stand-in file) is never started.
TEST_F(Zandrel, ReadsJobListsAsModdersWriteThem)
{
    install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    const std::string name31(31, 'o'), name32(32, 'o');
    const std::string line254 = "p.mas;q.mas;" + std::string(242, 'x');
    const std::string utf16 = std::string("\xFF\xFE", 2) + std::string("a\0;\0b\0\r\0\n\0", 10);
    const std::string not_text =
        "Zandrel.LST is not plain text: save it as ANSI or UTF-8, no job run\n";
    const struct {
        const char *what;
        std::string list, out;
        int status;
    } rows[] = {
        {"runs of separators", ";;a.mas;;b.mas;x;y;d\r\n", missing("a.mas", "b.mas"), 1},
        {"UTF-8 mark",
         "\xEF\xBB\xBF"
         "a.mas;b.mas;x;y;d\r\n",
         missing("a.mas", "b.mas"), 1},
        {"UTF-16", utf16, not_text, -1},
        {"UTF-16, big-endian mark",
         "\xFE\xFF"
         "a.mas;b.mas\r\n",
         not_text, -1},
        {"NUL after a job", std::string("a.mas;b.mas\r\nc\0d\r\n", 18), not_text, -1},
        {"254 characters", line254 + "\r\nt.mas;u.mas",
         missing("p.mas", "q.mas") + missing("t.mas", "u.mas") +
             "Made 0 of 2 jobs; not made: q.mas (line 1), u.mas (line 2)\n",
         1},
        {"255 characters", line254 + "r.mas;s.mas\nt.mas;u.mas\n",
         "Zandrel.LST line 1 is longer than 254 characters, no job run\n" +
             missing("t.mas", "u.mas") +
             "Made 0 of 1 jobs; not made: u.mas (line 2); lines refused (1): 1\n",
         1},
        {"archive names of 31 and 32 characters", name31 + ";d.mas\r\n" + name32 + ";c.mas;x;y;\n",
         missing(name31, "d.mas") +
             "Zandrel.LST line 2: archive name too long (31 characters at most): " + name32 +
             "\nMade 0 of 1 jobs; not made: d.mas (line 1); lines refused (1): 2\n",
         1},
        {"one field, blank lines", "\r\n \t\r\na.mas\n;;\n",
         "Zandrel.LST line 3 is not a job: no NEW_MAS\nZandrel.LST line 4 is not a job: no "
         "OLD_MAS\nMade 0 of 0 jobs; lines refused (2): 3, 4\n",
         1},
        {"Ctrl-Z at the end", "a.mas;b.mas\r\n\x1a\x1a", missing("a.mas", "b.mas"), 1},
        {"Ctrl-Z in a line", "a.mas;b.mas\r\nt.mas;u.mas\x1av.mas;w.mas\n",
         missing("a.mas", "b.mas") +
             "Zandrel.LST line 2 holds a Ctrl-Z: the list ends there, this line and the rest are "
             "not read\nMade 0 of 1 jobs; not made: b.mas (line 1); lines refused (1): 2\n",
         1},
        {"blanks and tabs", " a.mas ;\tb.mas\t; 1SHGT500 ;bmp\\2SHGT500\t; d\r\n",
         missing("a.mas", "b.mas"), 1},
        {"comments", "# 1gt500.mas;2gt500.mas\r\n \t#x.mas;y.mas\r\n;a.mas;b.mas\r\n",
         missing("a.mas", "b.mas"), 1},
        {"comments only: no job, nothing left undone", "# a.mas;b.mas\r\n\r\n", "", 0},
        {"lone CR line ends", "a.mas;b.mas;x;y;d\rc.mas;d.mas\r\n\re.mas;f.mas\n",
         missing("a.mas", "b.mas") + missing("c.mas", "d.mas") + missing("e.mas", "f.mas") +
             "Made 0 of 3 jobs; not made: b.mas (line 1), d.mas (line 2), f.mas (line 4)\n",
         1},
        {"comments by habit",
         "// a.mas;b.mas\r\nREM a.mas;b.mas\r\nremark.mas;c.mas\r\n"
         "a.mas;b.mas;1SHGT500;bmp\\2SHGT500 # blue\r\na.mas;b.mas;//x;y\r\n"
         "a.mas;d.mas;x;y;d   # blue version\r\n",
         habit(1) + habit(2) + missing("remark.mas", "c.mas") + habit(4) + habit(5) +
             missing("a.mas", "d.mas") +
             "Made 0 of 2 jobs; not made: c.mas (line 3), d.mas (line 6); lines refused (4): 1, "
             "2, 4, 5\n",
         1},
        {"comments as other files write them",
         "; 1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d (done, keep my 2gt500)\r\n"
         ":: a.mas;b.mas\r\n-- a.mas;b.mas\r\n' a.mas;b.mas\r\n/* a.mas;b.mas */\r\n"
         " ;;\ta.mas;b.mas\r\n;c.mas;d.mas\r\n",
         habit(1) + habit(2) + habit(3) + habit(4) + habit(5) + habit(6) +
             missing("c.mas", "d.mas") +
             "Made 0 of 1 jobs; not made: d.mas (line 7); lines refused (6): 1, 2, 3, 4, 5, 6\n",
         1},
        {"every job not made named in the summary",
         "a.mas;b.mas\nc.mas;d.mas\ne.mas;f.mas\ng.mas;h.mas\ni.mas;j.mas\nk.mas;l.mas\n"
         "m.mas;n.mas\n",
         missing("a.mas", "b.mas") + missing("c.mas", "d.mas") + missing("e.mas", "f.mas") +
             missing("g.mas", "h.mas") + missing("i.mas", "j.mas") + missing("k.mas", "l.mas") +
             missing("m.mas", "n.mas") +
             "Made 0 of 7 jobs; not made: b.mas (line 1), d.mas (line 2), f.mas (line 3), "
             "h.mas (line 4), j.mas (line 5), l.mas (line 6), n.mas (line 7)\n",
         1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(write_file(at("Zandrel.LST"), row.list));
        ProgramRun run = run_zandrel();
        EXPECT_EQ(run.out, std::string(BANNER) + "processing job file: Zandrel.LST\n\n" + row.out);
        expect_exit_status(run, row.status);
        EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
    }
}

// Started from another folder, Zandrel reads the job list there and says once where the
// jobs run: in its own folder.
TEST_F(Zandrel, SaysWhereTheJobsRunWhenStartedFromAnotherFolder)
{
    install(built_program("Zandrel"), std::string("Zandrel") + os_program_suffix);
    ASSERT_EQ(os_make_directory(at("car").c_str()), 0);
    ASSERT_TRUE(write_file(at("car\\MASadelic.exe"), "not run"));
    ASSERT_TRUE(write_file(at("car\\Zandrel.LST"), "a.mas;b.mas\r\nc.mas;d.mas\r\n"));
    ASSERT_EQ(os_change_directory(at("car").c_str()), 0);
    ProgramRun run = run_program(at(std::string("Zandrel") + os_program_suffix), "Zandrel");
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    EXPECT_EQ(run.out, std::string(BANNER) + "processing job file: Zandrel.LST\n\n" +
                           "Jobs run in the program's folder: " + dir + "\n" +
                           missing("a.mas", "b.mas") + missing("c.mas", "d.mas") +
                           "Made 0 of 2 jobs; not made: b.mas (line 1), d.mas (line 2)\n");
    // From its own folder it says nothing of the kind.
    ASSERT_TRUE(write_file(at("Zandrel.LST"), ""));
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    EXPECT_EQ(run_zandrel().out, std::string(BANNER) + "processing job file: Zandrel.LST\n\n");
}

TEST_F(Zandrel, ClonesTheHelpTextsExampleJob)
{
    make_car_folder();
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("processing job file: Zandrel.LST\n\n"
                           "Creating '2gt500.mas' from '1gt500.mas' ... \n"
                           "2gt500.mas made: bitmaps replaced 1, .VRL files renamed 20, names "
                           "patched 1\n"),
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

// A job list dropped on the icon arrives as an argument: Zandrel says it reads its own job
// list instead, and runs it as ever; the exit status is that of the jobs.
TEST_F(Zandrel, SaysItReadsNoArgumentsAndRunsItsOwnJobList)
{
    make_car_folder();
    ProgramRun run =
        run_program(at(std::string("Zandrel") + os_program_suffix), "Zandrel C:\\cars\\other.lst");
    expect_exit_status(run, 0);
    EXPECT_EQ(run.out.substr(0, strlen(BANNER)), BANNER);
    EXPECT_NE(run.out.find("Zandrel reads no arguments, C:\\cars\\other.lst ignored: it reads "
                           "the job list Zandrel.LST in " +
                           dir + "\nprocessing job file: Zandrel.LST\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
}

// A line that makes an archive an earlier line read from would destroy the original car:
// it is refused, while chains and in-place jobs go on as ever.
TEST_F(Zandrel, RefusesALineThatWouldOverwriteAnEarlierOldArchive)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    const std::string original = read_file(at("1gt500.mas"));
    const struct {
        const char *what, *list, *said;
        int status;
    } rows[] = {
        {"two archives swapped", "1gt500.mas;2gt500.mas\n2gt500.mas;1gt500.mas\n",
         "1gt500.mas not made: it is the old archive of line 1, which it would overwrite\n"
         "Made 1 of 2 jobs; not made: 1gt500.mas (line 2)\n",
         1},
        {"spelled otherwise", "1gt500.mas;2gt500.mas\n\n2gt500.mas;.\\1GT500.MAS\n",
         "1GT500.MAS not made: it is the old archive of line 1, which it would overwrite\n"
         "Made 1 of 2 jobs; not made: .\\1GT500.MAS (line 3)\n",
         1},
        {"a chain and an in-place job",
         "1gt500.mas;2gt500.mas\n2gt500.mas;3gt500.mas\n3gt500.mas;3gt500.mas\n",
         "Made 3 of 3 jobs\n", 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(write_file(at("Zandrel.LST"), row.list));
        ProgramRun run = run_zandrel();
        expect_exit_status(run, row.status);
        std::string said = row.said;
        EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), said.size())), said);
        EXPECT_EQ(read_file(at("1gt500.mas")), original);
        EXPECT_EQ(os_exists(at("1gt500.mas.bak").c_str()), 0);
        for (const char *made : {"2gt500.mas", "2gt500.mas.bak", "3gt500.mas", "3gt500.mas.bak"})
            os_delete_file(at(made).c_str());
    }
}

// A list saved as UTF-8, as Notepad saves it: the names the user wrote are made, and a bitmap
// read from an accented folder; both builds give the .VRL files the same characters, and say
// that they hold one beyond ASCII. Output sent to a pipe on Windows is in its ANSI code page.
TEST_F(Zandrel, MakesTheNamesAUtf8ListHolds)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    const std::string u = "\xc3\xbc", a = "\xc3\xa4";
    ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
    ASSERT_EQ(os_make_directory(at("bmp\\W" + a + "gen").c_str()), 0);
    ASSERT_TRUE(write_file(at("bmp\\W" + a + "gen\\Gelb500.BMP"), "yellow"));
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "\xef\xbb\xbf"
                                              "1gt500.mas;M\xc3\xbc"
                                              "500x.mas;1SHGT500;bmp\\W\xc3\xa4gen\\Gelb500;\r\n"
                                              "1gt500.mas;\xce\xa9mega.mas;;;\r\n"));
    ProgramRun run = run_zandrel();
    const std::string made = "M" + u + "500x.mas made: bitmaps replaced 1, .VRL files renamed 20";
    EXPECT_NE(run.out.find(ansi(made)), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(ansi("New .VRL names such as M" + u +
                                "50VA.VRL hold a character beyond ASCII: the game may not find "
                                "the car's parts\n")),
              std::string::npos)
        << run.out;
    std::set<std::string> names = extract("M" + u + "500x.mas", "new");
    EXPECT_EQ(names.count("M" + u + "50VA.VRL"), 1u);
    EXPECT_EQ(names.count("M00XBLA.VRL"), 1u);
    EXPECT_EQ(read_file(at("new\\Gelb500.BMP")), "yellow");
    // Omega has no form in code page 1252; a UTF-8 system has it.
    const std::string omega = "\xce\xa9mega.mas";
    if (!has_ansi_form(omega)) {
        // The name reaches a pipe as the page shows what it lacks.
        const std::string head = "Zandrel.LST line 2: ",
                          tail = "mega.mas has no form in this system's ANSI code page, no job run";
        size_t line = run.out.find(head);
        ASSERT_NE(line, std::string::npos) << run.out;
        std::string said = run.out.substr(line, run.out.find('\n', line) - line);
        EXPECT_EQ(said.substr(said.size() - std::min(said.size(), tail.size())), tail) << said;
        expect_exit_status(run, 1);
    } else {
        EXPECT_NE(run.out.find(omega + " made"), std::string::npos) << run.out;
        expect_exit_status(run, 0);
    }
}

// Zandrel's end-to-end cases whose expectations follow the ANSI code page (re-run under
// cp932 and cp1251 on Windows).
class ZandrelCodePage : public Zandrel
{
  protected:
    // The files of an archive whatever its name, extracted under the name "check.mas", so
    // that only Zandrel's own command lines hand the tool names beyond ASCII.
    std::set<std::string> extract_any(const std::string &archive, const std::string &folder)
    {
        EXPECT_EQ(os_rename_no_replace(at(archive).c_str(), at("check.mas").c_str()), 0) << archive;
        std::set<std::string> names = extract("check.mas", folder);
        EXPECT_EQ(os_rename_no_replace(at("check.mas").c_str(), at(archive).c_str()), 0);
        return names;
    }

    // The sample car cloned with the prefixes first and second and the bitmap bitmap.
    static std::set<std::string> cloned_as(const std::string &first, const std::string &second,
                                           const std::string &bitmap)
    {
        std::set<std::string> names = {bitmap + ".BMP", "ENGINE.TXT", "1GT5VZ.VRL"};
        for (const char *suffix : FIRST_SUFFIXES)
            names.insert(first + suffix + ".VRL");
        for (const char *suffix : SECOND_SUFFIXES)
            names.insert(second + suffix + ".VRL");
        return names;
    }

    // The text a .VRL file holds where "1SHGT500" stood: the new bitmap in the game's bytes,
    // padded with NULs.
    static std::string patched_text(const std::string &bitmap)
    {
        std::string text = ansi(bitmap);
        text.resize(8, '\0');
        return text;
    }

    // Makes every folder of path (a Windows path below dir) that is missing.
    void make_folders_of(const std::string &path)
    {
        for (size_t at_separator = path.find('\\'); at_separator != std::string::npos;
             at_separator = path.find('\\', at_separator + 1))
            if (!os_exists(at(path.substr(0, at_separator)).c_str())) {
                ASSERT_EQ(os_make_directory(at(path.substr(0, at_separator)).c_str()), 0) << path;
            }
    }
};

// Names of a Japanese car, whose characters in cp932 end in a byte that is a letter or "\"
// (ツ is 83 63, 表 is 95 5C): the prefixes are the list's own characters, the bitmap keeps
// its name, and the .VRL files get it in the game's bytes. Where the code page lacks them,
// no job runs and nothing is made.
TEST_F(ZandrelCodePage, MakesCarsWhoseNamesHoldDoubleByteCharacters)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    const std::string tsu = "\xe3\x83\x84", hyo = "\xe8\xa1\xa8";
    make_folders_of("bmp\\x");
    ASSERT_TRUE(write_file(at("bmp\\" + hyo + "1.BMP"), "new bitmap"));
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "1gt500.mas;" + tsu + "gt500.mas;1SHGT500;bmp\\" +
                                                  hyo + "1;\r\n" + tsu + "gt500.mas;" + hyo +
                                                  "gt500.mas;;;\r\n"));
    ProgramRun run = run_zandrel();
    if (!has_ansi_form(tsu + hyo)) {
        expect_exit_status(run, 1);
        const std::string refusal = " has no form in this system's ANSI code page, no job run\n";
        size_t refused = 0;
        for (size_t found = run.out.find(refusal); found != std::string::npos;
             found = run.out.find(refusal, found + 1))
            refused++;
        EXPECT_EQ(refused, 2u) << run.out;
        EXPECT_EQ(os_exists(at(tsu + "gt500.mas").c_str()), 0);
        EXPECT_EQ(os_exists(at(hyo + "gt500.mas").c_str()), 0);
        return;
    }
    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find(ansi(tsu + "gt500.mas made: bitmaps replaced 1, .VRL files renamed 20, "
                                      "names patched 1\n")),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(ansi(hyo + "gt500.mas made: bitmaps replaced 0, .VRL files renamed 20, "
                                      "names patched 0\n")),
              std::string::npos)
        << run.out;
    EXPECT_EQ(extract_any(tsu + "gt500.mas", "new"),
              cloned_as(tsu + "GT5", tsu + "500", hyo + "1"));
    EXPECT_EQ(read_file(at("new\\" + hyo + "1.BMP")), "new bitmap");
    EXPECT_EQ(read_file(at("new\\" + tsu + "GT5VA.VRL")),
              vrl_content("1GT5VA", patched_text(hyo + "1")));
    EXPECT_EQ(read_file(at("new\\" + tsu + "500TRRM.VRL")),
              vrl_content("1500TRRM", patched_text(hyo + "1")));
    EXPECT_EQ(extract_any(hyo + "gt500.mas", "newer"),
              cloned_as(hyo + "GT5", hyo + "500", hyo + "1"));
    EXPECT_EQ(read_file(at("newer\\" + hyo + "GT5VW.VRL")),
              vrl_content("1GT5VW", patched_text(hyo + "1")));
}

// A line that is not UTF-8 is read in the ANSI code page: in cp932 bytes it names, on a
// Japanese system, the archive ツgt500.mas and the bitmap bmp\表1 (whose second byte is "\"),
// as a UTF-8 line would; any other code page reads other characters from the same bytes, and
// the job makes what it reads.
TEST_F(ZandrelCodePage, ReadsALineThatIsNotUtf8InTheAnsiCodePage)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    const std::string archive_bytes = "\x83\x63gt500.mas", bitmap_bytes = "bmp\\\x95\x5c"
                                                                          "1";
    const std::string archive = from_ansi(archive_bytes), bitmap = from_ansi(bitmap_bytes);
    const std::string stored = bitmap.substr(bitmap.rfind('\\') + 1);
    make_folders_of(bitmap);
    ASSERT_TRUE(write_file(at(bitmap + ".BMP"), "new bitmap"));
    ASSERT_TRUE(write_file(at("Zandrel.LST"),
                           "1gt500.mas;" + archive_bytes + ";1SHGT500;" + bitmap_bytes + ";\r\n"));
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    std::set<std::string> names = extract_any(archive, "new");
    EXPECT_EQ(read_file(at("new\\" + stored + ".BMP")), "new bitmap") << run.out;
    EXPECT_EQ(names.size(), cloned_names().size());
    const std::string tsu = "\xe3\x83\x84", hyo = "\xe8\xa1\xa8";
    if (archive != tsu + "gt500.mas")
        return;
    EXPECT_EQ(names, cloned_as(tsu + "GT5", tsu + "500", hyo + "1"));
    EXPECT_EQ(read_file(at("new\\" + tsu + "GT5VA.VRL")),
              vrl_content("1GT5VA", patched_text(hyo + "1")));
}

// The work folder may be named in any letters: the tool is started by its path and handed
// only names relative to its folder, so a folder whose name ends in a double-byte character
// of cp932, or holds a letter the ANSI code page lacks (ś), works as any other.
TEST_F(ZandrelCodePage, WorksInFoldersNamedInAnyLetters)
{
    const std::string folders[] = {"\xe8\x83\xbd", "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88",
                                   "end\\\xe8\xa1\xa8",
                                   "Wy\xc5\x9b"
                                   "cigi"};
    for (const std::string &folder : folders) {
        SCOPED_TRACE(folder);
        dir = top;
        make_folders_of(folder + "\\");
        dir = top + "\\" + folder;
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        make_car_folder();
        ProgramRun run = run_zandrel();
        expect_exit_status(run, 0);
        EXPECT_NE(run.out.find("2gt500.mas made: bitmaps replaced 1, .VRL files renamed 20, names "
                               "patched 1\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
        EXPECT_EQ(os_exists(at("tmp.lock").c_str()), 0);
        EXPECT_EQ(extract("2gt500.mas", "new"), cloned_names());
        expect_cloned("new");
        ASSERT_EQ(os_change_directory(top.c_str()), 0);
    }
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
    EXPECT_NE(run.out.find("1GT500.MAS made: bitmaps replaced 1, .VRL files renamed 20, names "
                           "patched 1, the earlier one is kept as 1GT500.MAS.bak\n"),
              std::string::npos)
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
    // Blanks and tabs around fields, and a tab between bitmap names, read alike everywhere.
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500\r\n"
                                              "1gt500.mas ;\t4gt500.mas ; 1SHGT500\tNONE\t;"
                                              "bmp\\2SHGT500\t; d\r\n"
                                              "1gt500.mas;3gt500.mas;1SHGT500;bmp\\2SHGT500"));
    ProgramRun run = run_zandrel();
    // The name NONE has no partner: said, and the job counts as not wholly done.
    expect_exit_status(run, 1);
    EXPECT_NE(run.out.find("Bitmap names without a partner in the other list, left out: NONE\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("4gt500.mas made: bitmaps replaced 1, .VRL files renamed 20, names "
                           "patched 1; 1 of 2 bitmap pairs left out: NONE\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
    // The last line names the job to redo, however far up its own lines are.
    const std::string last =
        "Made 3 of 3 jobs; made with pairs left out (1): 4gt500.mas (line 2)\n";
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last) << run.out;
    EXPECT_EQ(extract("2gt500.mas", "new").count("2SHGT500.BMP"), 1u);
    EXPECT_EQ(extract("3gt500.mas", "third").count("2SHGT500.BMP"), 1u);
    EXPECT_EQ(extract("4gt500.mas", "fourth").count("2SHGT500.BMP"), 1u);
    EXPECT_EQ(read_file(at("fourth\\4GT5VA.VRL")), vrl_content("1GT5VA", "2SHGT500"));
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
    expect_exit_status(run, 1);
    EXPECT_NE(run.out.find(missing("none.mas", "x.mas") +
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
    expect_exit_status(run, 1);
    EXPECT_NE(run.out.find("Creating '9gt500.mas' from '1gt500.mas' ... \n"
                           "File not found: bmp\\NOPE.BMP\n"
                           "9gt500.mas made: bitmaps replaced 0, .VRL files renamed 20, names "
                           "patched 0; 1 of 1 bitmap pairs left out: 1SHGT500\n"
                           "Creating '2gt500.mas' from '1gt500.mas' ... \n"),
              std::string::npos)
        << run.out;
    // The old bitmap stays, and the car still names it.
    std::set<std::string> names = extract("9gt500.mas", "nine");
    EXPECT_EQ(names.count("1SHGT500.BMP"), 1u);
    EXPECT_EQ(read_file(at("nine\\9GT5VA.VRL")), vrl_content("1GT5VA", "1SHGT500"));
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
                           "2gt500.mas made: bitmaps replaced 1, .VRL files renamed 19, names "
                           "patched 1\n"
                           "Creating '3gt500.mas' from '1gt500.mas' ... \n"
                           "File not found: 1GT5VB.VRL\n"
                           "3gt500.mas made: bitmaps replaced 0, .VRL files renamed 19, names "
                           "patched 0\n"),
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
    expect_exit_status(run, 1);
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
    expect_exit_status(run, 1);
    // The system's words for why differ between the platforms.
    const std::string said = "Creating '2gt500.mas' from '1gt500.mas' ... \n"
                             "Cannot start the archive tool MASadelic.exe: ";
    size_t start = run.out.find(said);
    ASSERT_NE(start, std::string::npos) << run.out;
    size_t end = run.out.find('\n', start + said.size());
    ASSERT_NE(end, std::string::npos) << run.out;
    // The system's own reason: a file without the right to run (POSIX), or one that is no
    // program (Windows, where the text's insert for the name must not show).
    std::string why = run.out.substr(start + said.size(), end - start - said.size());
    if (os_program_suffix[0] == '\0') {
        EXPECT_EQ(why, "Permission denied");
    } else {
        // Windows: "... is not a valid Win32 application"; Wine: "Bad EXE format for ...".
        EXPECT_TRUE(why.find("Win32 application") != std::string::npos ||
                    why.find("EXE format") != std::string::npos)
            << why;
        EXPECT_EQ(why.find('%'), std::string::npos) << why;
    }
    EXPECT_EQ(run.out.substr(end + 1),
              "2gt500.mas not made: the archive tool MASadelic.exe could not start\n");
    EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
    EXPECT_EQ(os_exists(at("2gt500.mas").c_str()), 0);
    if (os_program_suffix[0] != '\0')
        return;
    // Allowed to run, the file is still no program the system can start.
    ASSERT_EQ(os_make_executable(at("MASadelic.exe").c_str()), 0);
    run = run_zandrel();
    EXPECT_NE(run.out.find("Cannot start the archive tool MASadelic.exe: Exec format error\n"),
              std::string::npos)
        << run.out;
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
    expect_exit_status(run, 1);
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
                    : "Program path too long (259 characters at most): " + dir + "\\Zandrel\n";
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
