// Zandrel among other runs: the work folder's lock file, the record of "tmp" a stopped run
// leaves, links that lead out of the work folder, text from the job list printed visibly,
// and sweeps that start two runs at once or stop one half-way with a slow archive tool.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <chrono>
#include <random>
#include <thread>

#include "background.h"
#include "behind_back.h"
#include "zandrel_fixture.h"

namespace
{

const char TOKEN[] = "0123456789abcdef0123456789abcdef";
const char RECORD[] = "Zandrel's scratch folder tmp\nfolder: ID\ntoken: TOKEN\n"
                      "new archive: 2gt500.mas\npacking\nearlier archive: 2gt500.mas.bak\nend\n";

// The record with "ID" standing for the identity of folder and "TOKEN" for TOKEN, as
// Zandrel writes it.
std::string record_for(std::string record, const std::string &folder)
{
    OsFolderId id = {0, 0};
    char text[40];
    os_folder_id(folder.c_str(), &id);
    snprintf(text, sizeof text, "%llx %llx", static_cast<unsigned long long>(id.volume),
             static_cast<unsigned long long>(id.index));
    size_t at = record.find("ID");
    if (at != std::string::npos)
        record.replace(at, 2, text);
    at = record.find("TOKEN");
    return at == std::string::npos ? record : record.replace(at, 5, TOKEN);
}

// The mark of token as a run leaves it in its tmp.
std::string mark_text(const std::string &token)
{
    return "Zandrel's mark of tmp: " + token + "\n";
}

// Where a run leaves its mark in its tmp.
const char MARK_FOLDER[] = "\\~mark";
const char MARK[] = "\\~mark\\zandrel";

// Leaves the mark of TOKEN in tmp, as the run that wrote a record of TOKEN does.
bool write_mark(const std::string &tmp)
{
    os_make_directory((tmp + MARK_FOLDER).c_str());
    return write_file(tmp + MARK, mark_text(TOKEN));
}

// The line of a Zandrel that finds the lock of folder taken: Windows cannot tell another run
// from any program that holds tmp.lock open.
std::string busy_line(const std::string &folder)
{
    if (os_program_suffix[0] == '\0')
        return "Another Zandrel is working in " + folder + ": no job run\n";
    return "tmp.lock in " + folder + " is open in another program (another Zandrel, an archive "
                                     "tool one started, or a viewer): no job run\n";
}

bool says_busy(const std::string &out)
{
    return out.find("Another Zandrel is working in ") != std::string::npos ||
           out.find(" is open in another program (another Zandrel") != std::string::npos;
}

class ZandrelRuns : public Zandrel
{
  protected:
    std::string head(const std::string &list = "Zandrel.LST")
    {
        return std::string(BANNER) + "processing job file: " + list + "\n\n";
    }
    // 1 when 2gt500.mas holds exactly the cloned car.
    bool clone_is_whole(const std::string &folder)
    {
        std::set<std::string> names = extract("2gt500.mas", folder);
        bool whole = names == cloned_names();
        remove_all(at(folder));
        return whole;
    }
};

TEST_F(ZandrelRuns, RefusesToWorkWhereAnotherZandrelOrARenamedCopyWorks)
{
    make_car_folder();
    install(built_program("Zandrel"), std::string("Setup") + os_program_suffix);
    ASSERT_TRUE(write_file(at("Setup.LST"), EXAMPLE_JOB));
    OsRunLock lock;
    ASSERT_EQ(os_lock_take(at("tmp.lock").c_str(), &lock, nullptr, nullptr, 0), 0);
    for (const char *name : {"Zandrel", "Setup"}) {
        ProgramRun run = run_zandrel(name);
        EXPECT_EQ(run.out, head(std::string(name) + ".LST") + busy_line(dir));
        expect_exit_status(run, 1);
        EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
        EXPECT_EQ(os_exists(at("2gt500.mas").c_str()), 0);
    }
    os_lock_release(&lock);
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_EQ(os_exists(at("tmp.lock").c_str()), 0) << "released and removed before the end";
    EXPECT_TRUE(clone_is_whole("check"));
}

// A tmp.lock as a stranger's car pack or another program may leave it, made with the
// system's own tools on both targets: one line names it and says what it is, no job runs, and
// nothing is created, written or removed, in the car folder or outside it.
TEST_F(ZandrelRuns, RefusesALockFileThatIsNoPlainFileOfItsOwnAndTouchesNothing)
{
    const struct {
        const char *what, *make; // make: run in the car folder
        const char *said;
    } rows[] = {
        {"a link to a file outside", "ln -s ../outside.txt tmp.lock",
         "is a symbolic link or junction: remove the link (not what it leads to)"},
        {"a dangling link", "ln -s ../nowhere.txt tmp.lock",
         "is a symbolic link or junction: remove the link (not what it leads to)"},
        {"a hard link to the car's archive", "ln 1gt500.mas tmp.lock",
         "is a second name of another file (a hard link): delete this name"},
        {"a folder", "mkdir tmp.lock", "is a folder: move it away"},
        {"a FIFO", "mkfifo tmp.lock", "is a pipe or a device, not a file: remove it"},
        {"a device", "mknod tmp.lock c 1 3", "is a pipe or a device, not a file: remove it"},
        {"read-only", "chmod 444 tmp.lock",
         "is read-only (unpacked from a CD or a read-only zip): clear its read-only attribute, "
         "or delete it"},
        {"foreign text", "", "holds text of another program: move it away"},
    };
    dir = top + "\\car";
    ASSERT_EQ(os_make_directory(dir.c_str()), 0);
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    make_car_folder();
    ASSERT_TRUE(write_file(top + "\\outside.txt", "user's notes"));
    const std::string archive = read_file(at("1gt500.mas"));
    const std::set<std::string> car = names_in(dir);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.make[0] == '\0' || strncmp(row.make, "chmod", 5) == 0) {
            ASSERT_TRUE(write_file(at("tmp.lock"), "a note from another tool"));
        }
        if (row.make[0]) {
            ASSERT_TRUE(run_host_tool(row.make)) << row.make;
        }
        ProgramRun run = run_zandrel();
        EXPECT_EQ(run.out, head() + "tmp.lock in " + dir + " " + row.said + ", no job run\n");
        expect_exit_status(run, 1);
        EXPECT_EQ(read_file(top + "\\outside.txt"), "user's notes");
        EXPECT_TRUE(read_file(at("1gt500.mas")) == archive);
        EXPECT_EQ(names_in(top), (std::set<std::string>{"car", "outside.txt"}));
        std::set<std::string> found = names_in(dir);
        found.erase("tmp.lock"); // Wine lists no dangling link
        EXPECT_EQ(found, car);
        ASSERT_TRUE(run_host_tool("rm -rf tmp.lock"));
    }
}

