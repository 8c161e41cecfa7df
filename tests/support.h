// Helpers shared by the tests: a fresh temporary folder per test, whole-file reads and
// writes in binary, and running the built programs with captured output.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

// Writes bytes to path (created or truncated). True on success.
bool write_file(const std::string &path, const std::string &bytes);
// The whole content of path, or "<missing>" when it cannot be read.
std::string read_file(const std::string &path);
// The names of a folder's entries, "." and ".." left out; empty when it cannot be listed.
std::set<std::string> names_in(const std::string &folder);
// Deletes a file or a whole folder tree, without the library's walk.
void remove_all(const std::string &path);
// Text with every CR removed, for comparing console output from either platform.
std::string strip_cr(const std::string &text);

// The path of a program built beside the running test: folder of the test, base name and
// the platform's program suffix.
std::string built_program(const char *base_name);

struct ProgramRun {
    int started;     // 1 when the program ran, 0 when it could not be started
    int exit_status; // as the platform reports it (-1 shows as 255 on Linux)
    std::string out; // standard output, CR removed
    std::string err; // standard error, CR removed
};

// Runs a program in the current folder with a command line and the given standard input.
// The test's last runs are kept for the account of a failed test (print_failure_account).
ProgramRun run_program(const std::string &program, const std::string &command_line,
                       const std::string &input = "");

// For a test that failed: the runs it made last (command line, exit status, the whole
// output and error output) and every file and folder left below folder, with its size.
void print_failure_account(const std::string &folder);

// Runs a Linux tool of /usr/bin (ln, mkfifo, mknod, chmod) in the current folder with a whole
// command line, as another program would change the folder: natively, and under Wine, which
// starts Linux programs too. True when it ran and ended with status 0.
bool run_host_tool(const std::string &command);

// A fixture that makes a fresh temporary folder current for each test and removes it after,
// returning to the folder that was current before. A test that failed first prints its
// failure account of that folder.
class TempFolderTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
    // dir + "\\" + name
    std::string at(const std::string &name) const;

    std::string dir;      // the temporary folder, absolute, Windows form
    std::string previous; // the folder current before the test
};
