// In-process tests of the reconciler for what the program cannot show from outside: its
// results, and a copy back that fails through the OS layer's fault injection.
#include "support.h"

#include <set>
#include <string>
#include <vector>

#include "os.h"
#include "reconcile.h"

static const char REFERENCE[] = "Name=ref\r\nDescFile=ref.txt\r\nDescClass=Sport\r\n";
static const char NEW_TEXT[] = "Name=new\r\nDescFile=new.txt\r\nMass=900\r\n";
static const char UPDATED[] = "DescFile=ref.txt\r\nDescClass=Sport\r\nName=new\r\nMass=900\r\n";

class ReconcileFolders : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_EQ(os_make_directory(at("ref").c_str()), 0);
        ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
    }

    // Runs the reconciler on new against ref with standard output captured.
    std::string reconcile(int8_t *result)
    {
        testing::internal::CaptureStdout();
        *result = reconcile_vehicle_files(at("new").c_str(), at("ref").c_str());
        return testing::internal::GetCapturedStdout();
    }
};

// Fails the 1st, 2nd, ... write of the OS layer until a run completes without meeting it, and
// checks at every step that the updated text (or the untouched original) is still on disk. A
// fault that hits the close of a file only read changes nothing.
TEST_F(ReconcileFolders, KeepsTheOutputFileWhenTheCopyBackFails)
{
    const std::string current = at("new\\car.veh"), output = at("new\\new_car.veh");
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
        EXPECT_EQ(result, 0);
        EXPECT_EQ(read_file(at("ref\\car.veh")), REFERENCE) << nth;
        if (read_file(output) != "<missing>") {
            copy_back_failures++;
            EXPECT_EQ(read_file(output), UPDATED) << nth;
            EXPECT_EQ(out, progress + "Could not update " + current +
                               ": its updated text is kept in " + output + "\n");
        } else if (read_file(current) == UPDATED) {
            EXPECT_EQ(out, progress);
        } else {
            EXPECT_EQ(read_file(current), NEW_TEXT) << "a failed output write loses nothing";
            EXPECT_EQ(out, "Could not write " + output + ": " + current + " left unchanged\n");
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

// An output file that is there before the run may be the user's own, or hold the only whole
// text after a copy back that was cut short: neither it nor the file is touched, and one line
// names both.
TEST_F(ReconcileFolders, LeavesAnExistingOutputFileAndItsFileAsTheyAre)
{
    const std::string current = at("new\\car.veh"), output = at("new\\new_car.veh");
    struct Row {
        const char *what;
        std::string current, output;
    } rows[] = {
        {"the user's own file", NEW_TEXT, "mine\r\n"},
        {"an interrupted copy back", std::string(UPDATED).substr(0, 20), UPDATED},
        {"an empty leftover", NEW_TEXT, ""},
    };
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(current, row.current));
        ASSERT_TRUE(write_file(output, row.output));
        for (int run = 1; run <= 2; run++) {
            int8_t result = 0;
            EXPECT_EQ(reconcile(&result), "Skipped " + current + ": " + output +
                                              " already exists and may hold its updated text "
                                              "from an interrupted run\n")
                << row.what;
            EXPECT_EQ(result, 0);
            EXPECT_EQ(read_file(current), row.current) << row.what << ", run " << run;
            EXPECT_EQ(read_file(output), row.output) << row.what << ", run " << run;
        }
    }
}

