// In-process tests of the reconciler for what the program cannot show from outside: its
// results, and a copy back that fails through the OS layer's fault injection.
#include "support.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "behind_back.h"
#include "os.h"
#include "os_test.h"
#include "reconcile.h"

static const char REFERENCE[] = "Name=ref\r\nDescFile=ref.txt\r\nDescClass=Sport\r\n";
static const char NEW_TEXT[] = "Name=new\r\nDescFile=new.txt\r\nMass=900\r\n";
static const char UPDATED[] = "DescFile=ref.txt\r\nDescClass=Sport\r\nName=new\r\nMass=900\r\n";

// Console output with the system's words in each "Could not ..." line replaced by "<why>":
// "Could not update X: Permission denied; its ..." becomes "Could not update X: <why>; its ...".
static std::string with_reasons_hidden(const std::string &out)
{
    std::string plain;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        end = end == std::string::npos ? out.size() : end + 1;
        std::string line = out.substr(at, end - at);
        size_t colon = line.find(": "), semicolon = line.find("; ", colon);
        if (line.compare(0, 10, "Could not ") == 0 && semicolon != std::string::npos)
            line = line.substr(0, colon + 2) + "<why>" + line.substr(semicolon);
        plain += line;
        at = end;
    }
    return plain;
}

class ReconcileFolders : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_EQ(os_make_directory(at("ref").c_str()), 0);
        ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
    }

    // Checks the system calls of one more updated file against budget, with reference names
    // in upper case or named as the cars are.
    void expect_calls_within_budget(bool upper, double budget);

    // Runs the reconciler on new against ref with standard output captured.
    std::string reconcile(int8_t *result)
    {
        return reconcile_at("new", result);
    }

    // The same on the folder of that name.
    std::string reconcile_at(const std::string &folder, int8_t *result)
    {
        testing::internal::CaptureStdout();
        *result = reconcile_vehicle_files(at(folder).c_str(), at("ref").c_str());
        return testing::internal::GetCapturedStdout();
    }

    // The line that ends a run over new.
    std::string done(int updated, int unchanged) const
    {
        return "Done in " + at("new") + ": " + std::to_string(updated) + " updated, " +
               std::to_string(unchanged) + " left unchanged\n";
    }
};

// Fails the 1st, 2nd, ... write of the OS layer until a run completes without meeting it, and
// checks at every step that the updated text (or the untouched original) is still on disk. A
// copy back that fails part-way loses the file (copy_file deletes what it could not finish),
// so the output takes its place. A fault that hits the close of a file only read changes
// nothing.
TEST_F(ReconcileFolders, PutsTheOutputInPlaceWhenTheCopyBackFailsPartWay)
{
    const std::string current = at("new\\car.veh"), output = at("new\\car.veh.pelmora");
    const std::string progress = current + "\n";
    int copy_back_failures = 0;
    bool completed = false;
    for (int nth = 1; nth <= 20 && !completed; nth++) {
        ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
        ASSERT_TRUE(write_file(current, NEW_TEXT));
        os_delete_file(output.c_str());
        int8_t result = 0;
        os_inject_fault(OS_FAULT_WRITE, nth);
        std::string out = reconcile(&result);
        completed = os_fault_armed(OS_FAULT_WRITE) == 1;
        os_inject_fault(OS_FAULT_WRITE, 0);
        EXPECT_EQ(result, read_file(current) == UPDATED ? 0 : 1) << "1: a file left unchanged";
        EXPECT_EQ(read_file(at("ref\\car.veh")), REFERENCE) << nth;
        EXPECT_NE(read_file(current), "<missing>") << "a rerun would not see the file " << nth;
        if (read_file(output) != "<missing>") {
            copy_back_failures++;
            EXPECT_EQ(read_file(output), UPDATED) << nth;
            EXPECT_EQ(with_reasons_hidden(out), "Could not update " + current +
                                                    ": <why>; its updated text is kept in " +
                                                    output + "\n" + done(0, 1));
        } else if (read_file(current) == UPDATED) {
            EXPECT_EQ(out, progress + done(1, 0));
            copy_back_failures += !completed;
        } else {
            EXPECT_EQ(read_file(current), NEW_TEXT) << "a failed output write loses nothing";
            EXPECT_EQ(out, "Could not write " + output + ": " + current + " left unchanged\n" +
                               done(0, 1));
        }
    }
    EXPECT_TRUE(completed);
    EXPECT_GE(copy_back_failures, 1) << "no armed write hit the copy back";
}

TEST_F(ReconcileFolders, GivesMinusOneForAMissingNewFolder)
{
    testing::internal::CaptureStdout();
    int8_t result = reconcile_vehicle_files(at("missing").c_str(), at("ref").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result, -1);
}

TEST_F(ReconcileFolders, GivesZeroAndWalksNothingWhenTheNewFolderIsAFile)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("car.veh"), NEW_TEXT));
    testing::internal::CaptureStdout();
    int8_t result = reconcile_vehicle_files(at("car.veh").c_str(), at("ref").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read_file(at("car.veh")), NEW_TEXT);
}

// Makes "deep", thirteen levels of 240 characters, and "short", a link to its last level, with
// the system's tools (the path is past any the OS layer gives). False when they cannot be made.
static bool make_link_to_a_deep_folder()
{
    std::string deep = "deep";
    for (int level = 0; level < 13; level++)
        deep += "/" + std::string(240, 'd');
    return run_host_tool("mkdir -p " + deep + " && ln -s " + deep + " short");
}

// A link or a subst drive can lead to a folder whose final path is longer than any the OS
// layer gives: one line names the folder, the result is -1 and nothing changes.
TEST_F(ReconcileFolders, SaysWhenTheNewFoldersFinalPathDoesNotFit)
{
    if (!make_link_to_a_deep_folder())
        GTEST_SKIP() << "no mkdir or ln to make a deep folder";
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("short\\car.veh"), NEW_TEXT));
    char final[OS_PATH_SIZE];
    if (os_program_suffix[0] != '\0' &&
        os_final_path(at("short").c_str(), final, sizeof final) == 0)
        GTEST_SKIP() << "Wine gives the final path as the link's own";
    int8_t result = 0;
    const std::string out = with_reasons_hidden(reconcile_at("short", &result));
    run_host_tool("rm -rf deep short");
    EXPECT_EQ(out,
              "Could not find where " + at("short") + " really lies: <why>; nothing changed.\n");
    EXPECT_EQ(result, -1);
}

