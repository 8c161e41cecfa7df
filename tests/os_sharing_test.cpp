// Tests of the OS layer on identity and sharing: the same file and "inside" by identity, folder
// holds, files opened once and checked by name, run locks, held folders reached through their
// hold, and another program's moment on a file. Both back ends must agree.
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "behind_back.h"
#include "os.h"
#include "os_test.h"
#include "scanner.h"
#include "support.h"

using OsFiles = TempFolderTest;
using OsFinalPath = TempFolderTest;

// ---- The same file, inside a folder -------------------------------------------------------

TEST_F(OsFiles, SameFileIsDecidedByIdentityNotSpelling)
{
    ASSERT_TRUE(write_file("a.txt", "a"));
    ASSERT_TRUE(write_file("b.txt", "a"));
    ASSERT_EQ(os_make_directory("sub"), 0);
    EXPECT_EQ(os_same_file("a.txt", "a.txt"), 1);
    EXPECT_EQ(os_same_file("a.txt", "A.TXT"), 1);
    EXPECT_EQ(os_same_file("a.txt", ".\\a.txt"), 1);
    EXPECT_EQ(os_same_file("a.txt", at("a.txt").c_str()), 1);
    EXPECT_EQ(os_same_file("a.txt", "sub\\..\\a.txt"), 1);
    EXPECT_EQ(os_same_file("a.txt", "b.txt"), 0);
    EXPECT_EQ(os_same_file("a.txt", "missing"), 0);
    EXPECT_EQ(os_same_file("missing", "missing"), 0);
    EXPECT_EQ(os_same_file("sub", "SUB"), 1);
    EXPECT_EQ(os_same_file("sub", "a.txt"), 0);
}

// A folder lies inside another by identity, walking up from it to the root: spelling, case,
// ".." and links do not count, and a case twin that Linux keeps apart is not the same folder.
TEST_F(OsFinalPath, LiesInsideIsDecidedByIdentityWalkingUp)
{
    ASSERT_EQ(os_make_directory("a"), 0);
    ASSERT_EQ(os_make_directory("a\\b"), 0);
    ASSERT_EQ(os_make_directory("c"), 0);
    bool links = behind_back_available();
    if (links) {
        ASSERT_EQ(behind_make_link("a\\b", at("lnk")), 0);
        ASSERT_EQ(os_make_directory("t"), 0);
        ASSERT_EQ(os_make_directory("t\\cars"), 0);
        // Made behind the layer's back, which takes names as Windows does.
        ASSERT_EQ(behind_make_folder(at("t\\CARS")), 0);
        ASSERT_EQ(behind_make_link(at("t\\CARS"), at("t\\cars\\out")), 0);
    }
    const struct {
        const char *path, *folder;
        int inside;
        bool needs_links;
    } rows[] = {
        {"a", "a", 1, false},
        {"a\\b", "a", 1, false},
        {"A\\B", "a", 1, false},
        {"a\\b\\..", "a", 1, false},
        {"a\\b", ".", 1, false},
        {"a", "a\\b", 0, false},
        {"c", "a", 0, false},
        {".", "a", 0, false},
        {"..", ".", 0, false},
        {"missing", "a", 0, false},
        {"a", "missing", 0, false},
        {"lnk", "a", 1, true},
        {"lnk", "c", 0, true},
        {"t\\cars\\out", "t\\cars", 0, true},
        {"t\\cars\\out", "t", 1, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.path) + " in " + row.folder);
        if (row.needs_links && !links)
            continue;
        EXPECT_EQ(os_lies_inside(row.path, row.folder), row.inside);
    }
    EXPECT_EQ(os_lies_inside("a\\b", at("a").c_str()), 1) << "relative in absolute";
    EXPECT_EQ(os_lies_inside(at("a\\b").c_str(), "a"), 1) << "absolute in relative";
}

// ---- Folder holds and files opened once ---------------------------------------------------

