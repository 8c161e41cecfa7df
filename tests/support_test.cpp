// The account a failed test gives of itself: the runs it made last and the files it left.
#include <string>

#include "os.h"
#include "support.h"

namespace
{

class FailureAccount : public TempFolderTest
{
  protected:
    // The account of the temporary folder as print_failure_account prints it.
    std::string account()
    {
        testing::internal::CaptureStdout();
        print_failure_account(dir);
        return testing::internal::GetCapturedStdout();
    }
    std::string tool = built_program("MASadelic");
};

TEST_F(FailureAccount, NamesTheRunWithItsStatusAndWholeOutputAndEveryFileLeft)
{
    ASSERT_TRUE(write_file(at("Zandrel.LST"), "a.mas;b.mas;;;\r\n"));
    ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
    ASSERT_TRUE(write_file(at("tmp\\1GT5VA.VRL"), "vrl"));
    ProgramRun run = run_program(tool, "MASadelic -L -m:nothere.mas");
    ASSERT_EQ(run.started, 1);
    std::string text = account();
    for (const char *said :
         {"command line: MASadelic -L -m:nothere.mas\n", "exit status 2\n",
          "---- its error output:\nMASadelic: cannot open archive 'nothere.mas'\n",
          "  Zandrel.LST 16 bytes\n", "  tmp\\\n", "  tmp\\1GT5VA.VRL 3 bytes\n"})
        EXPECT_NE(text.find(said), std::string::npos) << said << "\nin:\n" << text;
}

TEST_F(FailureAccount, KeepsTheLastFourRunsAndSaysWhenOneCouldNotStart)
{
    for (int k = 1; k <= 5; k++)
        run_program(tool, "MASadelic -L -m:archive" + std::to_string(k) + ".mas");
    ProgramRun lost = run_program(at("missing") + os_program_suffix, "missing");
    EXPECT_EQ(lost.started, 0);
    std::string text = account();
    EXPECT_EQ(text.find("archive1.mas"), std::string::npos) << text;
    EXPECT_EQ(text.find("archive2.mas"), std::string::npos) << text;
    for (const char *said : {"archive3.mas", "archive4.mas", "archive5.mas", "not started: "})
        EXPECT_NE(text.find(said), std::string::npos) << said << "\nin:\n" << text;
    EXPECT_NE(text.find("  (none)\n"), std::string::npos) << text;
}

} // namespace