// The absolute form of a relative folder is formed before anything is walked; 255
// characters fit, 256 do not. Neither folder exists.
TEST_F(ReconcileFolders, RefusesARelativeFolderThatGrowsPast255Characters)
{
    const std::string name(255 - dir.size(), 'a');
    testing::internal::CaptureStdout();
    int8_t result = reconcile_vehicle_files(name.c_str(), at("ref").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Folder name too long: " + name + "\n");
    EXPECT_EQ(result, -1);
}

TEST_F(ReconcileFolders, TakesARelativeFolderWhoseAbsoluteFormJustFits)
{
    const std::string name(254 - dir.size(), 'a');
    testing::internal::CaptureStdout();
    int8_t result = reconcile_vehicle_files(name.c_str(), at("ref").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "only the status check fails";
    EXPECT_EQ(result, -1);
}

// An output file that is there before the run is finished or made again only when its text
// proves what it is: a copy back cut short (the file a strict prefix of it) or an output cut
// short (a prefix of the text made now). Anything else may be the user's own, or the only
// whole text: neither it nor the file is touched, run after run, and one line names both.
TEST_F(ReconcileFolders, SettlesAnExistingOutputFileOnlyWhenItsTextProvesWhatItIs)
{
    const std::string current = at("new\\car.veh"), output = at("new\\car.veh.pelmora");
    const std::string updated = UPDATED, skipped = "Skipped " + current + ": " + output +
                                                   " already exists and may hold its updated "
                                                   "text from an interrupted run\n";
    // A finished file is then updated from the reference as it is now.
    const std::string finished = "Finished " + current + " from " + output +
                                 ", which an interrupted run left\n" + current + "\n";
    const std::string older = "DescFile=old.txt\r\nDescClass=Old\r\nName=new\r\nMass=900\r\n";
    const std::string remade =
        "Making " + output + " again: an interrupted run left it unfinished\n" + current + "\n";
    struct Row {
        const char *what;
        std::string current, output;
        std::string line;                        // the line of the first run
        std::string current_after, output_after; // "<missing>": deleted
    } rows[] = {
        {"the user's own file", NEW_TEXT, "mine\r\n", skipped, NEW_TEXT, "mine\r\n"},
        {"an output of another reference", NEW_TEXT, "DescFile=x\r\n", skipped, NEW_TEXT,
         "DescFile=x\r\n"},
        {"the output of the file before an edit", "Name=edited\r\n", updated, skipped,
         "Name=edited\r\n", updated},
        {"an interrupted copy back", updated.substr(0, 20), updated, finished, updated,
         "<missing>"},
        {"a copy back cut before its first byte", "", updated, finished, updated, "<missing>"},
        {"a copy back of an older reference's keys", older.substr(0, 20), older, finished, updated,
         "<missing>"},
        {"an empty leftover", NEW_TEXT, "", remade, updated, "<missing>"},
        {"an output cut short", NEW_TEXT, updated.substr(0, 30), remade, updated, "<missing>"},
        {"a whole output", NEW_TEXT, updated, finished, updated, "<missing>"},
        {"a whole output copied back", updated, updated, remade, updated, "<missing>"},
        {"an older reference's output copied back", older, older,
         "Deleted " + output + ": an interrupted run left it, and " + current +
             " holds the same text\n" + current + "\n",
         updated, "<missing>"},
    };
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(current, row.current));
        ASSERT_TRUE(write_file(output, row.output));
        int8_t result = 0;
        int updates = row.current_after == updated ? 1 : 0;
        EXPECT_EQ(reconcile(&result), row.line + done(updates, 1 - updates)) << row.what;
        EXPECT_EQ(result, 1 - updates) << row.what;
        EXPECT_EQ(read_file(current), row.current_after) << row.what;
        EXPECT_EQ(read_file(output), row.output_after) << row.what;
        if (updates == 0) {
            EXPECT_EQ(reconcile(&result), row.line + done(0, 1)) << row.what << ", run 2";
        }
        os_delete_file(output.c_str());
    }
}

// The flushes of a run over one folder, in order: for each, the names of the files it brought
// to the disk (a folder's flush all files under it), and the size of every file of the folder
// (read by status: Windows lets no one read a file the run holds open).
struct FlushRecord {
    std::string folder;
    std::vector<std::set<std::string>> flushed;
    std::vector<std::map<std::string, uint32_t>> held;
};

static void record_flush(const char *path, void *context)
{
    FlushRecord *record = static_cast<FlushRecord *>(context);
    std::map<std::string, uint32_t> held;
    for (const std::string &name : names_in(record->folder)) {
        OsFileStatus status = {};
        os_file_status((record->folder + "\\" + name).c_str(), &status);
        held[name] = status.size;
    }
    std::set<std::string> flushed;
    const std::string flush = path;
    if (flush == record->folder)
        for (const auto &file : held)
            flushed.insert(file.first);
    else
        flushed.insert(flush.substr(flush.rfind('\\') + 1));
    record->flushed.push_back(flushed);
    record->held.push_back(held);
}

// The index of the first flush that brought name to the disk holding size bytes, or -1.
static int first_flush(const FlushRecord &record, const std::string &name, size_t size)
{
    for (size_t at = 0; at < record.flushed.size(); at++)
        if (record.flushed[at].count(name) && record.held[at].count(name) &&
            record.held[at].at(name) == size)
            return static_cast<int>(at);
    return -1;
}

// A power loss keeps what was flushed and may drop the rest: a file written since its last
// flush may hold its old text, nothing (its cut reached the disk, its new text did not) or a
// start of its new text. The cars of a batch share their flushes: every output is whole on the
// disk before the first car is cut, every car before the first output is deleted. The disks a
// power loss can leave in each stage are replayed, the cars of the batch in different states
// of the stage, and on each a rerun leaves every car whole and no output behind.
TEST_F(ReconcileFolders, LosesNoLineWhereverThePowerGoes)
{
    const std::vector<std::string> cars = {"a.veh", "b.veh", "c.veh"};
    const std::string updated = UPDATED;
    for (const std::string &car : cars) {
        ASSERT_TRUE(write_file(at("ref\\") + car, REFERENCE));
        ASSERT_TRUE(write_file(at("new\\") + car, NEW_TEXT));
    }
    FlushRecord record = {at("new"), {}, {}};
    os_observe_flushes(record_flush, &record);
    int8_t result = 0;
    reconcile(&result);
    os_observe_flushes(nullptr, nullptr);
    for (const std::string &car : cars) {
        SCOPED_TRACE(car);
        EXPECT_EQ(read_file(at("new\\") + car), updated);
        int output = first_flush(record, car + ".pelmora", updated.size());
        int rewritten = first_flush(record, car, updated.size());
        ASSERT_GE(output, 0) << "the whole output flushed";
        ASSERT_GT(rewritten, output) << "the whole car flushed after its output";
        for (const std::string &other : cars) {
            EXPECT_EQ(record.held[output].at(other), sizeof NEW_TEXT - 1)
                << other << " cut too early";
            EXPECT_EQ(record.held[rewritten].count(other + ".pelmora"), 1u)
                << other << "'s output deleted too early";
        }
    }
    struct Disk {
        std::string car, output; // "<missing>": no file
    };
    const std::string half = updated.substr(0, updated.size() / 2);
    const std::vector<std::vector<Disk>> stages = {
        {{NEW_TEXT, "<missing>"}, {NEW_TEXT, ""}, {NEW_TEXT, half}, {NEW_TEXT, updated}},
        {{NEW_TEXT, updated}, {"", updated}, {half, updated}, {updated, updated}},
        {{updated, updated}, {updated, "<missing>"}},
    };
    for (size_t stage = 0; stage < stages.size(); stage++)
        for (size_t turn = 0; turn < stages[stage].size(); turn++) {
            SCOPED_TRACE("stage " + std::to_string(stage) + ", turn " + std::to_string(turn));
            for (size_t at_car = 0; at_car < cars.size(); at_car++) {
                const Disk &disk = stages[stage][(at_car + turn) % stages[stage].size()];
                const std::string car = at("new\\") + cars[at_car];
                ASSERT_TRUE(write_file(car, disk.car));
                os_delete_file((car + ".pelmora").c_str());
                if (disk.output != "<missing>") {
                    ASSERT_TRUE(write_file(car + ".pelmora", disk.output));
                }
            }
            const std::string out = reconcile(&result);
            for (const std::string &car : cars) {
                EXPECT_EQ(read_file(at("new\\") + car), updated) << car << "\n" << out;
                EXPECT_EQ(read_file(at("new\\") + car + ".pelmora"), "<missing>") << out;
            }
            EXPECT_EQ(result, 0) << out;
        }
}