// The message names the file that holds the NUL; nothing is written for it, and the files
// beside it are still handled. In text mode a Ctrl-Z ends the text, so a NUL behind it is
// not part of it.
TEST_F(ReconcileFolders, LeavesAFileUnchangedWhenItOrItsReferenceHoldsANulByte)
{
    const std::string nul("\0", 1);
    const std::string utf16 = std::string("\xff\xfe", 2) + "D" + nul + "e" + nul + "s" + nul + "c" +
                              nul + "\r" + nul + "\n" + nul;
    struct Row {
        const char *name;
        std::string reference, current;
        const char *holder; // "new", "ref", or null when the file is rewritten
        std::string updated;
    } rows[] = {
        {"mid_line.veh", REFERENCE, "Name=abc" + nul + "def\nMass=1200\n", "new", ""},
        {"key_behind_nul.veh", REFERENCE, "a" + nul + "DescFile=old\n", "new", ""},
        {"first_byte.veh", REFERENCE, nul, "new", ""},
        {"last_line.veh", REFERENCE, "a\nb\nlast" + nul, "new", ""},
        {"utf16.veh", REFERENCE, utf16, "new", ""},
        {"reference_keys.veh", "DescFile=a" + nul + "b\nDescClass=c\n", NEW_TEXT, "ref", ""},
        {"reference_tail.veh", std::string(REFERENCE) + "Tail=" + nul + "\n", NEW_TEXT, "ref", ""},
        {"reference_long_tail.veh", std::string(REFERENCE) + std::string(600, 't') + nul, NEW_TEXT,
         "ref", ""},
        {"both.veh", "x" + nul, "y" + nul, "ref", ""},
        {"behind_ctrl_z.veh", std::string(REFERENCE) + "\x1a" + nul, "a\r\n\x1a" + nul + "b\r\n",
         nullptr, "DescFile=ref.txt\r\nDescClass=Sport\r\na\r\n"},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(at("ref\\") + row.name, row.reference));
        ASSERT_TRUE(write_file(at("new\\") + row.name, row.current));
    }
    int8_t result = 0;
    const std::string out = reconcile(&result);
    EXPECT_EQ(result, 0);
    std::set<std::string> names;
    for (const Row &row : rows) {
        const std::string current = at("new\\") + row.name, reference = at("ref\\") + row.name;
        names.insert(row.name);
        EXPECT_EQ(read_file(reference), row.reference) << row.name;
        std::string line = current + "\n";
        if (row.holder && std::string(row.holder) == "new")
            line = "Skipped " + current + ": it holds a NUL byte, so it is not plain text\n";
        else if (row.holder)
            line = "Skipped " + current + ": its reference " + reference +
                   " holds a NUL byte, so it is not plain text\n";
        EXPECT_NE(out.find(line), std::string::npos) << row.name << "\n" << out;
        EXPECT_EQ(read_file(current), row.holder ? row.current : row.updated) << row.name;
    }
    EXPECT_EQ(names_in(at("new")), names) << "no new_ file is left behind";
}

// A copy back that is refused before the file is touched (as copy_file refuses a source too
// large to copy whole) keeps the output file, and says so.
TEST_F(ReconcileFolders, KeepsTheOutputFileWhenTheCopyBackIsRefusedBeforeItStarts)
{
    const std::string current = at("new\\car.veh"), output = at("new\\new_car.veh");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(current, NEW_TEXT));
    int8_t result = 0;
    os_inject_fault(OS_FAULT_CREATE, 2); // the output file is the first create, the copy the second
    std::string out = reconcile(&result);
    int missed = os_fault_armed(OS_FAULT_CREATE);
    os_inject_fault(OS_FAULT_CREATE, 0);
    EXPECT_EQ(missed, 0);
    EXPECT_EQ(out, current + "\nCould not update " + current + ": its updated text is kept in " +
                       output + "\n");
    EXPECT_EQ(read_file(current), NEW_TEXT);
    EXPECT_EQ(read_file(output), UPDATED);
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
    };
}

static const char LEFTOVER_NAME[] = "new_van.veh";
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
    // or under the new_ name that out gives, and the reference folder is as it was; else what
    // is wrong.
    std::string losses(const std::vector<SweepFile> &files, const std::string &out)
    {
        std::string wrong;
        std::set<std::string> references, allowed = {LEFTOVER_NAME};
        for (const SweepFile &file : files) {
            const std::string own = read_file(at("new\\") + file.name);
            const std::string output_path = at("new\\new_") + file.name;
            const std::string output = read_file(output_path);
            allowed.insert(file.name);
            allowed.insert("new_" + file.name);
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
        int8_t result = 0;
        std::string out = reconcile(&result);
        EXPECT_EQ(result, 0);
        return out;
    }
};

// For each kind of fault, fails the 1st, 2nd, ... operation of that kind until a run no longer
// meets it. After each run, and after a second run without faults, as a user would start it,
// nothing is lost. The number of failure points walked is printed per kind.
TEST_F(ReconcileSweep, LosesNoTextWhereverAnOperationFails)
{
    const char *const kinds[OS_FAULT_KINDS] = {"write", "rename", "delete", "create", "start", "read"};
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
    EXPECT_NE(out.find("Skipped " + at("new\\van.veh") + ": " + at("new\\new_van.veh")),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Skipped " + at("new\\zero.veh") + ": it holds a NUL byte"),
              std::string::npos)
        << out;
}
