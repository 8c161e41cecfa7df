// The car folder of Zandrel's end-to-end tests: the built program and the stand-in archive
// tool installed in a temporary folder, the sample car, and its archive made and extracted
// with the tool itself.
#pragma once

#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "filecopy.h"
#include "os.h"
#include "support.h"
#include "version.h"

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
inline std::string vrl_content(const std::string &id, const std::string &bitmap)
{
    return std::string(500, 'h') + N + id + N + bitmap + N + "tail" + N;
}

struct CarFile {
    std::string name, content;
};

// The sample car: its bitmap, the 20 .VRL files named for 1gt500.mas, and two files no
// job step touches.
inline std::vector<CarFile> sample_car(bool lower_case)
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
inline std::set<std::string> cloned_names()
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

    // The sample car, its new bitmap and the example job, ready to run.
    void make_car_folder()
    {
        install_both();
        make_archive("1gt500.mas", sample_car(false));
        write_new_bitmap();
        ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    }

    std::string tools; // the folder of the built programs
    std::string top;   // the temporary folder itself; dir may lie below it
};