// A batch holds at most 256 cars and at most 8 MiB of their texts: a car and a later one share
// a batch when the first is still uncut once the later one's output is on the disk. One row per
// folder: its cars (each NEW_TEXT, then a comment line of the given size), and pairs of cars
// with whether they share a batch.
TEST_F(ReconcileFolders, PutsCarsInPlaceInBatchesBoundedInCountAndText)
{
    const struct {
        int cars;
        size_t comment;
        std::vector<std::vector<int>> pairs; // {first, later, 1 when in one batch}
    } rows[] = {
        {257, 0, {{0, 255, 1}, {0, 256, 0}, {255, 256, 0}}},
        {3, 5u << 20, {{0, 1, 0}, {1, 2, 0}}},
        {3, 3u << 20, {{0, 1, 1}, {1, 2, 0}}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.cars) + " cars");
        ASSERT_EQ(os_change_directory(dir.c_str()), 0) << "the walk leaves new current";
        remove_all(at("new"));
        ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
        const std::string text = NEW_TEXT + std::string("Comment=") + std::string(row.comment, 'c');
        const size_t updated = sizeof UPDATED - 1 - (sizeof NEW_TEXT - 1) + text.size();
        auto name = [](int car) { return "car" + std::to_string(1000 + car) + ".veh"; };
        for (int car = 0; car < row.cars; car++) {
            ASSERT_TRUE(write_file(at("ref\\") + name(car), REFERENCE));
            ASSERT_TRUE(write_file(at("new\\") + name(car), text));
        }
        FlushRecord record = {at("new"), {}, {}};
        os_observe_flushes(record_flush, &record);
        int8_t result = 0;
        const std::string out = reconcile(&result);
        os_observe_flushes(nullptr, nullptr);
        EXPECT_EQ(result, 0) << out;
        for (const std::vector<int> &pair : row.pairs) {
            int flushed = first_flush(record, name(pair[1]) + ".pelmora", updated);
            ASSERT_GE(flushed, 0) << name(pair[1]);
            EXPECT_EQ(record.held[flushed].at(name(pair[0])), pair[2] ? text.size() : updated)
                << name(pair[0]) << " and " << name(pair[1]);
        }
        EXPECT_EQ(read_file(at("new\\") + name(row.cars - 1)).size(), updated);
    }
}

// A folder swapped during a run: renamed away, a link to another folder put in its place.
struct Swap {
    std::string folder, away, other;
    bool done;
};

// Swaps at the run's first flush, once the first batch's cars are open.
static void swap_at_first_flush(const char *, void *context)
{
    Swap *swap = static_cast<Swap *>(context);
    if (swap->done)
        return;
    swap->done = true;
    EXPECT_EQ(behind_rename(swap->folder, swap->away), 0);
    EXPECT_EQ(behind_make_link(swap->other, swap->folder), 0);
}

// The run reaches the files of both folders through its holds of them: with either folder
// swapped for a link to another folder of cars after the first batch (more cars than a batch
// holds), no car of the other folder changes and no car takes the other folder's keys; the cars
// of the folder swapped away are all updated.
TEST_F(ReconcileFolders, WorksOnTheFoldersItHoldsWhenEitherIsSwappedForALink)
{
    if (!behind_back_available())
        GTEST_SKIP() << "links are made with POSIX calls; Windows renames no held folder";
    const char *const swapped[] = {"new", "ref"};
    const std::string outside_reference = "DescFile=outside.txt\r\nDescClass=Outside\r\n";
    const int cars = 300;
    for (const char *folder : swapped) {
        SCOPED_TRACE(folder);
        const std::string other = std::string(folder) + "_other";
        ASSERT_EQ(os_change_directory(dir.c_str()), 0) << "the walk leaves new current";
        remove_all(at("new"));
        remove_all(at("ref"));
        ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
        ASSERT_EQ(os_make_directory(at("ref").c_str()), 0);
        ASSERT_EQ(os_make_directory(at(other).c_str()), 0);
        for (int car = 0; car < cars; car++) {
            const std::string name = "\\car" + std::to_string(1000 + car) + ".veh";
            ASSERT_TRUE(write_file(at("new") + name, NEW_TEXT));
            ASSERT_TRUE(write_file(at("ref") + name, REFERENCE));
            ASSERT_TRUE(write_file(at(other) + name,
                                   folder == swapped[0] ? NEW_TEXT : outside_reference));
        }
        Swap swap = {at(folder), at(std::string(folder) + "_away"), other, false};
        os_observe_flushes(swap_at_first_flush, &swap);
        int8_t result = 0;
        const std::string out = reconcile(&result);
        os_observe_flushes(nullptr, nullptr);
        ASSERT_TRUE(swap.done) << out;
        const std::string cars_at = folder == swapped[0] ? swap.away : at("new");
        for (int car = 0; car < cars; car++) {
            const std::string name = "\\car" + std::to_string(1000 + car) + ".veh";
            EXPECT_EQ(read_file(at(other) + name),
                      folder == swapped[0] ? NEW_TEXT : outside_reference)
                << name;
            EXPECT_EQ(read_file(cars_at + name), UPDATED) << name;
        }
        EXPECT_EQ(result, 0) << out;
        ASSERT_EQ(behind_delete_file(at(folder)), 0);
        ASSERT_EQ(behind_rename(swap.away, at(folder)), 0);
        remove_all(at(other));
    }
}

