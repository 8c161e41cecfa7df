// Fault sweeps over whole jobs: each operation of one kind fails in turn, or one call of the
// archive tool fails, and after every run each file the user had is still on disk, under its
// own name or under a name that the job's output gave.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver.h"
#include "filecopy.h"
#include "job.h"
#include "os.h"
#include "stream.h"
#include "support.h"

namespace
{

const std::string N(1, '\0');
const char TOOL[] = "MASadelic.exe";
const char JOB_LIST[] = "Zandrel.LST";
const char NEW_BITMAP[] = "bmp\\2SHGT500.BMP";
const int SWEEP_BOUND = 200;

struct Scenario {
    const char *what;
    const char *old_mas, *new_mas;
    bool in_place;    // OLD_MAS and NEW_MAS name one file
    bool earlier_new; // an earlier, different NEW_MAS lies in the work folder
};

const Scenario SCENARIOS[] = {
    {"in place", "1gt500.mas", "1gt500.mas", true, false},
    {"in place, other case", "1gt500.mas", "1GT500.MAS", true, false},
    {"to a new name", "1gt500.mas", "2gt500.mas", false, false},
    {"over an earlier new archive", "1gt500.mas", "2gt500.mas", false, true},
};

struct FaultKind {
    int kind;
    const char *name;
};
const FaultKind FAULT_KINDS[] = {{OS_FAULT_WRITE, "write"},   {OS_FAULT_RENAME, "rename"},
                                 {OS_FAULT_DELETE, "delete"}, {OS_FAULT_CREATE, "create"},
                                 {OS_FAULT_START, "start"},   {OS_FAULT_READ, "read"}};
const char *const TOOL_FAILURES[] = {"E:refuse", "E:crash",  "C:refuse",
                                     "C:crash",  "A:refuse", "A:crash"};

struct CarFile {
    std::string name, content;
};

// A small car: its bitmap, one .VRL file of each suffix list and a file no step touches.
// The other 18 .VRL files are missing, which the job reports and goes on.
std::vector<CarFile> small_car()
{
    std::string head(400, 'h');
    return {{"1SHGT500.BMP", "old bitmap"},
            {"1GT5VA.VRL", head + N + "1SHGT500" + N + "tail" + N},
            {"1500BLA.VRL", head + N + "1SHGT500" + N},
            {"ENGINE.TXT", "engine data\r\n"}};
}

uint32_t get_u32(const std::string &bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--)
        value = value << 8 | (unsigned char)bytes[at + i];
    return value;
}

// The names stored in an archive of the stand-in's format; false when it is not well formed.
bool archive_names(const std::string &bytes, std::set<std::string> *names)
{
    if (bytes.size() < 14 || bytes.compare(0, 10, "MASSTAND1\n") != 0)
        return false;
    uint32_t count = get_u32(bytes, 10);
    size_t at = 14;
    for (uint32_t i = 0; i < count; i++) {
        if (at >= bytes.size())
            return false;
        size_t length = (unsigned char)bytes[at++];
        if (length == 0 || bytes.size() - at < length + 4)
            return false;
        names->insert(bytes.substr(at, length));
        at += length;
        uint32_t size = get_u32(bytes, at);
        at += 4;
        if (bytes.size() - at < size)
            return false;
        at += size;
    }
    return at == bytes.size();
}

// The outcome of a job: its output's last line, which must name NEW_MAS first, and its
// one line of that form. "" when the output breaks that rule.
std::string outcome_of(const std::string &out, const std::string &new_mas)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::string outcome;
    for (const char *word : {" made: ", " not made: ", " may be incomplete: "})
        if (!lines.empty() && lines.back().rfind(new_mas + word, 0) == 0)
            outcome = word;
    for (size_t i = 0; i + 1 < lines.size(); i++)
        if (lines[i].rfind(new_mas + " made: ", 0) == 0 ||
            lines[i].rfind(new_mas + " not made: ", 0) == 0 ||
            lines[i].rfind(new_mas + " may be incomplete: ", 0) == 0)
            return "";
    return outcome;
}

// The words of the job's output, a trailing comma cut: the names it gave.
std::vector<std::string> words_of(const std::string &out)
{
    std::vector<std::string> words;
    std::istringstream in(out);
    std::string word;
    while (in >> word) {
        if (word.back() == ',')
            word.pop_back();
        words.push_back(word);
    }
    return words;
}

