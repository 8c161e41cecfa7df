// Zandrel beside a program that opens each new or changed file for a moment, sharing only
// reading, as the antivirus or indexer of every Windows machine does: the moments are waited
// out and every job of the list is made.
#include <chrono>
#include <thread>

#include "background.h"
#include "zandrel_fixture.h"

using ZandrelBesideAScanner = Zandrel;

TEST_F(ZandrelBesideAScanner, MakesEveryJobOfAList)
{
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
    std::string list;
    for (const char *number : {"2", "3", "4"}) {
        ASSERT_TRUE(write_file(at(std::string("bmp\\") + number + "SHGT500.BMP"), "new bitmap"));
        list += std::string("1gt500.mas;") + number + "gt500.mas;1SHGT500;bmp\\" + number +
                "SHGT500;\r\n";
    }
    ASSERT_TRUE(write_file(at("Zandrel.LST"), list));

    intptr_t scanner =
        background_start(built_program("scanner_stand_in"), "scanner_stand_in", at("scanner.out"));
    ASSERT_NE(scanner, -1);
    // Started once the scanner has seen the files already there, at most a minute from now.
    std::string said;
    for (int wait = 0; wait < 1200 && said.find("scanning") == std::string::npos; wait++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        said = read_file(at("scanner.out"));
    }
    ProgramRun run = run_zandrel();
    background_kill(scanner);
    ASSERT_EQ(strip_cr(said), "scanning\n");

    expect_exit_status(run, 0);
    EXPECT_NE(run.out.find("Made 3 of 3 jobs"), std::string::npos) << run.out;
    EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
    EXPECT_EQ(extract("2gt500.mas", "new2"), cloned_names());
    expect_cloned("new2");
    for (const char *number : {"3", "4"})
        EXPECT_EQ(extract(std::string(number) + "gt500.mas", std::string("new") + number).size(),
                  cloned_names().size())
            << number;
}