// An output file that cannot be deleted beside its updated file is said, and the run ends
// with 1.
TEST_F(ReconcileFolders, EndsWithOneWhenAnOutputFileCannotBeDeleted)
{
    const std::string current = at("new\\car.veh"), output = at("new\\car.veh.pelmora");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(current, NEW_TEXT));
    os_inject_fault(OS_FAULT_DELETE, 1);
    int8_t result = 0;
    const std::string out = reconcile(&result);
    os_inject_fault(OS_FAULT_DELETE, 0);
    EXPECT_EQ(read_file(current), UPDATED);
    EXPECT_EQ(read_file(output), UPDATED);
    EXPECT_EQ(out.substr(0, current.size() + 1 + 17), current + "\nCould not delete ") << out;
    EXPECT_EQ(out.substr(out.size() - done(1, 0).size()), done(1, 0)) << out;
    EXPECT_EQ(result, 1);
}

// A car that is a second name of a file (here of another game's car outside the new folder)
// is left with a line: rewriting it would change that file too. With its other name gone it
// is a car like any other.
TEST_F(ReconcileFolders, LeavesACarWithASecondNameAsItIs)
{
    const std::string current = at("new\\car.veh"), outside = at("other.veh");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(outside, NEW_TEXT));
    ASSERT_TRUE(run_host_tool("ln other.veh new/car.veh"));
    int8_t result = 0;
    EXPECT_EQ(reconcile(&result), "Skipped " + current +
                                      ": it has a second name (a hard link), whose file would "
                                      "change with it\n" +
                                      done(0, 1));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(read_file(outside), NEW_TEXT);
    EXPECT_EQ(read_file(current), NEW_TEXT);
    EXPECT_EQ(read_file(current + ".pelmora"), "<missing>");
    ASSERT_EQ(os_delete_file(outside.c_str()), 0);
    EXPECT_EQ(reconcile(&result), current + "\n" + done(1, 0));
    EXPECT_EQ(read_file(current), UPDATED);
}

// An earlier output file that no car's line names is named at the end, counted as unchanged:
// one without its car, and one beside a car not updated from it (here: no reference).
TEST_F(ReconcileFolders, NamesEarlierOutputFilesThatNoCarSettled)
{
    const std::string lone = at("new\\lone.veh.pelmora"), solo = at("new\\solo.veh.pelmora");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    ASSERT_TRUE(write_file(at("new\\car.veh.pelmora"), UPDATED));
    ASSERT_TRUE(write_file(lone, UPDATED));
    ASSERT_TRUE(write_file(at("new\\solo.veh"), NEW_TEXT));
    ASSERT_TRUE(write_file(solo, UPDATED));
    int8_t result = 0;
    const std::string out = reconcile(&result);
    EXPECT_EQ(out, "Finished " + at("new\\car.veh") + " from " + at("new\\car.veh.pelmora") +
                       ", which an interrupted run left\n" + at("new\\car.veh\n") +
                       "Left " + lone +
                       " as it is: there is no lone.veh beside it, whose text it may hold from an "
                       "interrupted run\nLeft " +
                       solo + " as it is: solo.veh beside it was not updated from it\n" +
                       done(1, 2));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(read_file(lone), UPDATED);
    EXPECT_EQ(read_file(solo), UPDATED);
}

// A run of 1.1.0 cut off in its copy back left car.veh empty or a start of new_car.veh, which
// holds the whole text: car.veh is updated as before and one line points to new_car.veh. A
// new_X.veh that has a reference of its own is a car, and one that car.veh does not begin is no
// leftover: neither gets the line, and no new_ file is touched.
TEST_F(ReconcileFolders, PointsOutTheOutputFileOfAnInterruptedRunOfVersion110)
{
    const std::string found =
        "Found %O, which may hold the whole text of %C from an interrupted "
        "run of Pelmora 1.1.0: see \"After an interrupted run\" in README.txt\n";
    struct Row {
        const char *name;
        std::string current, old_output;
        bool old_is_car, pointed_out;
    } rows[] = {
        {"empty.veh", "", NEW_TEXT, false, true},
        {"start.veh", std::string(UPDATED).substr(0, 20), UPDATED, false, true},
        {"whole.veh", NEW_TEXT, "Other=1\r\n", false, false},
        {"car.veh", "", "Name=nc\r\n", true, false},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(at("ref\\") + row.name, REFERENCE));
        ASSERT_TRUE(write_file(at("new\\") + row.name, row.current));
        ASSERT_TRUE(write_file(at("new\\new_") + row.name, row.old_output));
        if (row.old_is_car) {
            ASSERT_TRUE(write_file(at("ref\\new_") + row.name, "DescFile=own.txt\r\n"));
        }
    }
    int8_t result = 0;
    const std::string out = reconcile(&result);
    for (const Row &row : rows) {
        std::string line = found;
        line.replace(line.find("%O"), 2, at("new\\new_") + row.name);
        line.replace(line.find("%C"), 2, at("new\\") + row.name);
        EXPECT_EQ(out.find(at("new\\") + row.name + "\n" + line) != std::string::npos,
                  row.pointed_out)
            << row.name << "\n"
            << out;
        EXPECT_EQ(out.find(line) != std::string::npos, row.pointed_out) << row.name;
        EXPECT_EQ(read_file(at("new\\new_") + row.name),
                  row.old_is_car ? "DescFile=own.txt\r\n" + row.old_output : row.old_output)
            << row.name;
    }
    EXPECT_EQ(result, 0);
}

// The system calls of one more updated file, from a run over 10 files to one over 40 in the
// same kind of folder: the fixed costs of a run (the listing, the folders) cancel out. Windows
// asks for the final path of each car and each output, which proves it lies in the held folder.
// References named in upper case (as a copy from Windows may bring them) are found in the
// listing the layer keeps of their folder, not by reading the folder again for every car.
TEST_F(ReconcileFolders, UpdatesEachFileWithinItsBudgetOfSystemCalls)
{
    for (const bool upper : {false, true}) {
        SCOPED_TRACE(upper ? "references in upper case" : "references named alike");
        expect_calls_within_budget(upper, on_posix() ? (upper ? 24.0 : 20.0) : 24.0);
    }
}

void ReconcileFolders::expect_calls_within_budget(bool upper, double budget)
{
    uint32_t calls[2] = {0, 0};
    const int counts[2] = {10, 40};
    const std::string reference = at(upper ? "upper_refs" : "refs");
    ASSERT_EQ(os_make_directory(reference.c_str()), 0);
    for (int size = 0; size < 2; size++) {
        const std::string folder = at((upper ? "upper" : "new") + std::to_string(counts[size]));
        ASSERT_EQ(os_make_directory(folder.c_str()), 0);
        for (int file = 0; file < counts[size]; file++) {
            const std::string name = "car" + std::to_string(file) + ".veh";
            std::string stored = name;
            for (char &c : stored)
                c = upper ? static_cast<char>(toupper(static_cast<unsigned char>(c))) : c;
            ASSERT_TRUE(write_file(reference + "\\" + stored, REFERENCE));
            ASSERT_TRUE(write_file(folder + "\\" + name, NEW_TEXT));
        }
        uint32_t before = os_system_calls();
        testing::internal::CaptureStdout();
        int8_t result = reconcile_vehicle_files(folder.c_str(), reference.c_str());
        const std::string out = testing::internal::GetCapturedStdout();
        calls[size] = os_system_calls() - before;
        EXPECT_EQ(result, 0) << out;
        EXPECT_NE(out.find(": " + std::to_string(counts[size]) + " updated, 0 left"),
                  std::string::npos)
            << out;
    }
    const double per_file = (calls[1] - calls[0]) / double(counts[1] - counts[0]);
    printf("%u and %u system calls for %d and %d files: %.1f per file\n", calls[0], calls[1],
           counts[0], counts[1], per_file);
    RecordProperty("system_calls_per_file", std::to_string(per_file));
    EXPECT_GT(calls[0], 0u) << "the test build counts the OS layer's calls";
    EXPECT_LE(per_file, budget);
}