class ZandrelSweep : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        install_tool();
        old_archive = pack(small_car());
        earlier_archive = pack({{"STALE.TXT", "from an earlier run"}});
        ASSERT_FALSE(old_archive.empty());
        ASSERT_FALSE(earlier_archive.empty());
        snprintf(work_folder, sizeof work_folder, "%s", dir.c_str());
    }
    void TearDown() override
    {
        for (int kind = 0; kind < OS_FAULT_KINDS; kind++)
            os_inject_fault(kind, 0);
        os_set_environment("MASADELIC_FAIL", nullptr);
        TempFolderTest::TearDown();
    }

    void install_tool()
    {
        std::string any = built_program("x");
        std::string tool = any.substr(0, any.rfind('\\')) + "\\" + TOOL;
        ASSERT_EQ(copy_file(tool.c_str(), at(TOOL).c_str()), 0) << tool;
        ASSERT_EQ(os_make_executable(at(TOOL).c_str()), 0);
    }

    // An archive of the files, packed by the tool the way Zandrel packs; its bytes.
    std::string pack(const std::vector<CarFile> &files)
    {
        EXPECT_EQ(os_make_directory("pack"), 0);
        for (const CarFile &file : files)
            EXPECT_TRUE(write_file(at("pack\\" + file.name), file.content));
        EXPECT_EQ(os_change_directory("pack"), 0);
        ProgramRun create = run_program(at(TOOL), "MASadelic -C -m:..\\packed.mas");
        os_delete_file("MASBODY.TMP");
        os_delete_file("MASHEAD.TMP");
        ProgramRun add = run_program(at(TOOL), "MASadelic -A -m:..\\packed.mas -f:* -i:*");
        EXPECT_EQ(os_change_directory(dir.c_str()), 0);
        EXPECT_EQ(create.exit_status, 0) << create.err;
        EXPECT_EQ(add.exit_status, 0) << add.err;
        std::string bytes = read_file(at("packed.mas"));
        remove_all(at("pack"));
        remove_all(at("packed.mas"));
        return bytes;
    }

    // What the user has before the job, the tool file apart.
    std::vector<CarFile> user_files(const Scenario &scenario)
    {
        std::vector<CarFile> files = {{scenario.old_mas, old_archive},
                                      {NEW_BITMAP, "new bitmap"},
                                      {JOB_LIST, std::string(scenario.old_mas) + ";" +
                                                     scenario.new_mas +
                                                     ";1SHGT500;bmp\\2SHGT500;d\r\n"}};
        if (scenario.earlier_new)
            files.push_back({scenario.new_mas, earlier_archive});
        return files;
    }

    // Empties the work folder but for the tool.
    void clear()
    {
        for (const std::string &name : names_in(dir))
            if (name != TOOL)
                remove_all(at(name));
    }

    // Empties the work folder but for the tool and lays out the user's files again.
    void lay_out(const Scenario &scenario)
    {
        clear();
        ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
        for (const CarFile &file : user_files(scenario))
            ASSERT_TRUE(write_file(at(file.name), file.content));
    }

    // Runs the scenario's job with the nth operation of kind failing (kind -1: none) and the
    // tool failing as tool_failure says (null: not). Result: 1 when the fault never fired.
    int run(const Scenario &scenario, int kind, int n, const char *tool_failure, std::string *out)
    {
        lay_out(scenario);
        if (kind >= 0)
            os_inject_fault(kind, n);
        job(scenario.old_mas, scenario.new_mas, "1SHGT500", "bmp\\2SHGT500", tool_failure, out);
        int unmet = kind >= 0 && os_fault_armed(kind);
        if (kind >= 0)
            os_inject_fault(kind, 0);
        return unmet;
    }

    // Runs one job in the work folder as it stands, the tool failing as tool_failure says
    // (null: not). Result: run_job's; its output in *out.
    int job(const char *old_mas, const char *new_mas, const char *old_bitmaps,
            const char *new_bitmaps, const char *tool_failure, std::string *out)
    {
        EXPECT_EQ(os_change_directory(dir.c_str()), 0);
        if (tool_failure) {
            EXPECT_EQ(os_set_environment("MASADELIC_FAIL", tool_failure), 0);
        }
        testing::internal::CaptureStdout();
        int result = run_job(old_mas, new_mas, old_bitmaps, new_bitmaps);
        *out = strip_cr(testing::internal::GetCapturedStdout());
        os_set_environment("MASADELIC_FAIL", nullptr);
        os_change_directory(dir.c_str());
        return result;
    }

    // The files of an archive, extracted by the tool into a new folder of the given name.
    std::set<std::string> extract(const std::string &archive, const std::string &folder)
    {
        ProgramRun run =
            run_program(at(TOOL), "MASadelic.exe -E -m:" + archive + " -f:* -o:" + folder);
        EXPECT_EQ(run.exit_status, 0) << run.err;
        return names_in(at(folder));
    }

    // 1 when NEW_MAS is a whole new archive of the job: well formed, with every name the
    // job stores (a leftover file that could not be deleted may come along); its bitmap is
    // the new one, or the old one when the job left its pair out.
    int holds_new_archive(const Scenario &scenario, const char *bitmap = "2SHGT500.BMP")
    {
        std::set<std::string> names;
        if (!archive_names(read_file(at(scenario.new_mas)), &names))
            return 0;
        char first[PREFIX_SIZE], second[PREFIX_SIZE];
        form_prefixes(scenario.new_mas, first, second);
        std::set<std::string> wanted = {bitmap, "ENGINE.TXT", std::string(first) + "VA.VRL",
                                        std::string(second) + "BLA.VRL"};
        for (const std::string &name : wanted)
            if (names.count(name) == 0)
                return 0;
        return 1;
    }

    // 1 when the file's content is on disk under its own name or a name of the output.
    int kept(const CarFile &file, const std::string &out)
    {
        if (read_file(at(file.name)) == file.content)
            return 1;
        for (const std::string &word : words_of(out))
            if (read_file(at(word)) == file.content)
                return 1;
        return 0;
    }

    // Every file the user had is kept; an earlier NEW_MAS may also have given way to a whole
    // new archive, as the job asks. The job ends with one line on NEW_MAS, and "made" only
    // for a whole new archive.
    void expect_nothing_lost(const Scenario &scenario, const std::string &out)
    {
        EXPECT_TRUE(os_exists(TOOL));
        std::string outcome = outcome_of(out, scenario.new_mas);
        EXPECT_NE(outcome, "") << out;
        if (outcome == " made: ") {
            bool left_out = out.find("1 of 1 bitmap pairs left out: 1SHGT500") != std::string::npos;
            EXPECT_TRUE(holds_new_archive(scenario, left_out ? "1SHGT500.BMP" : "2SHGT500.BMP"))
                << out;
        }
        for (const CarFile &file : user_files(scenario)) {
            bool found = kept(file, out);
            bool replaced = scenario.earlier_new && file.content == earlier_archive &&
                            holds_new_archive(scenario);
            EXPECT_TRUE(found || replaced) << file.name << " lost; the job said:\n" << out;
        }
    }

    // Walks n = 1, 2, ... for one kind until a run meets no fault. Result: the failure
    // points walked, or -1 when the bound was reached.
    int sweep(const Scenario &scenario, const FaultKind &fault)
    {
        for (int n = 1; n <= SWEEP_BOUND; n++) {
            SCOPED_TRACE(std::string(scenario.what) + ", " + fault.name + " fault " +
                         std::to_string(n));
            std::string out;
            int unmet = run(scenario, fault.kind, n, nullptr, &out);
            expect_nothing_lost(scenario, out);
            if (unmet)
                return n - 1;
        }
        return -1;
    }

    void sweep_every_kind(const Scenario &scenario)
    {
        std::string counts;
        for (const FaultKind &fault : FAULT_KINDS) {
            int walked = sweep(scenario, fault);
            EXPECT_GE(walked, 1) << scenario.what << ", " << fault.name;
            counts += std::string(" ") + fault.name + "=" + std::to_string(walked);
            RecordProperty(fault.name, walked);
        }
        printf("failure points walked, %s:%s\n", scenario.what, counts.c_str());
    }

    std::string old_archive, earlier_archive;
};

