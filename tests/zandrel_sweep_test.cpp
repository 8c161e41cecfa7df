// Fault sweeps over whole jobs: each operation of one kind fails in turn, or one call of the
// archive tool fails, and after every run each file the user had is still on disk, under its
// own name or under a name that the job's output gave.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filecopy.h"
#include "job.h"
#include "os.h"
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

const char *const KIND_NAMES[OS_FAULT_KINDS] = {"write", "rename", "delete", "create", "start", "read"};
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
        std::string any = built_program("x");
        std::string tool = any.substr(0, any.rfind('\\')) + "\\" + TOOL;
        ASSERT_EQ(copy_file(tool.c_str(), at(TOOL).c_str()), 0) << tool;
        ASSERT_EQ(os_make_executable(at(TOOL).c_str()), 0);
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

    // Empties the work folder but for the tool and lays out the user's files again.
    void lay_out(const Scenario &scenario)
    {
        for (const std::string &name : names_in(dir))
            if (name != TOOL)
                remove_all(at(name));
        ASSERT_EQ(os_make_directory(at("bmp").c_str()), 0);
        for (const CarFile &file : user_files(scenario))
            ASSERT_TRUE(write_file(at(file.name), file.content));
    }

    // Runs the scenario's job with the nth operation of kind failing (kind -1: none) and the
    // tool failing as tool_failure says (null: not). Result: 1 when the fault never fired.
    int run(const Scenario &scenario, int kind, int n, const char *tool_failure, std::string *out)
    {
        lay_out(scenario);
        EXPECT_EQ(os_change_directory(dir.c_str()), 0);
        if (tool_failure) {
            EXPECT_EQ(os_set_environment("MASADELIC_FAIL", tool_failure), 0);
        }
        testing::internal::CaptureStdout();
        if (kind >= 0)
            os_inject_fault(kind, n);
        run_job(scenario.old_mas, scenario.new_mas, "1SHGT500", "bmp\\2SHGT500");
        int unmet = kind >= 0 && os_fault_armed(kind);
        if (kind >= 0)
            os_inject_fault(kind, 0);
        *out = strip_cr(testing::internal::GetCapturedStdout());
        os_set_environment("MASADELIC_FAIL", nullptr);
        os_change_directory(dir.c_str());
        return unmet;
    }

    // 1 when NEW_MAS is a whole new archive of the job: well formed, with every name the
    // job stores (a leftover file that could not be deleted may come along).
    int holds_new_archive(const Scenario &scenario)
    {
        std::set<std::string> names;
        if (!archive_names(read_file(at(scenario.new_mas)), &names))
            return 0;
        char first[5], second[5];
        form_prefixes(scenario.new_mas, first, second);
        std::set<std::string> wanted = {"2SHGT500.BMP", "ENGINE.TXT", std::string(first) + "VA.VRL",
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
    // new archive, as the job asks.
    void expect_nothing_lost(const Scenario &scenario, const std::string &out)
    {
        EXPECT_TRUE(os_exists(TOOL));
        for (const CarFile &file : user_files(scenario)) {
            bool found = kept(file, out);
            bool replaced = scenario.earlier_new && file.content == earlier_archive &&
                            holds_new_archive(scenario);
            EXPECT_TRUE(found || replaced) << file.name << " lost; the job said:\n" << out;
        }
    }

    // Walks n = 1, 2, ... for one kind until a run meets no fault. Result: the failure
    // points walked, or -1 when the bound was reached.
    int sweep(const Scenario &scenario, int kind)
    {
        for (int n = 1; n <= SWEEP_BOUND; n++) {
            SCOPED_TRACE(std::string(scenario.what) + ", " + KIND_NAMES[kind] + " fault " +
                         std::to_string(n));
            std::string out;
            int unmet = run(scenario, kind, n, nullptr, &out);
            expect_nothing_lost(scenario, out);
            if (unmet)
                return n - 1;
        }
        return -1;
    }

    void sweep_every_kind(const Scenario &scenario)
    {
        std::string counts;
        for (int kind = 0; kind < OS_FAULT_KINDS; kind++) {
            int walked = sweep(scenario, kind);
            EXPECT_GE(walked, 1) << scenario.what << ", " << KIND_NAMES[kind];
            counts += std::string(" ") + KIND_NAMES[kind] + "=" + std::to_string(walked);
            RecordProperty(KIND_NAMES[kind], walked);
        }
        printf("failure points walked, %s:%s\n", scenario.what, counts.c_str());
    }

    std::string old_archive, earlier_archive;
};

TEST_F(ZandrelSweep, FaultFreeJobsBuildTheNewArchiveAndSettleTheEarlierOne)
{
    for (const Scenario &scenario : SCENARIOS) {
        SCOPED_TRACE(scenario.what);
        std::string out;
        run(scenario, -1, 0, nullptr, &out);
        EXPECT_TRUE(holds_new_archive(scenario)) << out;
        EXPECT_FALSE(os_exists("tmp"));
        std::string backup = std::string(scenario.new_mas) + ".bak";
        if (!scenario.in_place) {
            EXPECT_EQ(read_file(at(scenario.old_mas)), old_archive);
            EXPECT_FALSE(os_exists(backup.c_str())) << out;
        } else {
            EXPECT_EQ(read_file(at(backup)), old_archive);
            EXPECT_NE(
                out.find(std::string("Earlier ") + scenario.new_mas + " kept as " + backup + "\n"),
                std::string::npos)
                << out;
        }
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
    EXPECT_NE(out.find("2gt500.mas may be incomplete, the earlier one is kept as "
                       "2gt500.mas.bak\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(at("2gt500.mas.bak")), earlier_archive);
    EXPECT_FALSE(holds_new_archive(SCENARIOS[3]));
}

TEST_F(ZandrelSweep, PutsTheArchiveBackWhenTheToolMakesNoneInPlace)
{
    std::string out;
    run(SCENARIOS[0], -1, 0, "C:refuse", &out);
    EXPECT_NE(out.find("1gt500.mas not made, the earlier one is back in its place\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(at("1gt500.mas")), old_archive);
    EXPECT_FALSE(os_exists("1gt500.mas.bak"));
}

} // namespace