// A .veh that is a link is updated only when it leads to a file inside the new folder; one that
// leads out of it is left unchanged with a line, and nothing outside changes (POSIX: links made
// here; under Wine the Windows build sees them as plain files, and its final path decides).
TEST_F(ReconcileFolders, UpdatesALinkOnlyWhenItLeadsToAFileInsideTheNewFolder)
{
    if (!behind_back_available())
        GTEST_SKIP() << "links are made with POSIX calls";
    ASSERT_EQ(os_make_directory(at("outside").c_str()), 0);
    ASSERT_TRUE(write_file(at("outside\\away.veh"), NEW_TEXT));
    ASSERT_TRUE(write_file(at("new\\target.veh"), NEW_TEXT));
    ASSERT_EQ(behind_make_link("../outside/away.veh", at("new\\away.veh")), 0);
    ASSERT_EQ(behind_make_link("target.veh", at("new\\inside.veh")), 0);
    ASSERT_TRUE(write_file(at("ref\\away.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("ref\\inside.veh"), REFERENCE));
    // An output file left as a link to a file outside is never read, so never copied back.
    ASSERT_TRUE(write_file(at("new\\short.veh"), ""));
    ASSERT_TRUE(write_file(at("ref\\short.veh"), REFERENCE));
    ASSERT_EQ(behind_make_link("../outside/away.veh", at("new\\short.veh.pelmora")), 0);
    char final[OS_PATH_SIZE];
    ASSERT_EQ(os_final_path(at("new").c_str(), final, sizeof final), 0);
    int8_t result = 0;
    const std::string out = reconcile(&result);
    EXPECT_EQ(out, "Skipped " + at("new\\away.veh") +
                       ": it no longer leads to the file read, or leads out of " + final + "\n" +
                       at("new\\inside.veh") + "\nSkipped " + at("new\\short.veh") + ": " +
                       at("new\\short.veh.pelmora") +
                       " already exists and may hold its updated text from an interrupted run\n" +
                       done(1, 2));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(read_file(at("outside\\away.veh")), NEW_TEXT);
    EXPECT_EQ(read_file(at("new\\target.veh")), UPDATED);
    EXPECT_EQ(os_is_link(at("new\\inside.veh").c_str()), 1);
    EXPECT_EQ(read_file(at("new\\short.veh")), "");
    EXPECT_EQ(names_in(at("new")), (std::set<std::string>{"away.veh", "inside.veh", "short.veh",
                                                          "short.veh.pelmora", "target.veh"}));
}

// Every "Could not ..." line shows the names it gives with their control characters visible:
// no byte below 32 but the line end, and no DEL, reaches the window. Windows names hold DEL but
// no byte below 32.
TEST_F(ReconcileFolders, ShowsControlCharactersInEveryCouldNotLine)
{
    std::vector<std::string> names = {"\x7f"
                                      "car.veh"};
    if (os_program_suffix[0] == '\0')
        names.push_back("\x1b[31m\a"
                        "van.veh");
    const struct {
        int kind, nth;
        const char *line;
    } rows[] = {
        {OS_FAULT_READ, 1, "Could not read "},     // the reference
        {OS_FAULT_CREATE, 1, "Could not create "}, // the output file
        {OS_FAULT_WRITE, 0, "Could not update "},  // the first copy back, after the outputs
        {OS_FAULT_DELETE, 1, "Could not delete "}, // the output file
    };
    for (const std::string &name : names)
        for (const auto &row : rows) {
            SCOPED_TRACE(row.line);
            ASSERT_TRUE(write_file(at("ref\\") + name, REFERENCE));
            ASSERT_TRUE(write_file(at("new\\") + name, NEW_TEXT));
            os_inject_fault(row.kind,
                            row.nth ? row.nth : static_cast<int>(names_in(at("new")).size()) + 1);
            int8_t result = 0;
            const std::string out = reconcile(&result);
            os_inject_fault(row.kind, 0);
            EXPECT_NE(out.find(row.line), std::string::npos) << out;
            EXPECT_NE(out.find('^'), std::string::npos) << out;
            EXPECT_TRUE(std::none_of(out.begin(), out.end(), [](char c) {
                return (static_cast<unsigned char>(c) < 32 && c != '\n') || c == 127;
            })) << out;
            os_delete_file(at("new\\" + name + ".pelmora").c_str());
        }
}

// Files Pelmora leaves unchanged with one line naming the file and why; nothing is written for
// them, and the files beside them are still handled.
TEST_F(ReconcileFolders, LeavesAFileUnchangedWithOneLineSayingWhy)
{
    const std::string nul("\0", 1), z("\x1a");
    const std::string utf16 = std::string("\xff\xfe", 2) + "D" + nul + "e" + nul + "s" + nul + "c" +
                              nul + "\r" + nul + "\n" + nul;
    const char *const nul_in_new = "Skipped %N: it holds a NUL byte, so it is not plain text\n";
    const char *const nul_in_reference =
        "Skipped %N: its reference %R holds a NUL byte, so it is not plain text\n";
    const char *const z_in_new = "Skipped %N: it holds text after a Ctrl-Z character\n";
    const char *const z_in_reference =
        "Skipped %N: its reference %R holds text after a Ctrl-Z character\n";
    const char *const no_keys =
        "Skipped %N: its reference %R has no DescFile= or DescClass= line\n";
    struct Row {
        const char *name;
        std::string reference, current;
        const char *line; // %N the new file, %R the reference
    } rows[] = {
        {"mid_line.veh", REFERENCE, "Name=abc" + nul + "def\nMass=1200\n", nul_in_new},
        {"key_behind_nul.veh", REFERENCE, "a" + nul + "DescFile=old\n", nul_in_new},
        {"first_byte.veh", REFERENCE, nul, nul_in_new},
        {"last_line.veh", REFERENCE, "a\nb\nlast" + nul, nul_in_new},
        {"utf16.veh", REFERENCE, utf16, nul_in_new},
        {"reference_keys.veh", "DescFile=a" + nul + "b\nDescClass=c\n", NEW_TEXT, nul_in_reference},
        {"reference_tail.veh", std::string(REFERENCE) + "Tail=" + nul + "\n", NEW_TEXT,
         nul_in_reference},
        {"reference_long_tail.veh", std::string(REFERENCE) + std::string(600, 't') + nul, NEW_TEXT,
         nul_in_reference},
        {"both.veh", "x" + nul, "y" + nul, nul_in_reference},
        // The first Ctrl-Z ends the text; only more Ctrl-Z characters may follow it.
        {"text_after_ctrl_z.veh", REFERENCE, "Comment=" + z + "\r\nMass=900\r\n", z_in_new},
        {"nul_after_ctrl_z.veh", REFERENCE, "a\r\n" + z + nul, z_in_new},
        {"ctrl_z_between.veh", REFERENCE, "a\r\n" + z + z + "b" + z, z_in_new},
        {"reference_after_ctrl_z.veh", "DescClass=rc" + z + "\nDescFile=after\n", NEW_TEXT,
         z_in_reference},
        // A reference with no key line would take the file's description away.
        {"empty_reference.veh", "", NEW_TEXT, no_keys},
        {"reference_without_keys.veh", "Name=ref\r\ndescfile=lower\r\n", NEW_TEXT, no_keys},
        {"keys_behind_ctrl_z.veh", "Name=ref\r\n" + z + z, NEW_TEXT, no_keys},
        {"mark_only.veh", "\xEF\xBB\xBF", NEW_TEXT, no_keys},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(at("ref\\") + row.name, row.reference));
        ASSERT_TRUE(write_file(at("new\\") + row.name, row.current));
    }
    ASSERT_TRUE(write_file(at("ref\\fine.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\fine.veh"), NEW_TEXT));
    int8_t result = 0;
    const std::string out = reconcile(&result);
    EXPECT_EQ(result, 1) << "files were left unchanged";
    std::set<std::string> names = {"fine.veh"};
    std::string lines;
    for (const Row &row : rows) {
        const std::string current = at("new\\") + row.name, reference = at("ref\\") + row.name;
        names.insert(row.name);
        EXPECT_EQ(read_file(reference), row.reference) << row.name;
        EXPECT_EQ(read_file(current), row.current) << row.name;
        std::string line = row.line;
        line.replace(line.find("%N"), 2, current);
        if (line.find("%R") != std::string::npos)
            line.replace(line.find("%R"), 2, reference);
        EXPECT_NE(out.find(line), std::string::npos) << row.name << "\n" << out;
        lines += line;
    }
    EXPECT_EQ(read_file(at("new\\fine.veh")), UPDATED);
    const int count = static_cast<int>(sizeof rows / sizeof rows[0]);
    EXPECT_EQ(out.size(), lines.size() + at("new\\fine.veh\n").size() + done(1, count).size())
        << "one line per file and the count:\n"
        << out;
    EXPECT_NE(out.find(done(1, count)), std::string::npos) << out;
    EXPECT_EQ(names_in(at("new")), names) << "no output file is left behind";
}

// A copy back that fails once the file was cut keeps the output file and says so; the next run
// finishes the file from it.
TEST_F(ReconcileFolders, KeepsTheOutputFileWhenTheCopyBackFailsAndTheNextRunFinishesIt)
{
    const std::string current = at("new\\car.veh"), output = at("new\\car.veh.pelmora");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(current, NEW_TEXT));
    int8_t result = 0;
    os_inject_fault(OS_FAULT_WRITE, 2); // the output file is the first write, the copy the second
    std::string out = reconcile(&result);
    int missed = os_fault_armed(OS_FAULT_WRITE);
    os_inject_fault(OS_FAULT_WRITE, 0);
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(with_reasons_hidden(out), "Could not update " + current +
                                            ": <why>; its updated text is kept in " + output +
                                            "\n" + done(0, 1));
    EXPECT_EQ(read_file(output), UPDATED);
    EXPECT_EQ(reconcile(&result), "Finished " + current + " from " + output +
                                      ", which an interrupted run left\n" + current + "\n" +
                                      done(1, 0));
    EXPECT_EQ(read_file(current), UPDATED);
    EXPECT_EQ(read_file(output), "<missing>");
}

// The reason given for an output file that cannot be created is the create's own (an I/O
// error here), not that of a later check that finds no file of its name.
TEST_F(ReconcileFolders, GivesTheCreateFailuresOwnReasonWhenTheOutputCannotBeMade)
{
    const std::string current = at("new\\car.veh"), output = at("new\\car.veh.pelmora");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(current, NEW_TEXT));
    char expected[256];
    os_inject_fault(OS_FAULT_CREATE, 1);
    ASSERT_EQ(os_open_stream(at("probe").c_str(), "w"), nullptr);
    os_error_text(expected, sizeof expected);
    int8_t result = 0;
    os_inject_fault(OS_FAULT_CREATE, 1);
    std::string out = reconcile(&result);
    os_inject_fault(OS_FAULT_CREATE, 0);
    EXPECT_EQ(out, "Could not create " + output + ": " + expected + "; " + current +
                       " left unchanged\n" + done(0, 1));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(read_file(current), NEW_TEXT);
    EXPECT_EQ(read_file(output), "<missing>");
}