// Records the names of the files flushed to the disk, in order.
static void note_flush(const char *path, void *context)
{
    static_cast<std::vector<std::string> *>(context)->push_back(path);
}

TEST_F(ZandrelSweep, FaultFreeJobsBuildTheNewArchiveAndSettleTheEarlierOne)
{
    for (const Scenario &scenario : SCENARIOS) {
        SCOPED_TRACE(scenario.what);
        std::string out;
        std::vector<std::string> flushed;
        os_observe_flushes(note_flush, &flushed);
        run(scenario, -1, 0, nullptr, &out);
        os_observe_flushes(nullptr, nullptr);
        // The earlier archive goes only once the new one is on the disk.
        if (scenario.earlier_new) {
            EXPECT_EQ(flushed, std::vector<std::string>{scenario.new_mas});
        }
        EXPECT_TRUE(holds_new_archive(scenario)) << out;
        EXPECT_FALSE(os_exists("tmp"));
        std::string backup = std::string(scenario.new_mas) + ".bak";
        if (!scenario.in_place) {
            EXPECT_EQ(read_file(at(scenario.old_mas)), old_archive);
            EXPECT_FALSE(os_exists(backup.c_str())) << out;
        } else {
            EXPECT_EQ(read_file(at(backup)), old_archive);
        }
        std::string ending = scenario.in_place      ? ", the earlier one is kept as " + backup
                             : scenario.earlier_new ? ", the earlier one replaced"
                                                    : "";
        EXPECT_NE(out.find(std::string(scenario.new_mas) +
                           " made: bitmaps replaced 1, .VRL files renamed 2, names patched 1" +
                           ending + "\n"),
                  std::string::npos)
            << out;
    }
}

TEST_F(ZandrelSweep, InPlaceKeepsTheArchiveUnderEveryFault)
{
    sweep_every_kind(SCENARIOS[0]);
}

TEST_F(ZandrelSweep, InPlaceInAnotherCaseKeepsTheArchiveUnderEveryFault)
{
    sweep_every_kind(SCENARIOS[1]);
}

TEST_F(ZandrelSweep, NewNameKeepsTheOldArchiveUnderEveryFault)
{
    sweep_every_kind(SCENARIOS[2]);
}

TEST_F(ZandrelSweep, NewNameKeepsAnEarlierNewArchiveUnderEveryFault)
{
    sweep_every_kind(SCENARIOS[3]);
}

TEST_F(ZandrelSweep, EveryToolCallFailingLosesNothing)
{
    for (const Scenario &scenario : SCENARIOS)
        for (const char *failure : TOOL_FAILURES) {
            SCOPED_TRACE(std::string(scenario.what) + ", tool " + failure);
            std::string out;
            run(scenario, -1, 0, failure, &out);
            expect_nothing_lost(scenario, out);
            // A failed call leaves the new archive in doubt: an earlier one stays.
            if (scenario.earlier_new) {
                EXPECT_TRUE(kept({scenario.new_mas, earlier_archive}, out)) << out;
            }
        }
}

