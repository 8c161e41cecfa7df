// Pelmora at a terminal (Linux): the built program runs on a pseudo-terminal, so its input is
// a console, and is asked whether to go on after the two answers. Pelmora drops input typed
// ahead of a question, so each answer is typed once the terminal reports that drop (packet
// mode tells the other end of each flush of the program's input), as a user types after the
// prompt: every wait is for what the program does, never for a time.
#include "support.h"

#include <poll.h>
#include <pty.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <string>

#include "os.h"

static const char REFERENCE[] = "DescFile=ref.txt\r\nDescClass=Sport\r\n";
static const char NEW_TEXT[] = "Name=new\r\nDescFile=new.txt\r\n";
static const char UPDATED[] = "DescFile=ref.txt\r\nDescClass=Sport\r\nName=new\r\n";

// How long one wait may last before the run counts as hung: only a guard, never reached by a
// run that works, however loaded the machine.
static const std::chrono::minutes HANG_GUARD(2);

// 'Z:\a\b' as '/a/b'.
static std::string native_path(std::string path)
{
    path = path.substr(2);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    return path;
}

class PelmoraTerminal : public TempFolderTest
{
  protected:
    pid_t child = -1;
    int master = -1;
    std::string screen; // everything the program wrote, with the terminal's echo
    int flushes = 0;    // the flushes of the program's input reported so far
    int typed = 0;      // the answers typed, each after a flush of its own

    void TearDown() override
    {
        if (master >= 0)
            close(master);
        if (child > 0)
            waitpid(child, nullptr, 0);
        TempFolderTest::TearDown();
    }