// A read that fails is never the end of a file: wherever the 1st, 2nd, ... read fails, the file
// is updated whole or left as it was with one line naming the file that could not be read.
TEST_F(ReconcileFolders, LeavesTheFileUnchangedWhenAReadFails)
{
    const std::string current = at("new\\car.veh"), output = at("new\\car.veh.pelmora");
    const std::string reference = at("ref\\car.veh");
    std::string text = NEW_TEXT, updated = UPDATED;
    for (int line = 0; line < 800; line++) {
        text += "Line" + std::to_string(line) + "=0123456789\r\n";
        updated += "Line" + std::to_string(line) + "=0123456789\r\n";
    }
    const std::string unread_reference =
        "Could not read " + reference + ": <why>; " + current + " left unchanged\n" + done(0, 1);
    const std::string unread_current =
        "Could not read " + current + ": <why>; it is left unchanged\n" + done(0, 1);
    std::set<std::string> seen;
    bool completed = false;
    for (int nth = 1; nth <= 30 && !completed; nth++) {
        ASSERT_TRUE(write_file(reference, REFERENCE));
        ASSERT_TRUE(write_file(current, text));
        os_delete_file(output.c_str());
        int8_t result = 0;
        os_inject_fault(OS_FAULT_READ, nth);
        const std::string out = reconcile(&result);
        completed = os_fault_armed(OS_FAULT_READ) == 1;
        os_inject_fault(OS_FAULT_READ, 0);
        const std::string plain = with_reasons_hidden(out);
        EXPECT_EQ(out.find(": ; "), std::string::npos) << "the system's words are missing";
        if (plain == unread_reference || plain == unread_current) {
            seen.insert(plain == unread_reference ? "reference" : "current");
            EXPECT_EQ(read_file(current), text) << nth;
            EXPECT_EQ(read_file(output), "<missing>") << nth;
        } else {
            // The copy back writes the text held in memory: it reads nothing.
            EXPECT_TRUE(completed) << nth;
            EXPECT_EQ(out, current + "\n" + done(1, 0)) << nth;
            EXPECT_EQ(read_file(current), updated) << nth;
        }
    }
    EXPECT_TRUE(completed);
    EXPECT_EQ(seen, (std::set<std::string>{"reference", "current"}))
        << "a fault met each of the two files' reads";
}