TEST_F(ZandrelSweep, KeepsTheEarlierArchiveWhenTheToolCrashesHalfWay)
{
    std::string out;
    run(SCENARIOS[3], -1, 0, "A:crash", &out);
    EXPECT_NE(out.find("2gt500.mas may be incomplete: the archive tool failed, the earlier one is "
                       "kept as 2gt500.mas.bak\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(at("2gt500.mas.bak")), earlier_archive);
    EXPECT_FALSE(holds_new_archive(SCENARIOS[3]));
}

// The jobs of a list read with its nth read failing: -1 and one line naming the list, or
// every job; a read error never passes for the end of the list.
int read_jobs(const std::string &path, int n, std::vector<int> *lines, std::string *out)
{
    Stream *stream = stream_open(path.c_str(), "rb");
    EXPECT_NE(stream, nullptr);
    if (!stream)
        return -2;
    testing::internal::CaptureStdout();
    os_inject_fault(OS_FAULT_READ, n);
    JobList list;
    JobFields job;
    int result = start_job_list(&list, stream, "Zandrel.LST"), got = 0;
    while (result == 0 && (got = next_job(&list, &job)) == 1)
        lines->push_back(job.line_number);
    if (result == 0)
        result = got;
    int unmet = os_fault_armed(OS_FAULT_READ);
    os_inject_fault(OS_FAULT_READ, 0);
    *out = strip_cr(testing::internal::GetCapturedStdout());
    stream_close(stream);
    return unmet ? 1 : result;
}

TEST_F(ZandrelSweep, TakesNoReadErrorOfTheJobListForItsEnd)
{
    // Comment lines make the list span several read blocks.
    std::string text, comments;
    for (int k = 0; k < 100; k++)
        comments += "# " + std::string(60, 'c') + "\r\n";
    for (int job = 0; job < 3; job++)
        text += comments + "a.mas;b.mas;x;y;\r\n";
    ASSERT_TRUE(write_file(at(JOB_LIST), text));
    const std::vector<int> all = {101, 202, 303};
    int n = 1;
    for (; n <= SWEEP_BOUND; n++) {
        SCOPED_TRACE("read fault " + std::to_string(n));
        std::vector<int> lines;
        std::string out;
        int result = read_jobs(at(JOB_LIST), n, &lines, &out);
        if (result == 1) {
            EXPECT_EQ(lines, all);
            break;
        }
        EXPECT_EQ(result, -1) << out;
        EXPECT_NE(out.find("Cannot read the job list Zandrel.LST"), std::string::npos) << out;
        EXPECT_TRUE(lines.size() <= all.size() &&
                    std::equal(lines.begin(), lines.end(), all.begin()));
    }
    EXPECT_GT(n, 3);
    printf("failure points walked, job list: read=%d\n", n - 1);
}

// Single jobs through the stand-in tool: what each ends with, and what it leaves.
class ZandrelJob : public ZandrelSweep
{
};

TEST_F(ZandrelJob, PutsTheEarlierArchiveBackWhenTheToolMakesNone)
{
    const struct {
        const char *new_mas;
        bool earlier; // a different earlier NEW_MAS
    } rows[] = {
        {"1gt500.mas", false}, {"1GT500.MAS", false}, {".\\1gt500.mas", false}, {"new.mas", true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.new_mas);
        clear();
        ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
        if (row.earlier) {
            ASSERT_TRUE(write_file(at(row.new_mas), earlier_archive));
        }
        std::string out;
        EXPECT_EQ(job("1gt500.mas", row.new_mas, "", "", "C:refuse", &out), 1);
        EXPECT_EQ(read_file(at("1gt500.mas")), old_archive);
        if (row.earlier) {
            EXPECT_EQ(read_file(at(row.new_mas)), earlier_archive);
        }
        EXPECT_NE(out.find(std::string(row.new_mas) +
                           " not made: the archive tool made no archive, the earlier one is "
                           "back in its place\n"),
                  std::string::npos)
            << out;
        // Back under the job's spelling of the name, which the system takes as the same.
        EXPECT_EQ(names_in(dir).size(), row.earlier ? 3u : 2u);
    }
}

TEST_F(ZandrelJob, LeavesAnEarlierArchiveAloneWhenNoAsideNameIsFree)
{
    clear();
    ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
    ASSERT_TRUE(write_file(at("2gt500.mas"), earlier_archive));
    std::set<std::string> names = {TOOL, "1gt500.mas", "2gt500.mas"};
    for (const char *suffix :
         {".bak", ".bak2", ".bak3", ".bak4", ".bak5", ".bak6", ".bak7", ".bak8", ".bak9"}) {
        ASSERT_TRUE(write_file(at(std::string("2gt500.mas") + suffix), suffix));
        names.insert(std::string("2gt500.mas") + suffix);
    }
    std::string out;
    EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "", "", nullptr, &out), 1);
    EXPECT_NE(out.find("2gt500.mas not made: the earlier one could not be moved aside and is left "
                       "as it was: no name from 2gt500.mas.bak to 2gt500.mas.bak9 is free\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(at("2gt500.mas")), earlier_archive);
    EXPECT_EQ(read_file(at("2gt500.mas.bak")), ".bak");
    EXPECT_EQ(names_in(dir), names);
}

TEST_F(ZandrelJob, TakesTheFirstFreeAsideNameAndNeverTouchesOlderOnes)
{
    clear();
    ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
    ASSERT_TRUE(write_file(at("1gt500.mas.bak"), "older backup"));
    // The second rename puts the archive back; when it fails the output names the aside copy.
    std::string out;
    os_inject_fault(OS_FAULT_RENAME, 2);
    EXPECT_EQ(job("1gt500.mas", "1gt500.mas", "", "", "C:refuse", &out), 1);
    os_inject_fault(OS_FAULT_RENAME, 0);
    EXPECT_EQ(read_file(at("1gt500.mas.bak")), "older backup");
    EXPECT_EQ(read_file(at("1gt500.mas.bak2")), old_archive);
    EXPECT_NE(out.find("1gt500.mas not made: the archive tool made no archive, the earlier one is "
                       "kept as 1gt500.mas.bak2\n"),
              std::string::npos)
        << out;
}

TEST_F(ZandrelJob, SkipsOldBitmapNamesThatReachOutOfTheScratchFolder)
{
    clear();
    ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
    ASSERT_TRUE(write_file(at("NEW.BMP"), "new bitmap"));
    for (const char *old_name : {"..\\X", "../X", "\\X", "C:X", ".", ".."}) {
        ASSERT_TRUE(write_file(at("X.BMP"), "the user's bitmap"));
        ASSERT_TRUE(write_file(at("..BMP"), "dots"));
        std::string out;
        EXPECT_EQ(job("1gt500.mas", "2gt500.mas", old_name, "NEW", nullptr, &out), 1);
        EXPECT_EQ(read_file(at("X.BMP")), "the user's bitmap") << old_name;
        EXPECT_EQ(read_file(at("..BMP")), "dots") << old_name;
        // Windows reads "/" as "\", and so do the messages.
        std::string written = old_name;
        std::replace(written.begin(), written.end(), '/', '\\');
        EXPECT_NE(out.find("Old bitmap name is not a name inside the archive, pair skipped: " +
                           written + "\n"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("; 1 of 1 bitmap pairs left out: " + written), std::string::npos) << out;
    }
}

// An archive that cannot be unpacked ends the job at once: no .VRL lines, nothing packed,
// the earlier NEW_MAS as it was.
TEST_F(ZandrelJob, StopsWhenTheOldArchiveUnpacksToNothing)
{
    const struct {
        const char *what, *tool_failure, *archive;
    } rows[] = {{"tool refuses", "E:refuse", nullptr},
                {"damaged archive", nullptr, "MASSTAND1\nxx"},
                {"empty tool file", nullptr, nullptr}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        clear();
        ASSERT_TRUE(write_file(at("1gt500.mas"), row.archive ? row.archive : old_archive));
        ASSERT_TRUE(write_file(at("2gt500.mas"), earlier_archive));
        bool no_tool = strcmp(row.what, "empty tool file") == 0;
        if (no_tool) {
            ASSERT_TRUE(write_file(at(TOOL), ""));
        }
        std::string out;
        EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "1SHGT500", "NEW", row.tool_failure, &out), -1);
        const std::string ending =
            no_tool ? "2gt500.mas not made: the archive tool MASadelic.exe could not start\n"
                    : "2gt500.mas not made: 1gt500.mas could not be unpacked\n";
        EXPECT_EQ(out.substr(out.size() - std::min(out.size(), ending.size())), ending) << out;
        EXPECT_EQ(out.find(".VRL"), std::string::npos) << out;
        EXPECT_EQ(read_file(at("2gt500.mas")), earlier_archive);
        EXPECT_EQ(names_in(dir), std::set<std::string>({TOOL, "1gt500.mas", "2gt500.mas"}));
        if (no_tool)
            install_tool();
    }
}

// A new bitmap that cannot be read leaves the old one in the archive and named by the car.
TEST_F(ZandrelJob, KeepsTheOldBitmapWhenTheNewOneCannotBeReadOrCopied)
{
    for (int row = 0; row < 3; row++) {
        const bool folder = row == 1, copy_fails = row == 2;
        SCOPED_TRACE(copy_fails ? "copy fails" : folder ? "new bitmap is a folder" : "missing");
        clear();
        ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
        if (folder) {
            ASSERT_EQ(os_make_directory(at("NOPE.BMP").c_str()), 0);
        }
        if (copy_fails) {
            ASSERT_TRUE(write_file(at("NOPE.BMP"), "new bitmap"));
            os_inject_fault(OS_FAULT_CREATE, 3); // after "tmp" and its folder for copies
        }
        std::string out;
        EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "1SHGT500", "NOPE", nullptr, &out), 1);
        os_inject_fault(OS_FAULT_CREATE, 0);
        const char *said = copy_fails ? "Cannot copy NOPE.BMP into the scratch folder\n"
                                      : "File not found: NOPE.BMP\n";
        EXPECT_NE(out.find(said), std::string::npos) << out;
        EXPECT_NE(out.find("2gt500.mas made: bitmaps replaced 0, .VRL files renamed 2, names "
                           "patched 0; 1 of 1 bitmap pairs left out: 1SHGT500\n"),
                  std::string::npos)
            << out;
        EXPECT_EQ(extract("2gt500.mas", "new").count("1SHGT500.BMP"), 1u);
        EXPECT_EQ(read_file(at("new\\1SHGT500.BMP")), "old bitmap");
        EXPECT_EQ(read_file(at("new\\2GT5VA.VRL")), small_car()[1].content);
    }
}