// A lock file that nobody holds is taken over; its record of "tmp" says that tmp may be
// cleared, and only a whole record does.
TEST_F(ZandrelRuns, ClearsTheScratchFolderOnlyAStoppedRunRecorded)
{
    const std::string cleared = "Cleared the scratch folder tmp left by a Zandrel stopped while "
                                "making 2gt500.mas: ";
    const struct {
        const char *what;
        std::string record; // "ID" stands for the identity of the tmp found
        bool aside, made;   // an earlier archive kept aside; 2gt500.mas there
        std::string said;   // "" when tmp stays
    } rows[] = {
        {"packing, aside kept", RECORD, true, true,
         cleared + "2gt500.mas may be damaged, the earlier one is kept as 2gt500.mas.bak\n"},
        {"packing, aside gone", RECORD, false, true, cleared + "2gt500.mas may be damaged\n"},
        {"packing, nothing packed yet", RECORD, true, false,
         cleared + "2gt500.mas was not made, the earlier one is kept as 2gt500.mas.bak\n"},
        {"unpacking",
         "Zandrel's scratch folder tmp\nfolder: ID\ntoken: TOKEN\nnew archive: 2gt500.mas\n"
         "earlier archive: \nend\n",
         false, true, cleared + "2gt500.mas was not touched yet\n"},
        {"rewritten over a longer record", std::string(RECORD) + "ive: x\nend\n", false, true,
         cleared + "2gt500.mas may be damaged\n"},
        {"torn record", std::string(RECORD).substr(0, sizeof RECORD - 5), true, true, ""},
        {"empty lock file", "", true, true, ""},
        {"a record for another tmp", "bmp", true, true, ""},
        {"a 1.2.0 record",
         "Zandrel's scratch folder tmp\nnew archive: 2gt500.mas\npacking\nearlier archive: "
         "2gt500.mas.bak\nend\n",
         true, true, ""},
        {"a record naming paths outside",
         "Zandrel's scratch folder tmp\nfolder: ID\ntoken: TOKEN\nnew archive: ..\\user\\x.mas\n"
         "packing\n"
         "earlier archive: ..\\user\\notes.txt\nend\n",
         true, true, ""},
        {"a record with a link inside tmp", RECORD, false, true,
         cleared + "2gt500.mas may be damaged\n"},
    };
    make_car_folder();
    ASSERT_EQ(os_make_directory(at("user").c_str()), 0);
    ASSERT_TRUE(write_file(at("user\\notes.txt"), "user's notes"));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        os_make_directory(at("tmp").c_str());
        ASSERT_TRUE(write_file(at("tmp\\2GT5VA.VRL"), "half packed"));
        ASSERT_TRUE(write_mark(at("tmp")));
        const bool link_inside = strstr(row.what, "a link inside") != nullptr;
        if (link_inside) {
            ASSERT_TRUE(run_host_tool("ln -s ../user tmp/user"));
        }
        ASSERT_TRUE(write_file(at("tmp.lock"), row.record == "bmp"
                                                   ? record_for(RECORD, at("bmp"))
                                                   : record_for(row.record, at("tmp"))));
        if (row.made) {
            ASSERT_TRUE(write_file(at("2gt500.mas"), "damaged"));
        } else {
            os_delete_file(at("2gt500.mas").c_str());
        }
        if (row.aside) {
            ASSERT_TRUE(write_file(at("2gt500.mas.bak"), "earlier archive"));
        }
        ProgramRun run = run_zandrel();
        if (link_inside && os_program_suffix[0] != '\0') {
            // Wine shows the Linux link as the folder it leads to, which is never entered.
            const std::string stays = cleared.substr(0, cleared.size() - 2) + " (not wholly: ";
            EXPECT_NE(run.out.find(stays), std::string::npos) << run.out;
            expect_exit_status(run, 1);
            ASSERT_TRUE(run_host_tool("rm -rf tmp"));
        } else if (row.said.empty()) {
            EXPECT_NE(run.out.find("Folder '" + dir + "\\tmp' is not empty"), std::string::npos)
                << run.out;
            EXPECT_EQ(read_file(at("tmp\\2GT5VA.VRL")), "half packed");
            expect_exit_status(run, 1);
            remove_all(at("tmp"));
        } else {
            EXPECT_EQ(run.out.substr(0, head().size() + row.said.size()), head() + row.said);
            EXPECT_NE(run.out.find("2gt500.mas made"), std::string::npos) << run.out;
            expect_exit_status(run, 0);
            EXPECT_TRUE(clone_is_whole("check"));
        }
        EXPECT_EQ(read_file(at("2gt500.mas.bak")), row.aside ? "earlier archive" : "<missing>");
        EXPECT_EQ(os_exists(at("tmp.lock").c_str()), 0);
        EXPECT_EQ(read_file(at("user\\notes.txt")), "user's notes");
        os_delete_file(at("2gt500.mas.bak").c_str());
    }
}