// Shared holds go together; an exclusive hold goes with no other, in this process as in
// another (Pelmora's tests hold across processes). A folder is known by its identity however
// spelt; a file or nothing is no folder.
TEST_F(OsFiles, FolderHoldsShareReadingAndExcludeWriters)
{
    ASSERT_EQ(os_make_directory("sub"), 0);
    ASSERT_EQ(os_make_directory("other"), 0);
    ASSERT_TRUE(write_file("a.txt", "a"));
    const int modes[] = {OS_HOLD_SHARED, OS_HOLD_EXCLUSIVE};
    for (int first : modes)
        for (int second : modes) {
            SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(second));
            OsFolderHold held, again;
            ASSERT_EQ(os_folder_hold("sub", first, &held), 0);
            EXPECT_EQ(os_folder_hold(".\\SUB", second, &again), first + second > 0 ? 1 : 0);
            os_folder_release(&again);
            os_folder_release(&held);
            ASSERT_EQ(os_folder_hold("sub", second, &again), 0) << "free once released";
            os_folder_release(&again);
        }
    OsFolderId sub, spelt, other;
    ASSERT_EQ(os_folder_id("sub", &sub), 0);
    ASSERT_EQ(os_folder_id(at("SUB").c_str(), &spelt), 0);
    ASSERT_EQ(os_folder_id("other", &other), 0);
    EXPECT_EQ(os_compare_folder_ids(&sub, &spelt), 0);
    EXPECT_EQ(os_compare_folder_ids(&sub, &other), -os_compare_folder_ids(&other, &sub));
    EXPECT_NE(os_compare_folder_ids(&sub, &other), 0);
    OsFolderHold hold;
    EXPECT_EQ(os_folder_id("a.txt", &other), -1);
    EXPECT_EQ(os_folder_hold("a.txt", OS_HOLD_SHARED, &hold), -1);
    EXPECT_EQ(os_folder_hold("missing", OS_HOLD_EXCLUSIVE, &hold), -1);
    EXPECT_EQ(hold.handle, -1);
}