// "1shgt500" finds 1SHGT500.BMP as Windows would; the .VRL texts, which name it as stored,
// are patched all the same. An old name no .VRL file holds is named; when the archive holds
// no bitmap of that name, the new one is counted as added.
TEST_F(ZandrelJob, TakesOldBitmapNamesInTheCaseTheArchiveStores)
{
    clear();
    ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
    ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
    ASSERT_TRUE(write_file(at(NEW_BITMAP), "new bitmap"));
    std::string out;
    EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "1shgt500 NOBITMAP", "bmp\\2SHGT500 bmp\\2SHGT500",
                  nullptr, &out),
              0);
    EXPECT_NE(out.find("NOBITMAP.BMP is not in the archive: bmp\\2SHGT500.BMP is added, replacing "
                       "no bitmap\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("NOBITMAP patched in no .VRL file: the car may still name the old bitmap\n"
                       "2gt500.mas made: bitmaps replaced 1, added 1, .VRL files renamed 2, names "
                       "patched 1\n"),
              std::string::npos)
        << out;
    std::set<std::string> names = extract("2gt500.mas", "new");
    EXPECT_EQ(names.count("1SHGT500.BMP"), 0u);
    EXPECT_EQ(read_file(at("new\\2GT5VA.VRL")),
              std::string(400, 'h') + N + "2SHGT500" + N + "tail" + N);
}