// A tmp made where a stopped run's tmp was deleted may get that folder's identity, which is
// what a record forged with the new folder's identity stands for: the record is believed only
// with the mark of its token inside, a plain file of tmp's own. Else the user's files stay,
// with the lines and exit status a tmp without a record gets; what a link leads to stays too.
TEST_F(ZandrelRuns, BelievesARecordOfTheScratchFolderOnlyWithTheMarkOfItsToken)
{
    const struct {
        const char *what;
        std::string make; // "" for no mark; a host command is run in the car folder
        bool cleared;
    } rows[] = {
        {"no mark", "", false},
        {"a mark of another token", "other", false},
        {"an empty mark", "empty", false},
        {"a mark that is a link to the right mark outside",
         "ln -s ../../outside/zandrel tmp/~mark/zandrel", false},
        {"a mark folder that is a link to a folder with the right mark",
         "ln -s ../outside tmp/~mark", false},
        {"a mark folder that is a link to its case twin with the right mark",
         "mkdir tmp/~MARK && cp outside/zandrel tmp/~MARK/ && ln -s '~MARK' tmp/~mark", false},
        {"a mark that is a link to its case twin, the right mark",
         "cp outside/zandrel tmp/~mark/ZANDREL && ln -s ZANDREL tmp/~mark/zandrel", false},
        {"a mark with a second name", "ln outside/zandrel tmp/~mark/zandrel", false},
        {"the mark of the record's token", "mark", true},
    };
    make_car_folder();
    ASSERT_EQ(os_make_directory(at("outside").c_str()), 0);
    ASSERT_TRUE(write_file(at("outside\\zandrel"), mark_text(TOKEN)));
    ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
    ASSERT_TRUE(write_file(at("tmp\\notes.txt"), "the user's own"));
    const ProgramRun unrecorded = run_zandrel();
    ASSERT_NE(unrecorded.out.find("Folder '" + dir + "\\tmp' is not empty"), std::string::npos)
        << unrecorded.out;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        remove_all(at("tmp"));
        ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
        ASSERT_TRUE(write_file(at("tmp\\notes.txt"), "the user's own"));
        if (row.make.find("~mark/") != std::string::npos ||
            (!row.make.empty() && row.make.find(' ') == std::string::npos)) {
            os_make_directory((at("tmp") + MARK_FOLDER).c_str());
        }
        if (row.make == "other") {
            ASSERT_TRUE(
                write_file(at("tmp") + MARK, mark_text("fedcba9876543210fedcba9876543210")));
        } else if (row.make == "empty") {
            ASSERT_TRUE(write_file(at("tmp") + MARK, ""));
        } else if (row.make == "mark") {
            ASSERT_TRUE(write_mark(at("tmp")));
        } else if (!row.make.empty()) {
            ASSERT_TRUE(run_host_tool(row.make)) << row.make;
        }
        ASSERT_TRUE(write_file(at("tmp.lock"), record_for(RECORD, at("tmp"))));
        ProgramRun run = run_zandrel();
        if (row.cleared) {
            EXPECT_EQ(run.out.substr(head().size(), 26), "Cleared the scratch folder") << run.out;
            expect_exit_status(run, 0);
            EXPECT_TRUE(clone_is_whole("check"));
        } else {
            EXPECT_EQ(run.out, unrecorded.out);
            EXPECT_EQ(run.exit_status, unrecorded.exit_status);
            EXPECT_EQ(read_file(at("tmp\\notes.txt")), "the user's own");
        }
        EXPECT_EQ(read_file(at("outside\\zandrel")), mark_text(TOKEN));
        EXPECT_EQ(os_exists(at("tmp.lock").c_str()), 0);
        ASSERT_TRUE(run_host_tool("rm -rf tmp"));
    }
}

// A run stopped while it made its mark leaves tmp holding the mark folder alone, empty or with
// a mark no record names: the next run goes on in that tmp. Anything else in the mark folder
// keeps tmp as a tmp without a record.
TEST_F(ZandrelRuns, GoesOnWhereAStoppedRunLeftOnlyTheStartOfItsMark)
{
    const struct {
        const char *what;
        const char *file; // in the mark folder; null for none
        std::string text;
        bool goes_on;
    } rows[] = {
        {"an empty mark folder", nullptr, "", true},
        {"an empty mark", "\\zandrel", "", true},
        {"a whole mark that no record names", "\\zandrel", mark_text(TOKEN), true},
        {"a file of the user's in the mark folder", "\\notes.txt", "the user's own", false},
    };
    make_car_folder();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
        ASSERT_EQ(os_make_directory((at("tmp") + MARK_FOLDER).c_str()), 0);
        if (row.file) {
            ASSERT_TRUE(write_file(at("tmp") + MARK_FOLDER + row.file, row.text));
        }
        ProgramRun run = run_zandrel();
        if (row.goes_on) {
            expect_exit_status(run, 0);
            EXPECT_TRUE(clone_is_whole("check"));
            EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
        } else {
            EXPECT_NE(run.out.find("Folder '" + dir + "\\tmp' is not empty"), std::string::npos)
                << run.out;
            EXPECT_EQ(read_file(at("tmp") + MARK_FOLDER + row.file), row.text);
        }
        remove_all(at("tmp"));
        remove_all(at("check"));
    }
}