// ---- The fault sweep ----------------------------------------------------------------------

struct SweepFile {
    std::string name;
    std::string reference; // empty: no reference file
    std::string current;   // the text before the run
    std::string updated;   // the text once rewritten (current when it is never rewritten)
};

static std::vector<SweepFile> sweep_files()
{
    std::string big = "DescFile=old\n", big_updated = "DescFile=big\r\nDescClass=Big\r\n";
    for (int line = 0; line < 4000; line++) {
        const std::string text = "Line" + std::to_string(line) + "=" + std::string(20, 'v');
        big += text + "\n";
        big_updated += text + "\r\n";
    }
    const std::string nul("\0", 1);
    return {
        {"a.veh", REFERENCE, NEW_TEXT, UPDATED},
        {"b.veh", "DescFile=b\nDescClass=B\n", "x\nDescClass=old\ny",
         "DescFile=b\r\nDescClass=B\r\nx\r\ny"},
        {"big.veh", "DescFile=big\nDescClass=Big\n", big, big_updated},
        {"solo.veh", "", NEW_TEXT, NEW_TEXT},
        // Not "nul.veh": NUL is a device name on Windows.
        {"zero.veh", REFERENCE, "a" + nul + "b\n", "a" + nul + "b\n"},
        {"van.veh", REFERENCE, NEW_TEXT, NEW_TEXT}, // kept by its leftover output file
        {"cr.veh", "DescFile=c\rDescClass=C\r",
         "Name=My Car\rDescFile=old\rMass=900\rDescClass=O\r",
         "DescFile=c\r\nDescClass=C\r\nName=My Car\r\nMass=900\r\n"},
        {"mark.veh",
         "\xEF\xBB\xBF"
         "DescClass=M\r\n",
         "\xEF\xBB\xBF"
         "Name=m\r\nMass=1\n",
         "\xEF\xBB\xBF"
         "DescClass=M\r\nName=m\r\nMass=1\r\n"},
        // Lines longer than a read block, a key late in one.
        {"long.veh", "DescFile=" + std::string(5000, 'f') + "\nDescClass=L\n",
         std::string(9000, 'w') + "\n" + std::string(4100, 'o') + "DescFile=old\nend",
         "DescFile=" + std::string(5000, 'f') + "\r\nDescClass=L\r\n" + std::string(9000, 'w') +
             "\r\nend"},
        {"dos.veh", REFERENCE, "Name=d\r\nMass=2\r\n\x1a",
         "DescFile=ref.txt\r\nDescClass=Sport\r\nName=d\r\nMass=2\r\n"},
        {"ctrlz.veh", REFERENCE, "Comment=\x1a\r\nMass=900\r\n", "Comment=\x1a\r\nMass=900\r\n"},
        {"nokeys.veh", "Name=nokeys\r\n", NEW_TEXT, NEW_TEXT},
        // Cars named like the output files of an older version: a Beetle still an empty
        // placeholder beside a New Beetle, each with its reference, and a "new_" car without
        // one. Each is a car, never a leftover.
        {"beetle.veh", "DescFile=b\nDescClass=Beetle\n", "", "DescFile=b\r\nDescClass=Beetle\r\n"},
        {"new_beetle.veh", "DescFile=nb\nDescClass=NewBeetle\n", NEW_TEXT,
         "DescFile=nb\r\nDescClass=NewBeetle\r\nName=new\r\nMass=900\r\n"},
        {"new_a.veh", "", "Name=new a\r\n", "Name=new a\r\n"},
    };
}

static const char LEFTOVER_NAME[] = "van.veh.pelmora";
static const char LEFTOVER[] = "leftover\r\n";

class ReconcileSweep : public ReconcileFolders
{
  protected:
    void lay_out(const std::vector<SweepFile> &files)
    {
        ASSERT_EQ(os_change_directory(dir.c_str()), 0) << "the walk leaves new current";
        remove_all(at("new"));
        remove_all(at("ref"));
        ASSERT_EQ(os_make_directory(at("ref").c_str()), 0);
        ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
        for (const SweepFile &file : files) {
            if (!file.reference.empty()) {
                ASSERT_TRUE(write_file(at("ref\\") + file.name, file.reference));
            }
            ASSERT_TRUE(write_file(at("new\\") + file.name, file.current));
        }
        ASSERT_TRUE(write_file(at("new\\") + LEFTOVER_NAME, LEFTOVER));
    }

    // Empty when every file holds its text from before or after the run, under its own name
    // or under the output name that out gives, and the reference folder is as it was; else what
    // is wrong.
    std::string losses(const std::vector<SweepFile> &files, const std::string &out)
    {
        std::string wrong;
        std::set<std::string> references, allowed = {LEFTOVER_NAME};
        for (const SweepFile &file : files) {
            const std::string own = read_file(at("new\\") + file.name);
            const std::string output_path = at("new\\") + file.name + ".pelmora";
            const std::string output = read_file(output_path);
            allowed.insert(file.name);
            allowed.insert(file.name + ".pelmora");
            bool kept = own == file.current || own == file.updated;
            bool named = out.find(output_path) != std::string::npos &&
                         (output == file.current || output == file.updated);
            if (!kept && !named)
                wrong += file.name + " lost; ";
            if (file.reference.empty())
                continue;
            references.insert(file.name);
            if (read_file(at("ref\\") + file.name) != file.reference)
                wrong += "reference " + file.name + " changed; ";
        }
        if (read_file(at("new\\") + LEFTOVER_NAME) != LEFTOVER)
            wrong += "the leftover changed; ";
        if (names_in(at("ref")) != references)
            wrong += "the reference folder's names changed; ";
        for (const std::string &name : names_in(at("new")))
            if (!allowed.count(name))
                wrong += "stray " + name + "; ";
        return wrong;
    }

    std::string run_once()
    {
        int8_t result = -1;
        std::string out = reconcile(&result);
        EXPECT_GE(result, 0);
        return out;
    }
};