TEST_F(ZandrelJob, SaysTheNewArchiveMayBeIncompleteWithoutAnEarlierOne)
{
    clear();
    ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
    std::string out;
    EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "", "", "A:crash", &out), 1);
    EXPECT_EQ(outcome_of(out, "2gt500.mas"), " may be incomplete: ") << out;
    EXPECT_NE(out.find("2gt500.mas may be incomplete: the archive tool failed\n"),
              std::string::npos)
        << out;
}

// A .VRL file that is there but keeps its old name is named with the reason, never as
// missing, and the new archive is in doubt.
TEST_F(ZandrelJob, SaysWhyAVrlFileCouldNotBeRenamed)
{
    std::vector<CarFile> car = small_car();
    car.push_back({"2GT5VA.VRL", "in the way"});
    const std::string crowded = pack(car);
    const struct {
        const char *what;
        int kind, n;
        bool crowded;
        const char *why;
    } rows[] = {
        {"rename fails", OS_FAULT_RENAME, 1, false, nullptr},
        {"new name taken", OS_FAULT_DELETE, 1, true, "a file of the new name could not be deleted"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        clear();
        ASSERT_TRUE(write_file(at("1gt500.mas"), row.crowded ? crowded : old_archive));
        std::string out;
        os_inject_fault(row.kind, row.n);
        EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "", "", nullptr, &out), 1);
        os_inject_fault(row.kind, 0);
        // The system's words for a failed rename differ between the platforms.
        const std::string said = "Cannot rename 1GT5VA.VRL to 2GT5VA.VRL: ";
        size_t at = out.find(said);
        ASSERT_NE(at, std::string::npos) << out;
        std::string why = out.substr(at + said.size(), out.find('\n', at) - at - said.size());
        if (row.why) {
            EXPECT_EQ(why, row.why);
        } else {
            EXPECT_FALSE(why.empty());
        }
        EXPECT_EQ(out.find("File not found: 1GT5VA.VRL"), std::string::npos) << out;
        EXPECT_NE(out.find("2gt500.mas may be incomplete: a .VRL file could not be renamed\n"),
                  std::string::npos)
            << out;
    }
}

// A car of three bitmaps that both its .VRL files name, for the bitmap list table.
std::vector<CarFile> three_bitmap_car()
{
    std::string names = N + "1SHGT500" + N + "CHROME01" + N + "GLASS001" + N + "tail" + N;
    return {{"1SHGT500.BMP", "old body"},
            {"CHROME01.BMP", "old chrome"},
            {"GLASS001.BMP", "old glass"},
            {"1GT5VA.VRL", std::string(400, 'h') + names},
            {"1500BLA.VRL", std::string(400, 'h') + names},
            {"ENGINE.TXT", "engine data\r\n"}};
}

// The count after word in a job's last line ("replaced 2"), 0 when the word is not there.
int count_after(const std::string &line, const std::string &word)
{
    size_t at = line.find(word);
    return at == std::string::npos ? 0 : atoi(line.c_str() + at + word.size());
}

std::string upper(std::string text)
{
    for (char &c : text)
        c = (char)toupper((unsigned char)c);
    return text;
}