// A run's mark never reaches the new archive, and a job's end leaves neither mark nor tmp.
TEST_F(ZandrelRuns, LeavesItsMarkOutOfTheNewArchive)
{
    make_car_folder();
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    EXPECT_TRUE(clone_is_whole("check"));
    EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
}

// A tmp.lock left by a stopped run of an earlier release carries no token: nothing is
// cleared, but its note on the earlier archive is passed on in one line, as for a record of
// this release, and a later job that makes the archive keeps that earlier one.
TEST_F(ZandrelRuns, PassesOnWhatARecordOfAnEarlierReleaseSaysAndClearsNothing)
{
    const std::string said = "A Zandrel of an earlier release was stopped while making "
                             "2gt500.mas: ";
    const std::string of_1_2 = "Zandrel's scratch folder tmp\nnew archive: 2gt500.mas\n";
    const struct {
        const char *what;
        std::string record;
        bool tmp, aside, made; // tmp left; an earlier archive kept aside; 2gt500.mas there
        std::string line;
    } rows[] = {
        {"1.2.0, packing", of_1_2 + "packing\nearlier archive: 2gt500.mas.bak\nend\n", true, true,
         true, said + "2gt500.mas may be damaged, the earlier one is kept as 2gt500.mas.bak\n"},
        {"1.2.0, packing, tmp removed by hand",
         of_1_2 + "packing\nearlier archive: 2gt500.mas.bak\nend\n", false, true, true,
         said + "2gt500.mas may be damaged, the earlier one is kept as 2gt500.mas.bak\n"},
        {"1.2.0, nothing packed yet", of_1_2 + "packing\nearlier archive: 2gt500.mas.bak\nend\n",
         true, true, false,
         said + "2gt500.mas was not made, the earlier one is kept as 2gt500.mas.bak\n"},
        {"1.2.0, unpacking", of_1_2 + "earlier archive: \nend\n", true, false, false,
         said + "2gt500.mas was not touched yet\n"},
        {"identity without a token",
         "Zandrel's scratch folder tmp\nfolder: ID\nnew archive: 2gt500.mas\npacking\n"
         "earlier archive: 2gt500.mas.bak\nend\n",
         true, true, true,
         said + "2gt500.mas may be damaged, the earlier one is kept as 2gt500.mas.bak\n"},
    };
    make_car_folder();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.tmp) {
            ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
            ASSERT_TRUE(write_file(at("tmp\\2GT5VA.VRL"), "half packed"));
        }
        ASSERT_TRUE(write_file(at("tmp.lock"), record_for(row.record, at("tmp"))));
        if (row.made) {
            ASSERT_TRUE(write_file(at("2gt500.mas"), "damaged"));
        }
        if (row.aside) {
            ASSERT_TRUE(write_file(at("2gt500.mas.bak"), "earlier archive"));
        }
        ProgramRun run = run_zandrel();
        EXPECT_EQ(run.out.substr(0, head().size() + row.line.size()), head() + row.line);
        if (row.tmp) {
            EXPECT_NE(run.out.find("Folder '" + dir + "\\tmp' is not empty"), std::string::npos)
                << run.out;
            EXPECT_EQ(read_file(at("tmp\\2GT5VA.VRL")), "half packed");
            expect_exit_status(run, 1);
            EXPECT_EQ(read_file(at("2gt500.mas")), row.made ? "damaged" : "<missing>");
        } else {
            EXPECT_NE(run.out.find("2gt500.mas made"), std::string::npos) << run.out;
            expect_exit_status(run, 0);
            EXPECT_TRUE(clone_is_whole("check"));
        }
        EXPECT_EQ(read_file(at("2gt500.mas.bak")), row.aside ? "earlier archive" : "<missing>");
        EXPECT_EQ(os_exists(at("tmp.lock").c_str()), 0);
        remove_all(at("tmp"));
        os_delete_file(at("2gt500.mas").c_str());
        os_delete_file(at("2gt500.mas.bak").c_str());
    }
}

