// In-process tests of the reconciler for what the program cannot show from outside: its
// results, and a copy back that fails through the OS layer's fault injection.
#include "support.h"

#include <string>

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