// Generated bitmap lists over one car: whatever the pairs, every text a .VRL file names
// afterwards is a bitmap the archive holds or a name it never held, the last line counts
// what was done, and no copy of a new bitmap is packed.
TEST_F(ZandrelJob, EveryNameTheNewCarGivesResolvesWhateverThePairs)
{
    const std::string car = pack(three_bitmap_car());
    const std::set<std::string> old_bitmaps = {"1SHGT500.BMP", "CHROME01.BMP", "GLASS001.BMP"};
    const std::set<std::string> may_hold = {"1SHGT500.BMP", "CHROME01.BMP", "GLASS001.BMP",
                                            "NEW00001.BMP", "SHORT.BMP",    "ENGINE.TXT",
                                            "2GT5VA.VRL",   "2500BLA.VRL"};
    const struct {
        const char *what, *old_list, *new_list;
        int replaced, added, left_out;
        const char *said;
        const char *kept = nullptr, *kept_content = nullptr; // a bitmap keeping its old picture
    } rows[] = {
        {"swap", "1SHGT500 CHROME01", "bmp\\CHROME01 bmp\\1SHGT500", 2, 0, 0, ""},
        {"rotation", "1SHGT500 CHROME01 GLASS001", "bmp\\CHROME01 bmp\\GLASS001 bmp\\1SHGT500", 3,
         0, 0, ""},
        {"repeated old name", "1SHGT500 1shgt500", "bmp\\NEW00001 bmp\\CHROME01", 1, 0, 1,
         "Old bitmap name given twice, the later pair is left out: 1SHGT500\n"},
        {"longer new name", "CHROME01", "bmp\\LONGNAME9", 0, 0, 1,
         "New bitmap name longer than the old one, whose room in the .VRL files is 8 "
         "characters: CHROME01 to bmp\\LONGNAME9 left out\n"},
        {"shorter new name", "CHROME01", "bmp\\SHORT", 1, 0, 0, ""},
        {"unpaired new name", "1SHGT500", "bmp\\NEW00001 bmp\\SHORT", 1, 0, 1,
         "Bitmap names without a partner in the other list, left out: bmp\\SHORT\n"},
        {"unpaired old name", "1SHGT500 GLASS001", "bmp/NEW00001", 1, 0, 1,
         "Bitmap names without a partner in the other list, left out: GLASS001\n"},
        {"old name not in the archive", "1SHGT5OO", "bmp\\NEW00001", 0, 1, 0,
         "1SHGT5OO.BMP is not in the archive: bmp\\NEW00001.BMP is added, replacing no "
         "bitmap\n"},
        {"failed copy in a swap", "1SHGT500 CHROME01", "bmp\\NOPE0001 bmp\\1SHGT500", 0, 0, 2,
         "1SHGT500.BMP of the archive stays, so bmp\\1SHGT500.BMP cannot take its name: pair "
         "CHROME01 left out\n",
         "1SHGT500.BMP", "old body"},
        {"failed copy in a rotation", "1SHGT500 CHROME01 GLASS001",
         "bmp\\CHROME01 bmp\\NOPE0001 bmp\\1SHGT500", 0, 0, 3,
         "CHROME01.BMP of the archive stays, so bmp\\CHROME01.BMP cannot take its name: pair "
         "1SHGT500 left out\n1SHGT500.BMP of the archive stays, so bmp\\1SHGT500.BMP cannot "
         "take its name: pair GLASS001 left out\n",
         "CHROME01.BMP", "old chrome"},
        {"new name of a bitmap that stays", "1SHGT500", "bmp\\CHROME01", 0, 0, 1,
         "CHROME01.BMP of the archive stays, so bmp\\CHROME01.BMP cannot take its name: pair "
         "1SHGT500 left out\n",
         "CHROME01.BMP", "old chrome"},
        {"a pair left out frees no name", "GLASS001 CHROME01", "bmp\\LONGNAME9 bmp\\GLASS001", 0, 0,
         2,
         "GLASS001.BMP of the archive stays, so bmp\\GLASS001.BMP cannot take its name: pair "
         "CHROME01 left out\n",
         "GLASS001.BMP", "old glass"},
        {"device name", "1SHGT500 CHROME01", "bmp\\COM1 bmp\\NEW00001", 1, 0, 1,
         "Bitmap name is a Windows device, pair left out: bmp\\COM1\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        clear();
        ASSERT_TRUE(write_file(at("1gt500.mas"), car));
        ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
        for (const char *name :
             {"CHROME01", "1SHGT500", "GLASS001", "NEW00001", "SHORT", "LONGNAME9"})
            ASSERT_TRUE(
                write_file(at(std::string("bmp\\") + name + ".BMP"), std::string("new ") + name));
        std::string out;
        int result = job("1gt500.mas", "2gt500.mas", row.old_list, row.new_list, nullptr, &out);
        EXPECT_EQ(result, row.left_out > 0 ? 1 : 0) << out;
        EXPECT_NE(out.find(row.said), std::string::npos) << out;
        std::string last = out.substr(out.rfind('\n', out.size() - 2) + 1);
        ASSERT_EQ(last.rfind("2gt500.mas made: ", 0), 0u) << out;
        EXPECT_EQ(count_after(last, "bitmaps replaced "), row.replaced) << last;
        EXPECT_EQ(count_after(last, ", added "), row.added) << last;
        EXPECT_EQ(count_after(last, "; "), row.left_out) << last;

        std::set<std::string> held = extract("2gt500.mas", "new");
        if (row.kept) {
            EXPECT_EQ(read_file(at(std::string("new\\") + row.kept)), row.kept_content);
        }
        std::set<std::string> held_upper;
        for (const std::string &name : held) {
            EXPECT_EQ(may_hold.count(upper(name)), 1u) << "packed: " << name;
            held_upper.insert(upper(name));
        }
        for (const char *vrl : {"new\\2GT5VA.VRL", "new\\2500BLA.VRL"}) {
            std::string content = read_file(at(vrl)).substr(401);
            std::istringstream texts(content);
            for (std::string text; std::getline(texts, text, '\0');) {
                if (text.empty() || text == "tail")
                    continue;
                std::string bitmap = upper(text) + ".BMP";
                EXPECT_TRUE(held_upper.count(bitmap) == 1 || old_bitmaps.count(bitmap) == 0)
                    << vrl << " names " << text << ", which the archive lost";
            }
        }
    }
}

// An archive renamed by its user holds .VRL files of another name: nothing is done, and one
// line names the prefixes looked for and those found.
TEST_F(ZandrelJob, StopsWhenTheOldArchiveHoldsNoVrlFileOfItsName)
{
    const struct {
        const char *what;
        std::string archive, said;
    } rows[] = {
        {"renamed archive", old_archive,
         "mustang.mas holds no .VRL file of its name's prefixes MUST and MTAN; its .VRL files "
         "carry 1GT5 and 1500: give the archive the name they were made for\n"},
        {"no .VRL file at all", pack({{"ENGINE.TXT", "engine"}}),
         "mustang.mas holds no .VRL file of its name's prefixes MUST and MTAN\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        clear();
        ASSERT_TRUE(write_file(at("mustang.mas"), row.archive));
        ASSERT_TRUE(write_file(at("2gt500.mas"), earlier_archive));
        std::string out;
        EXPECT_EQ(job("mustang.mas", "2gt500.mas", "1SHGT500", "NEW", nullptr, &out), -1);
        EXPECT_EQ(out, row.said + "2gt500.mas not made: mustang.mas holds no .VRL file of its "
                                  "name\n");
        EXPECT_EQ(read_file(at("2gt500.mas")), earlier_archive);
        EXPECT_EQ(names_in(dir), std::set<std::string>({TOOL, "mustang.mas", "2gt500.mas"}));
    }
}

// "/" reads as "\" in every field, as Windows reads it; short new names that put a second
// dot into the .VRL names are said.
TEST_F(ZandrelJob, ReadsSlashesAsBackslashesAndSaysSoOfDottedVrlNames)
{
    const struct {
        const char *new_mas, *made, *said;
    } rows[] = {
        {"out/2gt500.mas",
         "out\\2gt500.mas made: bitmaps replaced 1, .VRL files renamed 2, "
         "names patched 1\n",
         nullptr},
        {"x.mas", "x.mas made:", "New .VRL names such as X.MAVA.VRL hold two dots"},
        {"2gt.mas", "2gt.mas made:", "New .VRL names such as 2GT.VA.VRL hold two dots"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.new_mas);
        clear();
        ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
        ASSERT_EQ(os_make_directory(at("out").c_str()), 0);
        ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
        ASSERT_TRUE(write_file(at("bmp\\2SHGT500.BMP"), "new bitmap"));
        std::string out;
        EXPECT_EQ(job("1gt500.mas", row.new_mas, "1SHGT500", "bmp/2SHGT500", nullptr, &out), 0);
        EXPECT_NE(out.find(row.made), std::string::npos) << out;
        EXPECT_EQ(out.find("Cannot"), std::string::npos) << out;
        EXPECT_EQ(out.find("two dots") != std::string::npos, row.said != nullptr) << out;
        if (row.said) {
            EXPECT_NE(out.find(row.said), std::string::npos) << out;
        } else {
            std::set<std::string> names = extract("out\\2gt500.mas", "new");
            EXPECT_EQ(names.count("2SHGT500.BMP"), 1u);
            EXPECT_EQ(names.count("2GT5VA.VRL"), 1u);
        }
    }
}

// The scratch folder that cannot be made, and an earlier archive that cannot be moved
// aside, are named with the system's reason.
TEST_F(ZandrelJob, GivesTheSystemsReasonWhenTmpCannotBeMadeOrTheEarlierArchiveMoved)
{
    clear();
    ASSERT_TRUE(write_file(at("1gt500.mas"), old_archive));
    ASSERT_TRUE(write_file(at("2gt500.mas"), earlier_archive));
    std::string out;
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "", "", nullptr, &out), -1);
    os_inject_fault(OS_FAULT_CREATE, 0);
    const std::string cannot = "Cannot make the scratch folder '" + dir + "\\tmp': ";
    ASSERT_EQ(out.rfind(cannot, 0), 0u) << out;
    EXPECT_GT(out.find('\n'), cannot.size()) << out;
    EXPECT_NE(out.find("\n2gt500.mas not made: the scratch folder tmp could not be made\n"),
              std::string::npos)
        << out;

    os_inject_fault(OS_FAULT_RENAME, 3); // after the two .VRL files
    EXPECT_EQ(job("1gt500.mas", "2gt500.mas", "", "", nullptr, &out), 1);
    os_inject_fault(OS_FAULT_RENAME, 0);
    const std::string aside =
        "2gt500.mas not made: the earlier one could not be moved aside and is left as it was: ";
    size_t start = out.find(aside);
    ASSERT_NE(start, std::string::npos) << out;
    EXPECT_GT(out.find('\n', start), start + aside.size()) << out;
    EXPECT_EQ(read_file(at("2gt500.mas")), earlier_archive);
}

} // namespace