// For each kind of fault, fails the 1st, 2nd, ... operation of that kind until a run no longer
// meets it. After each run, and after a second run without faults, as a user would start it,
// nothing is lost. The number of failure points walked is printed per kind.
TEST_F(ReconcileSweep, LosesNoTextWhereverAnOperationFails)
{
    const char *const kinds[OS_FAULT_KINDS] = {"write",  "rename", "delete",
                                               "create", "start",  "read"};
    const int bound = 100;
    const std::vector<SweepFile> files = sweep_files();
    for (int kind = 0; kind < OS_FAULT_KINDS; kind++) {
        int points = 0;
        bool completed = false;
        for (int nth = 1; nth <= bound && !completed; nth++) {
            SCOPED_TRACE(std::string(kinds[kind]) + " fault " + std::to_string(nth));
            lay_out(files);
            os_inject_fault(kind, nth);
            const std::string out = run_once();
            completed = os_fault_armed(kind) == 1;
            os_inject_fault(kind, 0);
            points += completed ? 0 : 1;
            EXPECT_EQ(losses(files, out), "") << out;
            EXPECT_NE(out.find("Done in " + at("new") + ": "), std::string::npos) << out;
            const std::string again = run_once();
            EXPECT_EQ(losses(files, out + again), "") << out << again;
        }
        EXPECT_TRUE(completed) << kinds[kind] << ": still failing after " << bound << " faults";
        printf("%s faults: %d failure points\n", kinds[kind], points);
        RecordProperty(std::string(kinds[kind]) + "_failure_points", points);
    }
}

// The run that meets no fault: every file with a reference is rewritten, the others, the one
// holding a NUL and the one whose output file was there before are not.
TEST_F(ReconcileSweep, RewritesEveryFileWithAReferenceWhenNothingFails)
{
    const std::vector<SweepFile> files = sweep_files();
    lay_out(files);
    const std::string out = run_once();
    for (const SweepFile &file : files)
        EXPECT_EQ(read_file(at("new\\") + file.name), file.updated) << file.name;
    std::set<std::string> names = {LEFTOVER_NAME};
    for (const SweepFile &file : files)
        names.insert(file.name);
    EXPECT_EQ(names_in(at("new")), names);
    EXPECT_NE(out.find("Skipped " + at("new\\van.veh") + ": " + at("new\\van.veh.pelmora")),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Skipped " + at("new\\zero.veh") + ": it holds a NUL byte"),
              std::string::npos)
        << out;
}

// Where a run can be cut in a file's update (killed, or the machine off), in byte counts of
// the updated text of length size: a few at each end and some between.
static std::set<size_t> cut_points(size_t size)
{
    std::set<size_t> points = {size / 4, size / 2, size * 3 / 4};
    for (size_t k = 0; k <= 4 && k <= size; k++) {
        points.insert(k);
        points.insert(size - k);
    }
    return points;
}

// The files a run cut at any point leaves, file by file: the files before the cut updated, the
// files after it as they were, and the one being updated with its output file cut short (the
// output was being written), or with the output whole and the file cut short or not yet touched
// (the copy back was under way), or both whole (the output was not yet deleted). A rerun
// finishes every file whole, the cars named "new_..." among them, says in one line what it did
// with each output file, and leaves none behind.
TEST_F(ReconcileSweep, FinishesEveryFileWhereverARunWasCut)
{
    const std::vector<SweepFile> files = sweep_files();
    int cuts = 0;
    for (size_t cut = 0; cut < files.size(); cut++) {
        const SweepFile &file = files[cut];
        if (file.updated == file.current)
            continue;
        const std::string current = at("new\\") + file.name;
        const std::string output = current + ".pelmora";
        struct State {
            std::string current, output;
        };
        std::vector<State> states = {{file.current, file.updated}, {file.updated, file.updated}};
        for (size_t k : cut_points(file.updated.size())) {
            states.push_back({file.current, file.updated.substr(0, k)});
            if (k < file.updated.size())
                states.push_back({file.updated.substr(0, k), file.updated});
        }
        for (const State &state : states) {
            SCOPED_TRACE(file.name + ", file " + std::to_string(state.current.size()) +
                         " bytes, output " + std::to_string(state.output.size()) + " bytes");
            lay_out(files);
            for (size_t before = 0; before < cut; before++) {
                ASSERT_TRUE(write_file(at("new\\") + files[before].name, files[before].updated));
            }
            ASSERT_TRUE(write_file(current, state.current));
            ASSERT_TRUE(write_file(output, state.output));
            const std::string out = run_once();
            cuts++;
            for (const SweepFile &each : files)
                EXPECT_EQ(read_file(at("new\\") + each.name), each.updated) << each.name << out;
            EXPECT_EQ(read_file(output), "<missing>");
            const bool finished =
                out.find("Finished " + current + " from " + output) != std::string::npos;
            const bool remade = out.find("Making " + output + " again") != std::string::npos;
            EXPECT_TRUE(finished != remade) << out;
        }
    }
    printf("cut points: %d\n", cuts);
    RecordProperty("cut_points", cuts);
}

// ---- Output sent to a file or a pipe -------------------------------------------------------

// The ANSI form of one UTF-8 character, or "?" when the ANSI code page lacks it.
static std::string in_ansi(const char *character)
{
    char bytes[16];
    snprintf(bytes, sizeof bytes, "%s", character);
    return os_utf8_to_ansi(bytes, sizeof bytes) == 0 ? bytes : "?";
}

// Windows sends the programs' lines to a file or a pipe in the ANSI code page: each character
// that page lacks, and each byte that is no UTF-8, as one '?'. POSIX sends the bytes.
TEST(ConsoleCodePage, SendsEachCharacterThePageLacksAsOneQuestionMark)
{
    const bool windows = os_program_suffix[0] != '\0';
    const struct {
        std::string text, on_windows;
    } rows[] = {
        {"Done in C:\\cars: 1 updated\n", "Done in C:\\cars: 1 updated\n"},
        {"Caf\u00e9\\M\u00fcller", "Caf" + in_ansi("\u00e9") + "\\M" + in_ansi("\u00fc") + "ller"},
        {"\u30bd\u30d5\u30c8\\\u80fd\\\u30ab\u30fc.veh",
         in_ansi("\u30bd") + in_ansi("\u30d5") + in_ansi("\u30c8") + "\\" + in_ansi("\u80fd") +
             "\\" + in_ansi("\u30ab") + in_ansi("\u30fc") + ".veh"},
        {"\u0413\u043e\u043d\u043a\u0438 Wy\u015bcigi",
         in_ansi("\u0413") + in_ansi("\u043e") + in_ansi("\u043d") + in_ansi("\u043a") +
             in_ansi("\u0438") + " Wy" + in_ansi("\u015b") + "cigi"},
        {"car \U0001F697.veh", "car " + in_ansi("\U0001F697") + ".veh"},
        {"bad \xff byte", "bad ? byte"},
        {"cut \xe3\x82 short", "cut ?? short"},
        // Longer than the stack buffer the text is formatted in.
        {std::string(3000, 'l') + "\u00e9", std::string(3000, 'l') + in_ansi("\u00e9")},
    };
    for (const auto &row : rows) {
        testing::internal::CaptureStdout();
        int printed = os_print("%s", row.text.c_str());
        EXPECT_EQ(testing::internal::GetCapturedStdout(), windows ? row.on_windows : row.text);
        EXPECT_EQ(printed, static_cast<int>(row.text.size())) << "the bytes formatted";
    }
}