// Links exist natively only: the tests make none on Windows.
TEST_F(ZandrelRuns, RefusesLinksThatLeadOutOfTheWorkFolder)
{
    if (!behind_back_available())
        GTEST_SKIP() << "no links made on this target";
    std::string outside = top + "\\outside";
    dir = top + "\\car";
    ASSERT_EQ(os_make_directory(dir.c_str()), 0);
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    make_car_folder();
    ASSERT_EQ(os_make_directory(outside.c_str()), 0);
    ASSERT_EQ(os_make_directory(at("cars").c_str()), 0);
    ASSERT_TRUE(write_file(outside + "\\x.mas", "user's archive"));
    ASSERT_EQ(behind_make_link(outside, at("lnk")), 0);
    ASSERT_EQ(behind_make_link(at("cars"), at("inner")), 0);
    // Leads nowhere until the job makes tmp.
    ASSERT_EQ(behind_make_link(at("tmp"), at("totmp")), 0);
    const std::string into_tmp = "totmp\\x.mas not made: its folder leads into the scratch folder "
                                 "tmp, which the job empties and removes\n";
    const struct {
        const char *what, *job;
        bool link_tmp;
        std::string said; // "" for a job that runs
        bool empty_tmp = false;
    } rows[] = {
        {"tmp a link", EXAMPLE_JOB, true,
         "2gt500.mas not made: the scratch folder '" + dir +
             "\\tmp' is a link or junction: remove it\n"},
        {"NEW_MAS behind a link", "1gt500.mas;lnk\\x.mas;1SHGT500;bmp\\2SHGT500\n", false,
         "lnk\\x.mas not made: its folder leads to " + outside + ", outside the work folder\n"},
        {"a link inside the work folder", "1gt500.mas;inner\\x.mas;1SHGT500;bmp\\2SHGT500\n", false,
         ""},
        {"a link into tmp, before tmp is made", "1gt500.mas;totmp\\x.mas\n", false, into_tmp},
        {"a link into an empty tmp left from before", "1gt500.mas;totmp\\x.mas\n", false, into_tmp,
         true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(write_file(at("Zandrel.LST"), row.job));
        if (row.link_tmp) {
            ASSERT_EQ(behind_make_link(outside, at("tmp")), 0);
        }
        if (row.empty_tmp) {
            ASSERT_EQ(os_make_directory(at("tmp").c_str()), 0);
        }
        ProgramRun run = run_zandrel();
        if (row.said.empty()) {
            EXPECT_NE(run.out.find("inner\\x.mas made"), std::string::npos) << run.out;
            EXPECT_EQ(os_exists(at("cars\\x.mas").c_str()), 1);
        } else {
            std::string creating = run.out.substr(run.out.find("Creating"));
            EXPECT_EQ(creating.substr(creating.find('\n') + 1), row.said);
            expect_exit_status(run, 1);
        }
        EXPECT_EQ(names_in(outside), std::set<std::string>{"x.mas"});
        EXPECT_TRUE(read_file(outside + "\\x.mas") == "user's archive");
        if (row.link_tmp) {
            EXPECT_EQ(os_is_link(at("tmp").c_str()), 1);
        }
        EXPECT_EQ(os_exists(at("tmp").c_str()), row.link_tmp || row.empty_tmp ? 1 : 0);
        os_delete_file(at("tmp").c_str());
        os_remove_directory(at("tmp").c_str());
    }
}

// Linux names are exact: a sibling "CARS" of the work folder "cars", or a "tmp" inside that
// sibling, lies outside the work folder, however alike the two final paths read.
TEST_F(ZandrelRuns, RefusesLinksToCaseTwinsOfTheWorkFolderAndItsScratchFolder)
{
    if (!behind_back_available())
        GTEST_SKIP() << "no links made on this target";
    std::string twin = top + "\\CARS";
    dir = top + "\\cars";
    ASSERT_EQ(os_make_directory(dir.c_str()), 0);
    // Made behind the layer's back, which takes names as Windows does.
    ASSERT_EQ(behind_make_folder(twin), 0);
    ASSERT_EQ(behind_make_folder(twin + "\\tmp"), 0);
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    make_car_folder();
    ASSERT_EQ(behind_make_link(twin, at("out")), 0);
    ASSERT_EQ(behind_make_link(twin + "\\tmp", at("twintmp")), 0);
    const struct {
        const char *job;
        std::string said;
    } rows[] = {
        {"1gt500.mas;out\\2gt500.mas;1SHGT500;bmp\\2SHGT500\n",
         "out\\2gt500.mas not made: its folder leads to " + twin + ", outside the work folder\n"},
        {"1gt500.mas;twintmp\\2gt500.mas;1SHGT500;bmp\\2SHGT500\n",
         "twintmp\\2gt500.mas not made: its folder leads to " + twin +
             "\\tmp, outside the work folder\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.job);
        ASSERT_TRUE(write_file(at("Zandrel.LST"), row.job));
        ProgramRun run = run_zandrel();
        std::string creating = run.out.substr(run.out.find("Creating"));
        EXPECT_EQ(creating.substr(creating.find('\n') + 1), row.said);
        expect_exit_status(run, 1);
        EXPECT_EQ(names_in(twin), std::set<std::string>{"tmp"});
        EXPECT_EQ(names_in(twin + "\\tmp"), std::set<std::string>{});
        EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
    }
}

// A Linux folder may hold names that differ only in case, which Windows cannot tell apart:
// the one spelled as asked is used and the other named; with neither, neither is used.
TEST_F(ZandrelRuns, SaysWhichOfTwoNamesAlikeButForCaseItUses)
{
    if (!behind_back_available())
        GTEST_SKIP() << "a Windows folder holds no two names alike but for case";
    install_both();
    make_archive("1gt500.mas", sample_car(false));
    write_new_bitmap();
    ASSERT_TRUE(write_file(at("Zandrel.LST"), EXAMPLE_JOB));
    // Made past the OS layer, which would open the first name for the second.
    ASSERT_EQ(behind_create_file(at("bmp\\2shgt500.bmp")), 0);
    ASSERT_EQ(behind_create_file(at("zandrel.lst")), 0);
    ProgramRun run = run_zandrel();
    expect_exit_status(run, 0);
    const std::string used =
        "Zandrel.LST is used, not zandrel.lst: their names differ only in case\n";
    EXPECT_EQ(run.out.substr(strlen(BANNER), used.size()), used);
    EXPECT_NE(run.out.find("bmp\\2SHGT500.BMP is used, not bmp\\2shgt500.bmp: their names differ "
                           "only in case\n"),
              std::string::npos)
        << run.out;
    extract("2gt500.mas", "new");
    EXPECT_EQ(read_file(at("new\\2SHGT500.BMP")), "new bitmap");
    ASSERT_EQ(behind_rename(at("Zandrel.LST"), at("ZANDREL.LST")), 0);
    run = run_zandrel();
    expect_exit_status(run, -1);
    EXPECT_EQ(run.out, std::string(BANNER) +
                           "ZANDREL.LST and zandrel.lst differ only in case and neither is spelled "
                           "Zandrel.LST: neither is used\n");
}

// Job list text reaches the screen with its control characters shown, never raw.
// A new bitmap a paint program holds open, sharing nothing, is there: the line gives the
// system's reason, not "File not found", and the pair is left out.
TEST_F(ZandrelRuns, SaysANewBitmapIsOpenInAnotherProgramNotMissing)
{
    make_car_folder();
    intptr_t held = behind_hold_unshared(at("bmp\\2SHGT500.BMP"));
    if (held == -1)
        GTEST_SKIP() << "no file is held without sharing on this system";
    ProgramRun run = run_zandrel();
    behind_release_file(held);
    expect_exit_status(run, 1);
    EXPECT_EQ(run.out.find("File not found"), std::string::npos) << run.out;
    const std::string said = "Cannot read bmp\\2SHGT500.BMP, pair left out: ";
    size_t at = run.out.find(said);
    ASSERT_NE(at, std::string::npos) << run.out;
    // The system's words follow, whatever the system's language.
    EXPECT_GT(run.out.find('\n', at), at + said.size()) << run.out;
    EXPECT_NE(run.out.find("2gt500.mas made: bitmaps replaced 0, .VRL files renamed 20, names "
                           "patched 0; 1 of 1 bitmap pairs left out: 1SHGT500\n"),
              std::string::npos)
        << run.out;
}

TEST_F(ZandrelRuns, ShowsControlCharactersOfTheJobList)
{
    make_car_folder();
    std::string carets;
    for (int k = 0; k < 40; k++)
        carets += "^[";
    const struct {
        const char *what;
        std::string job, shown;
    } rows[] = {
        {"NEW_MAS", "1gt500.mas;\x1b]0x\x07\x1b[2J.mas\n",
         "^[]0x^G^[[2J.mas not made: '^[]0x^G^[[2J.mas' holds a blank, a quote or a character"},
        {"old archive", "no\b\bsuch.mas;2gt500.mas\n",
         "Creating '2gt500.mas' from 'no^H^Hsuch.mas' ... \n"},
        {"new bitmap", "1gt500.mas;2gt500.mas;1SHGT500;bmp\\\x1b[31mX\n",
         "File not found: bmp\\^[[31mX.BMP\n"},
        {"unpaired bitmap", "1gt500.mas;2gt500.mas;1SHGT500 \x7f\x1b[1A;bmp\\2SHGT500\n",
         "without a partner in the other list, left out: ^?^[[1A\n"},
        {"name too long", std::string(40, '\x1b') + ";2gt500.mas\n",
         "(31 characters at most): " + carets + "\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(write_file(at("Zandrel.LST"), row.job));
        ProgramRun run = run_zandrel();
        EXPECT_NE(run.out.find(row.shown), std::string::npos) << run.out;
        for (char c : run.out)
            EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 32) << (int)c;
        EXPECT_EQ(run.out.find('\x7f'), std::string::npos);
    }
}

// The program's own name, its folder and its arguments reach the screen visibly too.
TEST_F(ZandrelRuns, ShowsControlCharactersOfItsOwnNameFolderAndArguments)
{
    if (os_program_suffix[0] != '\0')
        GTEST_SKIP() << "Windows names hold no control characters";
    const std::string car = top + "\\car\x1b[2J", program = car + "\\Z\x07z";
    ASSERT_EQ(os_make_directory(car.c_str()), 0);
    install(built_program("Zandrel"), "car\x1b[2J\\Z\x07z");
    install(tools + "\\MASadelic.exe", "car\x1b[2J\\MASadelic.exe");
    ASSERT_TRUE(write_file(car + "\\Z\x07z.LST", "a.mas;b.mas\n"));
    ASSERT_TRUE(write_file(at("Z\x07z.LST"), "a.mas;b.mas\n"));
    ASSERT_TRUE(write_file(car + "\\a.mas", "archive"));
    // Looked for in the folder Zandrel starts in.
    ASSERT_TRUE(write_file(at("MASadelic.exe"), "not run"));
    ASSERT_EQ(behind_make_link(top, car + "\\tmp"), 0);
    ProgramRun run = run_program(program, "Z\x07z \x1b[5m");
    for (const char *said :
         {"Z^Gz reads no arguments, ^[[5m ignored: it reads the job list Z^Gz.LST",
          "processing job file: Z^Gz.LST\n", "Jobs run in the program's folder: "})
        EXPECT_NE(run.out.find(said), std::string::npos) << said << "\n" << run.out;
    EXPECT_NE(run.out.find(top + "\\car^[[2J\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("the scratch folder '" + top + "\\car^[[2J\\tmp' is a link"),
              std::string::npos)
        << run.out;
    for (char c : run.out)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 32) << (int)c;
}

// ---- Sweeps ----------------------------------------------------------------------------

// Trials per sweep: a few in ctest, more when ZANDREL_RUN_TRIALS asks.
int sweep_trials()
{
    const char *value = getenv("ZANDREL_RUN_TRIALS");
    int trials = value ? atoi(value) : 0;
    return trials > 0 ? trials : 5;
}

void pause_ms(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

class ZandrelSweep : public ZandrelRuns
{
  protected:
    void SetUp() override
    {
        ZandrelRuns::SetUp();
        os_set_environment("MASADELIC_SLOW", "15");
    }
    void TearDown() override
    {
        os_set_environment("MASADELIC_SLOW", nullptr);
        ZandrelRuns::TearDown();
    }
    // A fresh car folder for trial n, with an earlier 2gt500.mas that is whole.
    void enter_trial(int n)
    {
        dir = top + "\\trial" + std::to_string(n);
        ASSERT_EQ(os_make_directory(dir.c_str()), 0);
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        make_car_folder();
        make_archive("2gt500.mas", sample_car(false));
        old_archive = read_file(at("1gt500.mas"));
    }
    std::string start_zandrel(intptr_t *process, const std::string &output)
    {
        *process =
            background_start(at(std::string("Zandrel") + os_program_suffix), "Zandrel", at(output));
        return output;
    }
    // Nothing lost: the old archive as it was, a whole 2gt500.mas when any run said made,
    // else the earlier one in its place or beside it; no scratch folder or lock file left.
    void expect_nothing_lost(bool made)
    {
        EXPECT_EQ(read_file(at("1gt500.mas")), old_archive);
        if (made)
            EXPECT_TRUE(clone_is_whole("check"));
        else
            EXPECT_TRUE(read_file(at("2gt500.mas")) == old_archive ||
                        read_file(at("2gt500.mas.bak")) == old_archive);
        EXPECT_EQ(os_exists(at("tmp").c_str()), 0);
        EXPECT_EQ(os_exists(at("tmp.lock").c_str()), 0);
    }
    std::string old_archive;
};

TEST_F(ZandrelSweep, TwoZandrelsStartedAtOnceNeverShareTheScratchFolder)
{
    std::mt19937 random(18);
    int trials = sweep_trials(), refused = 0, made = 0;
    for (int n = 0; n < trials; n++) {
        SCOPED_TRACE("trial " + std::to_string(n));
        enter_trial(n);
        intptr_t first;
        std::string output = start_zandrel(&first, "first.txt");
        ASSERT_NE(first, -1);
        pause_ms(static_cast<int>(random() % 600));
        ProgramRun second = run_zandrel();
        int first_status = background_wait(first);
        std::string first_out = strip_cr(read_file(at(output)));
        bool first_made = first_out.find("2gt500.mas made") != std::string::npos;
        bool second_made = second.out.find("2gt500.mas made") != std::string::npos;
        bool said = says_busy(second.out) || says_busy(first_out);
        refused += said;
        made += first_made + second_made;
        EXPECT_TRUE(said || (first_made && second_made)) << first_out << second.out;
        if (says_busy(second.out))
            expect_exit_status(second, 1);
        EXPECT_EQ(first_status, first_made ? 0 : 1) << first_out;
        expect_nothing_lost(first_made || second_made);
        dir = top;
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    }
    printf("two at once: %d trials, %d times one said the other works, %d archives made\n", trials,
           refused, made);
}

// Waits until the job's tool has written into "tmp", besides the run's mark (30 seconds at
// most). True when it has.
bool tool_at_work(const std::string &scratch)
{
    for (int k = 0; k < 300; k++) {
        std::set<std::string> names = names_in(scratch);
        names.erase("~mark");
        if (!names.empty())
            return true;
        pause_ms(100);
    }
    return false;
}

// Reruns Zandrel until no stopped run's tool holds the folder any more (a minute at most):
// the last run, and in *blocked how many met the tool.
ProgramRun rerun_when_free(int *blocked)
{
    ProgramRun rerun;
    for (int attempt = 0; attempt < 300; attempt++) {
        rerun = run_program(".\\Zandrel" + std::string(os_program_suffix), "Zandrel");
        if (!says_busy(rerun.out))
            break;
        (*blocked)++;
        pause_ms(200);
    }
    return rerun;
}

// Zandrel killed while its tool unpacks: the tool holds the folder until it ends, then a
// rerun clears the recorded tmp and makes the archive.
TEST_F(ZandrelSweep, AZandrelKilledWhileItsToolRunsHoldsTheFolderUntilTheToolEnds)
{
    os_set_environment("MASADELIC_SLOW", "150");
    enter_trial(0);
    intptr_t run;
    start_zandrel(&run, "stopped.txt");
    ASSERT_NE(run, -1);
    ASSERT_TRUE(tool_at_work(at("tmp")));
    background_kill(run);
    ProgramRun early = run_zandrel();
    EXPECT_EQ(early.out, head() + busy_line(dir));
    expect_exit_status(early, 1);
    os_set_environment("MASADELIC_SLOW", "15");
    int blocked = 0;
    ProgramRun rerun = rerun_when_free(&blocked);
    const std::string cleared = "Cleared the scratch folder tmp left by a Zandrel stopped while "
                                "making 2gt500.mas: 2gt500.mas was not touched yet\n";
    EXPECT_EQ(rerun.out.substr(head().size(), cleared.size()), cleared);
    expect_exit_status(rerun, 0);
    expect_nothing_lost(true);
}

// What another program drops into tmp while a job runs. A link to a folder outside is
// removed itself at the job's end, never entered; under Wine it shows as the folder it leads
// to, which the Windows build leaves alone. What stays gets a line, and exit status 1.
TEST_F(ZandrelSweep, WhatIsDroppedIntoTheScratchFolderDuringAJobIsNeverFollowed)
{
    os_set_environment("MASADELIC_SLOW", "100");
    const bool native = os_program_suffix[0] == '\0';
    const struct {
        const char *what;
        bool link, stays;
    } rows[] = {
        {"a read-only file", false, true},
        {"a link to a folder outside", true, !native},
    };
    std::string outside = top + "\\outside";
    ASSERT_EQ(os_make_directory(outside.c_str()), 0);
    ASSERT_TRUE(write_file(outside + "\\notes.txt", "user's notes"));
    int n = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        enter_trial(n++);
        intptr_t run;
        std::string output = start_zandrel(&run, "run.txt"), dropped = at("tmp\\dropped");
        ASSERT_NE(run, -1);
        ASSERT_TRUE(tool_at_work(at("tmp")));
        int placed = row.link ? unix_make_link(outside, dropped)
                              : (write_file(dropped, "x") ? 0 : -1) |
                                    os_set_attributes(dropped.c_str(), OS_ATTR_READONLY);
        int status = background_wait(run);
        if (placed != 0)
            GTEST_SKIP() << "no Unix links on this target";
        EXPECT_EQ(names_in(outside), std::set<std::string>{"notes.txt"});
        EXPECT_EQ(read_file(outside + "\\notes.txt"), "user's notes");
        std::string out = strip_cr(read_file(at(output)));
        std::string made = "2gt500.mas made: bitmaps replaced 1, .VRL files renamed 20, names "
                           "patched 1, the earlier one replaced\n";
        std::string left =
            "Removed the scratch folder '" + dir + "\\tmp' (not wholly: move it away)\n";
        std::string tail = row.stays ? left + made : made;
        ASSERT_GE(out.size(), tail.size()) << out;
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
        EXPECT_EQ(out.find(left) != std::string::npos, row.stays) << out;
        EXPECT_EQ(status, row.stays ? 1 : 0) << out;
        // The read-only file went into the archive, as any file in tmp does.
        EXPECT_TRUE(!row.link || clone_is_whole("check"));
        EXPECT_EQ(os_exists(at("tmp").c_str()), row.stays ? 1 : 0);
        if (row.link)
            unix_remove_link(dropped);
        os_set_attributes(dropped.c_str(), 0);
        dir = top;
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    }
}

// A .VRL file the tool has unpacked, swapped for a link to a user's file while the tool
// still unpacks the rest: the job is refused in one line naming it, and the user's file is
// neither patched nor packed. Under Wine the link shows as the file it leads to, which lies
// outside "tmp", and the end of the job leaves it there with a line.
TEST_F(ZandrelSweep, AVrlFileSwappedForALinkWhileTheToolRunsRefusesTheJob)
{
    os_set_environment("MASADELIC_SLOW", "100");
    const bool native = os_program_suffix[0] == '\0';
    std::string user = top + "\\user.VRL";
    ASSERT_TRUE(write_file(user, "user's own"));
    enter_trial(0);
    intptr_t run;
    std::string output = start_zandrel(&run, "run.txt"), swapped = at("tmp\\1GT5VA.VRL");
    ASSERT_NE(run, -1);
    // The file after it is unpacked, so the tool is done with this one.
    for (int k = 0; k < 300 && !os_exists(at("tmp\\1GT5VB.VRL").c_str()); k++)
        pause_ms(20);
    int placed = os_delete_file(swapped.c_str()) == 0 ? unix_make_link(user, swapped) : -1;
    int status = background_wait(run);
    if (placed != 0)
        GTEST_SKIP() << "no Unix links on this target";
    std::string out = strip_cr(read_file(at(output)));
    const std::string line = "2gt500.mas not made: tmp\\1GT5VA.VRL was changed while the job ran\n";
    ASSERT_GE(out.size(), line.size()) << out;
    EXPECT_EQ(out.substr(out.size() - line.size()), line) << out;
    EXPECT_EQ(status, 1) << out;
    EXPECT_EQ(read_file(user), "user's own");
    EXPECT_TRUE(read_file(at("1gt500.mas")) == old_archive);
    EXPECT_TRUE(read_file(at("2gt500.mas")) == old_archive) << "the earlier one stays as it was";
    EXPECT_EQ(os_exists(at("tmp").c_str()), native ? 0 : 1);
    if (!native)
        unix_remove_link(swapped);
    dir = top;
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
}

TEST_F(ZandrelSweep, ZandrelAndItsToolStoppedAtRandomMomentsNeverBlockARerun)
{
    std::mt19937 random(180);
    int trials = sweep_trials(), blocked = 0, cleared = 0;
    for (int n = 0; n < trials; n++) {
        SCOPED_TRACE("trial " + std::to_string(n));
        enter_trial(n);
        intptr_t run;
        start_zandrel(&run, "stopped.txt");
        ASSERT_NE(run, -1);
        pause_ms(static_cast<int>(random() % 1200));
        background_kill_tree(run);
        // The system may take a moment to close the files of the programs it ended.
        ProgramRun rerun = rerun_when_free(&blocked);
        cleared += rerun.out.find("Cleared the scratch folder tmp") != std::string::npos;
        EXPECT_NE(rerun.out.find("2gt500.mas made"), std::string::npos) << rerun.out;
        expect_exit_status(rerun, 0);
        expect_nothing_lost(true);
        dir = top;
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    }
    printf("stopped runs: %d trials, %d reruns waited for the system to end them, %d cleared "
           "their tmp\n",
           trials, blocked, cleared);
}

} // namespace