// A file opened once: its status from the handle, its name proven to lead to it inside a
// folder, its content replaced through the handle; a name taken in between is another file
// (Windows refuses to rename a file opened so, which keeps the name on it).
TEST_F(OsFiles, FilesOpenedOnceAreCheckedByNameAndRewrittenThroughTheirHandle)
{
    ASSERT_EQ(os_make_directory("in"), 0);
    ASSERT_EQ(os_make_directory("other"), 0);
    ASSERT_TRUE(write_file(at("in\\car.veh"), "old text"));
    char inside[260], other[260];
    ASSERT_EQ(os_final_path(at("in").c_str(), inside, sizeof inside), 0);
    ASSERT_EQ(os_final_path(at("other").c_str(), other, sizeof other), 0);
    OsOpenFile file;
    ASSERT_EQ(os_open_file(at("IN\\CAR.VEH").c_str(), 1, &file), 0);
    EXPECT_EQ(file.status.is_file, 1);
    EXPECT_EQ(file.status.size, 8u);
    EXPECT_EQ(os_file_is_still_at(&file, at("in\\car.veh").c_str(), inside), 1);
    if (behind_back_available()) {
        ASSERT_EQ(behind_make_link("../in/car.veh", at("other\\link.veh")), 0);
        EXPECT_EQ(os_file_is_still_at(&file, at("other\\link.veh").c_str(), inside), 1);
        EXPECT_EQ(os_file_is_still_at(&file, at("other\\link.veh").c_str(), other), 0);
    }
    // A link to the file of that name in the folder's case twin leads outside the folder.
    ASSERT_TRUE(run_host_tool("mkdir IN && : > IN/twin.veh && ln -s ../IN/twin.veh in/twin.veh"));
    OsOpenFile twin;
    ASSERT_EQ(os_open_file(at("in\\twin.veh").c_str(), 0, &twin), 0);
    EXPECT_EQ(os_file_is_still_at(&twin, at("in\\twin.veh").c_str(), inside), 0);
    EXPECT_EQ(os_close(twin.fd), 0);
    // Deleting the link never deletes the twin's file (Wine shows the link as that file).
    os_delete_file(at("in\\twin.veh").c_str());
    EXPECT_TRUE(run_host_tool("test -f IN/twin.veh"));
    EXPECT_EQ(os_replace_content(&file, "new", 3), 0);
    EXPECT_EQ(read_file(at("in\\car.veh")), "new");
    if (os_rename_no_replace(at("in\\car.veh").c_str(), at("in\\was.veh").c_str()) == 0) {
        ASSERT_TRUE(write_file(at("in\\car.veh"), "another"));
        EXPECT_EQ(os_file_is_still_at(&file, at("in\\car.veh").c_str(), inside), 0);
    } else {
        EXPECT_EQ(os_program_suffix[0], '.') << "only Windows keeps the name on the open file";
    }
    EXPECT_EQ(os_close(file.fd), 0);
    EXPECT_EQ(os_open_file(at("in\\missing.veh").c_str(), 0, &file), -1);
    EXPECT_EQ(file.fd, -1);
    ASSERT_EQ(os_set_attributes(at("in\\car.veh").c_str(), OS_ATTR_READONLY), 0);
    EXPECT_EQ(os_open_file(at("in\\car.veh").c_str(), 1, &file), -1) << "read-only";
    ASSERT_EQ(os_open_file(at("in\\car.veh").c_str(), 0, &file), 0);
    EXPECT_EQ(os_close(file.fd), 0);
    ASSERT_EQ(os_set_attributes(at("in\\car.veh").c_str(), 0), 0);
    int fd = os_create_new(at("in\\made.veh").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(os_close(fd), 0);
    EXPECT_EQ(os_create_new(at("in\\made.veh").c_str()), -1) << "exists";
    // A file made so is deleted through its descriptor, only while its name still holds it.
    fd = os_create_new(at("in\\made2.veh").c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(os_delete_created(fd, at("in\\made2.veh").c_str()), 0);
    EXPECT_EQ(os_exists(at("in\\made2.veh").c_str()), 0);
    fd = os_create_new(at("in\\made2.veh").c_str());
    ASSERT_GE(fd, 0);
    if (os_rename_no_replace(at("in\\made2.veh").c_str(), at("in\\moved.veh").c_str()) == 0) {
        ASSERT_TRUE(write_file(at("in\\made2.veh"), "another"));
        EXPECT_EQ(os_delete_created(fd, at("in\\made2.veh").c_str()), -1);
        EXPECT_EQ(read_file(at("in\\made2.veh")), "another");
    } else {
        EXPECT_EQ(os_program_suffix[0], '.') << "only Windows keeps the name on the open file";
        EXPECT_EQ(os_delete_created(fd, at("in\\made2.veh").c_str()), 0);
    }
}

// ---- Run locks ---------------------------------------------------------------------------

// Run as a child of the lock tests below: tries the lock file named by OS_TEST_LOCK_FILE.
// "try": exits with os_lock_take's result + 10 (released again when taken). "die": takes
// it, writes "killed run" and ends without releasing it, as a killed run would.
TEST(OsLockHelper, TakesTheLockAsTold)
{
    char path[512], mode[16];
    if (os_get_environment("OS_TEST_LOCK_FILE", path, sizeof path) < 0 ||
        os_get_environment("OS_TEST_LOCK_MODE", mode, sizeof mode) < 0)
        GTEST_SKIP() << "runs only as a child of the lock tests";
    if (strcmp(mode, "inherited") == 0) {
        // The holder's descriptor, open here, reads as the lock file holds it.
        char number[16], content[16] = "";
        int fd =
            os_get_environment("OS_TEST_LOCK_FD", number, sizeof number) > 0 ? atoi(number) : -1;
        int32_t got = fd >= 0 ? os_read(fd, content, sizeof content - 1) : -1;
        fflush(nullptr);
        exit(got == 6 && memcmp(content, "record", 6) == 0 ? 30 : 31);
    }
    OsRunLock lock;
    int result = os_lock_take(path, &lock, "killed", nullptr, 0);
    if (strcmp(mode, "die") == 0) {
        if (result == 0)
            os_lock_write(&lock, "killed run");
        fflush(nullptr);
        _Exit(result == 0 ? 20 : 21);
    }
    if (result == 0)
        os_lock_release(&lock);
    fflush(nullptr);
    exit(result + 10);
}

// The text of a lock file, held or not, read through a descriptor as any reader would, cut to
// size - 1 bytes; "<unreadable>" when it cannot be opened.
static std::string lock_text(const std::string &path, uint32_t size = 64)
{
    int fd = os_open(path.c_str(), OS_OPEN_READ);
    if (fd < 0)
        return "<unreadable>";
    std::string text(size - 1, '\0');
    int32_t got = os_read(fd, &text[0], size - 1);
    os_close(fd);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

class OsLock : public TempFolderTest
{
  protected:
    // Runs this test program as the lock helper on the lock file at path; its exit status.
    int run_helper(const char *mode, const std::string &path)
    {
        os_set_environment("OS_TEST_LOCK_FILE", path.c_str());
        os_set_environment("OS_TEST_LOCK_MODE", mode);
        ProgramRun run =
            run_program(built_program("os_test"), "os_test --gtest_filter=OsLockHelper.*");
        os_set_environment("OS_TEST_LOCK_FILE", nullptr);
        os_set_environment("OS_TEST_LOCK_MODE", nullptr);
        return run.started ? run.exit_status : -1;
    }
};

TEST_F(OsLock, IsTakenHeldReadableAndReleased)
{
    OsRunLock lock, second;
    char previous[64] = "junk";
    ASSERT_EQ(os_lock_take("run.lock", &lock, nullptr, previous, sizeof previous), 0);
    EXPECT_STREQ(previous, "");
    // Made as any other file, so that another user's run can take it over later.
    ASSERT_TRUE(write_file("other", ""));
    EXPECT_TRUE(run_host_tool("sh -c \"test $(stat -c %a run.lock) = $(stat -c %a other)\""));
    EXPECT_EQ(os_lock_write(&lock, "first record, longer"), 0);
    EXPECT_EQ(os_lock_write(&lock, "tmp is ours"), 0);
    EXPECT_EQ(lock_text(at("RUN.LOCK")), "tmp is ours")
        << "rewritten in place and cut to its length";
    EXPECT_EQ(lock_text("run.lock", 4), "tmp");
    // Windows cannot tell a run from any program that holds the file open.
    const int held = on_posix() ? OS_LOCK_HELD : OS_LOCK_IN_USE;
    EXPECT_EQ(os_lock_take(at("Run.Lock").c_str(), &second, nullptr, previous, sizeof previous),
              held);
    EXPECT_EQ(second.handle, -1);
    EXPECT_STREQ(previous, "") << "a refused take reads nothing";
    EXPECT_EQ(run_helper("try", at("run.lock")), 10 + held);
    EXPECT_EQ(lock_text("run.lock"), "tmp is ours") << "a refused take writes nothing";
    EXPECT_EQ(lock_text("none.lock"), "<unreadable>");
    EXPECT_EQ(os_exists("none.lock"), 0) << "looking creates nothing";
    // The holder changes its current folder; the release still finds its file.
    ASSERT_EQ(os_make_directory("elsewhere"), 0);
    ASSERT_EQ(os_change_directory("elsewhere"), 0);
    os_lock_release(&lock);
    EXPECT_EQ(lock.handle, -1);
    os_lock_release(&lock);
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    EXPECT_EQ(os_exists("run.lock"), 0);
    EXPECT_EQ(lock_text("run.lock"), "<unreadable>");
    EXPECT_EQ(run_helper("try", at("run.lock")), 10);
    EXPECT_EQ(os_exists("run.lock"), 0);
}

TEST_F(OsLock, IsInheritedByStartedPrograms)
{
    if (!on_posix())
        GTEST_SKIP() << "a Windows handle is no C runtime descriptor for os_read";
    OsRunLock lock;
    ASSERT_EQ(os_lock_take("tmp.lock", &lock, nullptr, nullptr, 0), 0);
    ASSERT_EQ(os_lock_write(&lock, "record"), 0);
    os_set_environment("OS_TEST_LOCK_FD", std::to_string(lock.handle).c_str());
    EXPECT_EQ(run_helper("inherited", at("tmp.lock")), 30);
    os_set_environment("OS_TEST_LOCK_FD", nullptr);
    os_lock_release(&lock);
}

TEST_F(OsLock, LeftByAnEndedRunIsTakenOverWithItsRecord)
{
    ASSERT_EQ(run_helper("die", at("tmp.lock")), 20);
    char previous[64] = "junk";
    OsRunLock lock;
    EXPECT_EQ(lock_text("tmp.lock"), "killed run");
    EXPECT_EQ(os_exists("tmp.lock"), 1) << "looking removes nothing";
    // Nobody holds it any more: the take succeeds at once, in this process and in another.
    EXPECT_EQ(run_helper("try", at("tmp.lock")), 10);
    ASSERT_TRUE(write_file("tmp.lock", "killed run"));
    ASSERT_EQ(os_lock_take("tmp.lock", &lock, "killed", previous, sizeof previous), 0);
    EXPECT_STREQ(previous, "killed run");
    os_lock_release(&lock);
    // A file nobody holds is taken over when its text is the caller's, cut to the buffer.
    ASSERT_TRUE(write_file("tmp.lock", "left by hand"));
    ASSERT_EQ(os_lock_take("tmp.lock", &lock, "left", previous, 5), 0);
    EXPECT_STREQ(previous, "left");
    os_lock_release(&lock);
    EXPECT_EQ(os_exists("tmp.lock"), 0);
}

TEST_F(OsLock, FailsWithTheSystemsReasonWhereNoFileCanBeMade)
{
    ASSERT_TRUE(write_file("file", "x"));
    const char *paths[] = {"missing\\tmp.lock", "file\\tmp.lock"};
    for (const char *path : paths) {
        OsRunLock lock;
        char previous[8] = "junk", reason[128] = "";
        EXPECT_EQ(os_lock_take(path, &lock, nullptr, previous, sizeof previous), -1) << path;
        EXPECT_NE(os_error_text(reason, sizeof reason)[0], '\0') << path;
        EXPECT_STREQ(previous, "") << path;
        EXPECT_EQ(lock.handle, -1) << path;
    }
    OsRunLock lock;
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(os_lock_take("tmp.lock", &lock, nullptr, nullptr, 0), -1);
    EXPECT_EQ(os_exists("tmp.lock"), 0);
    ASSERT_EQ(os_lock_take("tmp.lock", &lock, nullptr, nullptr, 0), 0);
    os_inject_fault(OS_FAULT_WRITE, 1);
    EXPECT_EQ(os_lock_write(&lock, "record"), -1);
    os_lock_release(&lock);
}

// Lock files found as another program or a stranger's car pack left them, made with the
// system's own tools on both targets (under Wine a Linux link looks like a plain file). Each
// is refused with what it is, and nothing is created, written or removed, there or elsewhere.
TEST_F(OsLock, RefusesWhatIsNoPlainFileOfItsOwnAndTouchesNothing)
{
    const struct {
        const char *what;
        const char *make; // run in the test folder; "car\tmp.lock" is the lock file
        int result;
    } rows[] = {
        {"a link to a file outside", "ln -s ../outside.txt car/tmp.lock", OS_LOCK_LINK},
        {"a dangling link", "ln -s ../nowhere.txt car/tmp.lock", OS_LOCK_LINK},
        {"a link to the lock file of the folder's case twin",
         "mkdir CAR && : > CAR/tmp.lock && ln -s ../CAR/tmp.lock car/tmp.lock", OS_LOCK_LINK},
        {"a link to its case twin beside it", ": > car/TMP.LOCK && ln -s TMP.LOCK car/tmp.lock",
         OS_LOCK_LINK},
        {"a hard link to the car's archive", "ln car/1gt500.mas car/tmp.lock", OS_LOCK_HARD_LINK},
        {"a folder", "mkdir car/tmp.lock", OS_LOCK_FOLDER},
        {"a FIFO", "mkfifo car/tmp.lock", OS_LOCK_DEVICE},
        {"a device", "mknod car/tmp.lock c 1 3", OS_LOCK_DEVICE},
        {"read-only", "chmod 444 car/tmp.lock", OS_LOCK_READ_ONLY},
        {"foreign text", "", OS_LOCK_FOREIGN},
    };
    ASSERT_EQ(os_make_directory("car"), 0);
    ASSERT_TRUE(write_file("outside.txt", "user's notes"));
    ASSERT_TRUE(write_file("car\\1gt500.mas", "car archive"));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.result == OS_LOCK_READ_ONLY || row.result == OS_LOCK_FOREIGN) {
            ASSERT_TRUE(write_file("car\\tmp.lock", "a note from another tool"));
        }
        if (row.make[0]) {
            ASSERT_TRUE(run_host_tool(row.make)) << row.make;
        }
        OsRunLock lock;
        char previous[32] = "junk";
        EXPECT_EQ(os_lock_take("car\\tmp.lock", &lock, "Zandrel's", previous, sizeof previous),
                  row.result);
        EXPECT_EQ(lock.handle, -1);
        EXPECT_STREQ(previous, "");
        EXPECT_STRNE(os_lock_refusal(row.result), "");
        os_lock_release(&lock);
        EXPECT_EQ(read_file("outside.txt"), "user's notes");
        EXPECT_EQ(read_file("car\\1gt500.mas"), "car archive");
        // Wine lists no dangling link, so the lock file's own name is left out here, and
        // the twins, whose emptiness tells that nothing was written there.
        std::set<std::string> top = names_in(dir), car = names_in("car");
        if (top.erase("CAR")) {
            EXPECT_EQ(read_file("CAR\\tmp.lock"), "");
        }
        EXPECT_EQ(top, (std::set<std::string>{"car", "outside.txt"}));
        car.erase("tmp.lock");
        if (car.erase("TMP.LOCK")) {
            EXPECT_EQ(read_file("car\\TMP.LOCK"), "");
        }
        EXPECT_EQ(car, std::set<std::string>{"1gt500.mas"});
        ASSERT_TRUE(run_host_tool("rm -rf car/tmp.lock car/TMP.LOCK CAR"));
    }
}

using OsLockCodePage = TempFolderTest;

// A lock file inside a folder whose name ends in 5C in cp932 is taken, refused to a second
// taker, read and removed as in any other folder.
TEST_F(OsLockCodePage, WorksInFoldersOfAnyScript)
{
    for (const char *folder : {"\u80fd", "\u8868", "\u0413\u043e\u043d\u043a\u0438"}) {
        ASSERT_EQ(os_make_directory(folder), 0) << folder;
        const std::string path = std::string(folder) + "\\run.lock";
        OsRunLock lock, second;
        ASSERT_EQ(os_lock_take(path.c_str(), &lock, nullptr, nullptr, 0), OS_LOCK_TAKEN) << folder;
        EXPECT_EQ(os_compare_names(lock.path, at(path).c_str()), 0) << lock.path;
        ASSERT_EQ(os_lock_write(&lock, "ours"), 0);
        EXPECT_EQ(lock_text(path), "ours");
        const int held = on_posix() ? OS_LOCK_HELD : OS_LOCK_IN_USE;
        EXPECT_EQ(os_lock_take(at(path).c_str(), &second, nullptr, nullptr, 0), held) << folder;
        os_lock_release(&lock);
        EXPECT_EQ(os_exists(path.c_str()), 0) << folder;
    }
}

using OsHeldFolders = TempFolderTest;

// A held folder is reached through its hold, never by its path again: its parent renamed
// meanwhile and another folder made under the old name cannot send a removal there. Links
// show as links and are never held. (Windows relies on the system refusing to rename a
// folder while a folder below it is held; Wine does not refuse, so this runs natively.)
TEST_F(OsHeldFolders, AreReachedThroughTheHoldAfterTheirParentIsRenamed)
{
    if (!behind_back_available())
        GTEST_SKIP() << "folders are renamed behind the layer's back with the POSIX calls only";
    ASSERT_EQ(os_make_directory("a"), 0);
    ASSERT_EQ(os_make_directory("a\\t"), 0);
    ASSERT_EQ(os_make_directory("a\\t\\s"), 0);
    ASSERT_TRUE(write_file("a\\t\\x", "ours"));
    ASSERT_TRUE(write_file("a\\t\\s\\y", "ours"));
    ASSERT_EQ(behind_make_link(at("a"), at("a\\t\\lnk")), 0);
    OsHeldFolder *t = os_hold_folder(at("a\\t").c_str());
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(behind_rename(at("a"), at("b")), 0);
    ASSERT_EQ(behind_make_folder(at("a")), 0);
    ASSERT_EQ(behind_make_folder(at("a\\t")), 0);
    ASSERT_EQ(behind_make_folder(at("a\\t\\s")), 0);
    ASSERT_TRUE(write_file(at("a\\t\\x"), "another's"));
    OsDirEntry entry;
    std::set<std::string> listed;
    while (os_held_next(t, &entry) == 1)
        listed.insert(entry.name + std::string(entry.attributes & OS_ATTR_LINK ? " link" : ""));
    EXPECT_EQ(listed, (std::set<std::string>{"lnk link", "s", "x"}));
    EXPECT_EQ(os_hold_subfolder(t, "lnk"), nullptr);
    EXPECT_EQ(os_held_delete(t, "x"), 0);
    EXPECT_EQ(os_held_delete(t, "s"), -1) << "a folder is no file";
    OsHeldFolder *s = os_hold_subfolder(t, "s");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(os_held_delete(s, "y"), 0);
    EXPECT_EQ(os_release_folder(s, 1), 0);
    EXPECT_EQ(os_held_delete(t, "lnk"), 0);
    EXPECT_EQ(os_release_folder(t, 1), -1) << "a folder held by its path is never removed";
    EXPECT_EQ(names_in(at("b\\t")), std::set<std::string>{});
    EXPECT_EQ(names_in(at("b")), std::set<std::string>{"t"});
    EXPECT_EQ(read_file(at("a\\t\\x")), "another's");
    EXPECT_EQ(names_in(at("a\\t")), (std::set<std::string>{"s", "x"}));
}

// ---- Another program's moment on a file ------------------------------------------------

// What another program's open file may refuse on Windows, done through the layer on the file
// at path (absolute), which holds "x". 0 when done.
struct RefusedRow {
    const char *what;
    bool share_reading; // held as a scanner holds (sharing reading) or a paint program (nothing)
    int (*operation)(const std::string &path);
};

static int close_if_open(int fd)
{
    return fd >= 0 && os_close(fd) == 0 ? 0 : -1;
}

static int close_if_opened(FILE *stream)
{
    return stream && os_close_stream(stream) == 0 ? 0 : -1;
}

static const RefusedRow REFUSED_ROWS[] = {
    {"rename", true,
     [](const std::string &path) {
         return os_rename_no_replace(path.c_str(), (path + "-moved").c_str());
     }},
    {"delete", true, [](const std::string &path) { return os_delete_file(path.c_str()); }},
    {"delete in a held folder", true,
     [](const std::string &path) {
         size_t cut = path.rfind('\\');
         OsHeldFolder *folder = os_hold_folder(path.substr(0, cut).c_str());
         int result = folder ? os_held_delete(folder, path.c_str() + cut + 1) : -1;
         os_release_folder(folder, 0);
         return result;
     }},
    {"open for writing", true,
     [](const std::string &path) {
         return close_if_open(os_open(path.c_str(), OS_OPEN_READ_WRITE));
     }},
    {"create over it", true,
     [](const std::string &path) {
         return close_if_open(
             os_open(path.c_str(), OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE));
     }},
    {"stream that writes", true,
     [](const std::string &path) { return close_if_opened(os_open_stream(path.c_str(), "w")); }},
    {"open once for writing", true,
     [](const std::string &path) {
         OsOpenFile file;
         return os_open_file(path.c_str(), 1, &file) == 0 ? close_if_open(file.fd) : -1;
     }},
    {"open for reading what shares nothing", false,
     [](const std::string &path) { return close_if_open(os_open(path.c_str(), OS_OPEN_READ)); }},
    {"stream that reads what shares nothing", false,
     [](const std::string &path) { return close_if_opened(os_open_stream(path.c_str(), "rb")); }},
};

using OsAnotherProgram = TempFolderTest;

TEST_F(OsAnotherProgram, HoldingAFileForAMomentIsWaitedOut)
{
    for (const RefusedRow &row : REFUSED_ROWS) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(write_file("held", "x"));
        ASSERT_TRUE(scanner_open(at("held"), row.share_reading));
        scanner_close_after(100);
        EXPECT_EQ(row.operation(at("held")), 0);
        scanner_close();
        remove_all(at("held"));
        remove_all(at("held-moved"));
    }
}

