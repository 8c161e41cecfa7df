// Shared test helpers, written over the OS layer so they work on both targets.
#include "support.h"

#include <stdio.h>

#include <chrono>
#include <thread>
#include <vector>

#include "os.h"
#include "stream.h"

bool write_file(const std::string &path, const std::string &bytes)
{
    Stream *s = stream_open(path.c_str(), "wb");
    if (!s)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), s->file) == bytes.size();
    return stream_close(s) == 0 && ok;
}

std::string read_file(const std::string &path)
{
    Stream *s = stream_open(path.c_str(), "rb");
    if (!s)
        return "<missing>";
    std::string bytes;
    char block[4096];
    size_t n;
    while ((n = fread(block, 1, sizeof block, s->file)) > 0)
        bytes.append(block, n);
    stream_close(s);
    return bytes;
}

std::set<std::string> names_in(const std::string &folder)
{
    std::set<std::string> names;
    OsDirList *list = os_list_open(folder.c_str());
    OsDirEntry entry;
    while (list && os_list_next(list, &entry))
        if (std::string(entry.name) != "." && std::string(entry.name) != "..")
            names.insert(entry.name);
    if (list)
        os_list_close(list);
    return names;
}

void remove_all(const std::string &path)
{
    OsFileStatus status;
    if (os_file_status(path.c_str(), &status) != 0)
        return;
    if (!status.is_directory) {
        os_set_attributes(path.c_str(), 0);
        os_delete_file(path.c_str());
        return;
    }
    for (const std::string &name : names_in(path))
        remove_all(path + "\\" + name);
    os_remove_directory(path.c_str());
}

std::string strip_cr(const std::string &text)
{
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

std::string built_program(const char *base_name)
{
    char self[512];
    if (os_program_path(self, sizeof self) != 0)
        return base_name;
    std::string path = self;
    size_t cut = path.rfind('\\');
    std::string folder = cut == std::string::npos ? "." : path.substr(0, cut);
    return folder + "\\" + base_name + os_program_suffix;
}

bool run_host_tool(const std::string &command)
{
    // Wine may report a Linux program ended before it has, and its exit status loosely: the
    // script's own note of its status, renamed into place once whole, is awaited instead (up
    // to two minutes, which only a program that hangs reaches on a loaded machine).
    const std::string script = "host-tool.sh", done = "host-tool.done";
    if (!write_file(script, command + "\necho $? > " + done + ".part && mv " + done + ".part " +
                                done + "\n"))
        return false;
    // The final dot keeps the Windows build from adding ".EXE" to the name.
    ProgramRun run = run_program("Z:\\bin\\sh.", "sh " + script);
    std::string status = read_file(done);
    for (int k = 0; k < 2400 && run.started && status == "<missing>"; k++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        status = read_file(done);
    }
    os_delete_file(script.c_str());
    os_delete_file(done.c_str());
    return run.started && status == "0\n";
}

namespace
{

// A run of the current test, with the system's reason when it could not be started.
struct NotedRun {
    std::string program, command_line, start_error;
    ProgramRun run;
};

// The last runs of the current test; a test that starts hundreds keeps only these.
const size_t NOTED_RUNS = 4;
std::vector<NotedRun> noted_runs;

void note_run(const std::string &program, const std::string &command_line,
              const std::string &start_error, const ProgramRun &run)
{
    if (noted_runs.size() == NOTED_RUNS)
        noted_runs.erase(noted_runs.begin());
    noted_runs.push_back({program, command_line, start_error, run});
}

// Prints every entry below folder (shown as prefix), a folder's entries after it.
void print_tree(const std::string &folder, const std::string &prefix, int *printed)
{
    const int PRINTED_MAX = 300;
    for (const std::string &name : names_in(folder)) {
        if (++*printed > PRINTED_MAX) {
            if (*printed == PRINTED_MAX + 1)
                printf("  ... (more entries not listed)\n");
            return;
        }
        std::string path = folder + "\\" + name;
        OsFileStatus status;
        if (os_file_status(path.c_str(), &status) != 0) {
            printf("  %s%s (no status)\n", prefix.c_str(), name.c_str());
        } else if (status.is_directory) {
            printf("  %s%s\\\n", prefix.c_str(), name.c_str());
            print_tree(path, prefix + name + "\\", printed);
        } else {
            printf("  %s%s %lu bytes\n", prefix.c_str(), name.c_str(),
                   static_cast<unsigned long>(status.size));
        }
    }
}

} // namespace

void print_failure_account(const std::string &folder)
{
    for (size_t k = 0; k < noted_runs.size(); k++) {
        const NotedRun &noted = noted_runs[k];
        printf("---- run %u of the last %u: %s\n     command line: %s\n",
               static_cast<unsigned>(k + 1), static_cast<unsigned>(noted_runs.size()),
               noted.program.c_str(), noted.command_line.c_str());
        if (!noted.run.started)
            printf("     not started: %s\n", noted.start_error.c_str());
        else
            printf("     exit status %d\n", noted.run.exit_status);
        printf("---- its output:\n%s\n---- its error output:\n%s\n", noted.run.out.c_str(),
               noted.run.err.c_str());
    }
    printf("---- files left in %s:\n", folder.c_str());
    int printed = 0;
    print_tree(folder, "", &printed);
    if (printed == 0)
        printf("  (none)\n");
    printf("----\n");
    fflush(stdout);
}

ProgramRun run_program(const std::string &program, const std::string &command_line,
                       const std::string &input)
{
    char temp[256];
    ProgramRun run = {0, -1, "", ""};
    if (os_make_temp_directory(temp, sizeof temp) != 0) {
        note_run(program, command_line, "no temporary folder for its output", run);
        return run;
    }
    std::string folder = temp;
    std::string in = folder + "\\in.txt", out = folder + "\\out.txt", err = folder + "\\err.txt";
    write_file(in, input);
    int status = -1;
    char reason[256] = "";
    if (os_run_program(program.c_str(), command_line.c_str(), in.c_str(), out.c_str(), err.c_str(),
                       &status) == 0) {
        run.started = 1;
        run.exit_status = status;
    } else {
        os_error_text(reason, sizeof reason);
    }
    run.out = strip_cr(read_file(out));
    run.err = strip_cr(read_file(err));
    remove_all(folder);
    note_run(program, command_line, reason, run);
    return run;
}

void TempFolderTest::SetUp()
{
    noted_runs.clear();
    char buffer[256];
    ASSERT_EQ(os_get_current_directory(buffer, sizeof buffer), 0);
    previous = buffer;
    ASSERT_EQ(os_make_temp_directory(buffer, sizeof buffer), 0);
    dir = buffer;
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
}

void TempFolderTest::TearDown()
{
    if (HasFailure())
        print_failure_account(dir);
    os_change_directory(previous.c_str());
    remove_all(dir);
}

std::string TempFolderTest::at(const std::string &name) const
{
    return dir + "\\" + name;
}