    // Starts the program on a new terminal whose other end is in packet mode from the first
    // byte on, so that no flush goes unreported.
    void start()
    {
        const std::string program = native_path(built_program("Pelmora"));
        int terminal = -1, on = 1;
        flushes = typed = 0;
        ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(ioctl(master, TIOCPKT, &on), 0);
        child = fork();
        if (child == 0) {
            close(master);
            if (login_tty(terminal) == 0)
                execl(program.c_str(), "Pelmora", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(terminal);
        ASSERT_GT(child, 0);
    }

    // Waits for the next packet of the terminal and takes it in: what the program wrote onto
    // screen, a flush of its input into flushes. False once the program has ended, or at the
    // guard's deadline.
    bool take_packet(std::chrono::steady_clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready = {master, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char bytes[513];
        ssize_t got = read(master, bytes, sizeof bytes);
        if (got <= 0)
            return false;
        if (bytes[0] == TIOCPKT_DATA)
            screen.append(bytes + 1, static_cast<size_t>(got - 1));
        else if (bytes[0] & TIOCPKT_FLUSHREAD)
            flushes++;
        return true;
    }

    // Reads what the program writes until the screen holds text; false when it ends first.
    bool wait_for(const std::string &text)
    {
        const auto deadline = std::chrono::steady_clock::now() + HANG_GUARD;
        while (screen.find(text) == std::string::npos)
            if (!take_packet(deadline))
                return false;
        return true;
    }

    // The question after the answers ref and new.
    std::string question() const
    {
        return "Pelmora will rewrite 1 .veh file in " + at("new") +
               " with the DescFile and DescClass lines of the files in " + at("ref") +
               ".\r\nGo on? (Y or yes to go on, anything else to stop) : ";
    }

    // Types text once the program has dropped what was typed ahead of the question it asks
    // now.
    void type(const std::string &text)
    {
        const auto deadline = std::chrono::steady_clock::now() + HANG_GUARD;
        while (flushes <= typed)
            ASSERT_TRUE(take_packet(deadline)) << "no question waits for " << text << screen;
        typed++;
        ASSERT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // The exit status, once the program has ended.
    int finish()
    {
        wait_for("\x01"); // to the end of the output
        int status = 0;
        waitpid(child, &status, 0);
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// Only y or yes goes on, in either case and with blanks around it; anything else, Enter alone
// and the end of input change nothing. Relative answers are named by their full paths.
TEST_F(PelmoraTerminal, AsksBeforeAnyFileChangesAndGoesOnOnlyOnYes)
{
    const struct {
        const char *typed;
        int goes_on;
    } rows[] = {{"y\r", 1},    {"Y\r", 1},          {" y\r", 1}, {"YeS \t\r", 1},
                {"yes\r", 1},  {"\r", 0},           {"n\r", 0},  {"y y\r", 0},
                {"yess\r", 0}, {"yes      x\r", 0}, {"\x04", 0}};
    ASSERT_EQ(os_make_directory(at("ref").c_str()), 0);
    ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.typed);
        ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
        ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
        ASSERT_TRUE(write_file(at("new\\van.veh"), NEW_TEXT)); // no reference: not counted
        screen.clear();
        start();
        ASSERT_TRUE(wait_for("ref dir : ")) << screen;
        type("ref\r");
        ASSERT_TRUE(wait_for("new dir : ")) << screen;
        type("new\\\r");
        ASSERT_TRUE(wait_for(question())) << screen;
        EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT) << "changed before the answer";
        type(row.typed);
        const int status = finish();
        EXPECT_EQ(status, row.goes_on ? 0 : 1) << screen;
        EXPECT_EQ(read_file(at("new\\car.veh")), row.goes_on ? UPDATED : NEW_TEXT) << screen;
        EXPECT_EQ(screen.find("Stopped: nothing changed.") != std::string::npos, !row.goes_on)
            << screen;
        close(master);
        master = -1;
    }
}

// A Pelmora that waits at its question holds its folders (ref shared, new exclusive): a
// second run that would write what it reads, or read what it writes, stops at once with one
// line; one that only reads the same reference runs. The first then goes on when told.
TEST_F(PelmoraTerminal, HoldsItsFoldersWhileTheQuestionWaits)
{
    const struct {
        const char *reference, *folder; // the second run's answers
        const char *stopped;            // the folder its line names, "" when it runs
        const char *line;
    } rows[] = {
        {"ref", "new", "new", "Another Pelmora is working in %s; nothing changed.\n"},
        {"new", "ref", "ref", "Another Pelmora is working in %s; nothing changed.\n"},
        {"new", "other", "new",
         "Another Pelmora is working in the reference folder %s; nothing changed.\n"},
        {"other", "ref", "ref", "Another Pelmora is working in %s; nothing changed.\n"},
        {"ref", "other", "", ""},
    };
    for (const char *name : {"ref", "new", "other"})
        ASSERT_EQ(os_make_directory(at(name).c_str()), 0);
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.reference) + " / " + row.folder);
        for (const char *name : {"new", "other"})
            ASSERT_TRUE(write_file(at(name) + "\\car.veh", NEW_TEXT));
        ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
        screen.clear();
        start();
        ASSERT_TRUE(wait_for("ref dir : ")) << screen;
        type("ref\r");
        ASSERT_TRUE(wait_for("new dir : ")) << screen;
        type("new\r");
        ASSERT_TRUE(wait_for(question())) << screen;
        ProgramRun second = run_program(built_program("Pelmora"), "Pelmora",
                                        at(row.reference) + "\n" + at(row.folder) + "\n");
        if (row.stopped[0]) {
            char line[512];
            snprintf(line, sizeof line, row.line, at(row.stopped).c_str());
            // The crossed run stops at the first of its folders in the order of identities.
            OsFolderId ref, folder;
            ASSERT_EQ(os_folder_id(at("ref").c_str(), &ref), 0);
            ASSERT_EQ(os_folder_id(at("new").c_str(), &folder), 0);
            if (strcmp(row.folder, "ref") == 0 && os_compare_folder_ids(&ref, &folder) > 0)
                snprintf(line, sizeof line,
                         "Another Pelmora is working in the reference folder %s; nothing "
                         "changed.\n",
                         at("new").c_str());
            EXPECT_EQ(second.out.substr(second.out.find("new dir : ") + 10), line);
            EXPECT_EQ(second.exit_status, 1);
            EXPECT_EQ(read_file(at(row.folder) + "\\car.veh"),
                      strcmp(row.folder, "ref") == 0 ? REFERENCE : NEW_TEXT);
        } else {
            EXPECT_EQ(second.exit_status, 0) << second.out;
            EXPECT_EQ(read_file(at("other\\car.veh")), UPDATED);
        }
        type("y\r");
        EXPECT_EQ(finish(), 0) << screen;
        EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
        EXPECT_EQ(read_file(at("ref\\car.veh")), REFERENCE);
        close(master);
        master = -1;
    }
}