TEST_F(OsAnotherProgram, HoldingAFilePastTheWaitFailsWithTheSystemsReason)
{
    ASSERT_EQ(os_open("missing", OS_OPEN_READ), -1);
    char text[200];
    std::string not_found = os_error_text(text, sizeof text);
    for (const RefusedRow &row : REFUSED_ROWS) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(write_file("held", "x"));
        ASSERT_TRUE(scanner_open(at("held"), row.share_reading));
        int result = row.operation(at("held"));
        bool sharing = last_failure_was_sharing();
        std::string words = os_error_text(text, sizeof text);
        scanner_close();
        if (on_posix()) {
            EXPECT_EQ(result, 0) << "an open file refuses no one on POSIX";
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_TRUE(sharing) << words;
            EXPECT_NE(words, not_found);
            EXPECT_EQ(read_file(at("held")), "x");
        }
        remove_all(at("held"));
        remove_all(at("held-moved"));
    }
}

TEST_F(OsAnotherProgram, WaitIsOneOperationForFaultsAndNeverFollowsOtherFailures)
{
    ASSERT_TRUE(write_file("held", "x"));
    ASSERT_TRUE(scanner_open(at("held"), true));
    scanner_close_after(100);
    os_inject_fault(OS_FAULT_RENAME, 2);
    EXPECT_EQ(os_rename_no_replace("held", "moved"), 0);
    EXPECT_EQ(os_fault_armed(OS_FAULT_RENAME), 1) << "tries of one rename counted apart";
    scanner_close();
    EXPECT_EQ(os_rename_no_replace("moved", "held"), -1);
    EXPECT_EQ(os_fault_armed(OS_FAULT_RENAME), 0);

    // An injected fault fails at once, held file or not: no system call is made for it.
    ASSERT_TRUE(scanner_open(at("moved"), true));
    os_inject_fault(OS_FAULT_DELETE, 1);
    uint32_t before = os_system_calls();
    EXPECT_EQ(os_delete_file("moved"), -1);
    EXPECT_EQ(os_system_calls() - before, 0u);
    EXPECT_FALSE(last_failure_was_sharing());
    scanner_close();

    // A read-only file is refused at once, in the calls one try of a delete makes.
    ASSERT_TRUE(write_file("plain", "x"));
    ASSERT_EQ(os_set_attributes("moved", OS_ATTR_READONLY), 0);
    before = os_system_calls();
    EXPECT_EQ(os_delete_file("moved"), -1);
    uint32_t refused = os_system_calls() - before;
    before = os_system_calls();
    EXPECT_EQ(os_delete_file("plain"), 0);
    EXPECT_LE(refused, os_system_calls() - before);
    EXPECT_EQ(read_file(at("moved")), "x");
    ASSERT_EQ(os_set_attributes("moved", 0), 0);
}
