// Tests of the directory walk: event order and directory-done events, the current folder
// during and after a walk, entry modes, tree removal and copy, sizes and sorted listings.
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "behind_back.h"
#include "os.h"
#include "support.h"
#include "utility.h"

struct Event {
    std::string name;
    std::string directory;
    std::string current; // the current folder at the time of the event
    int32_t size;
    int32_t mode;
};

static std::string current_directory()
{
    char buffer[PATH_BUFFER_SIZE];
    return os_get_current_directory(buffer, sizeof buffer) == 0 ? buffer : "<unknown>";
}

static int8_t record_event(WalkEntry *entry)
{
    std::vector<Event> *events = static_cast<std::vector<Event> *>(entry->argument);
    events->push_back(
        {entry->name, entry->directory, current_directory(), entry->size, entry->mode});
    return 0;
}

static std::vector<Event> walk(const std::string &start, int8_t recurse, int *result = nullptr)
{
    std::vector<Event> events;
    char path[PATH_BUFFER_SIZE];
    snprintf(path, sizeof path, "%s", start.c_str());
    int walked = walk_directory(path, record_event, &events, recurse);
    if (result)
        *result = walked;
    EXPECT_EQ(std::string(path), start) << "the path buffer holds the start folder again";
    return events;
}

static std::set<std::string> names_of(const std::vector<Event> &events)
{
    std::set<std::string> names;
    for (const Event &event : events)
        names.insert(event.name);
    return names;
}

static bool exists(const std::string &path)
{
    return os_exists(path.c_str()) == 1;
}

// A path below start of units UTF-16 units in all, in levels of lead and at most 80 'ソ'
// (240 bytes, within every file system's limit on a name). With create set, every level
// but the last is created.
static std::string path_of_units(const std::string &start, uint32_t units, char lead, bool create)
{
    std::string path = start;
    while (os_utf16_length(path.c_str()) < units) {
        uint32_t left = units - os_utf16_length(path.c_str()) - 2;
        // A last level takes at least the separator and the lead.
        uint32_t count = left <= 80 ? left : left - 80 >= 2 ? 80 : 78;
        if (create && path != start) {
            EXPECT_EQ(os_make_directory(path.c_str()), 0) << path;
        }
        path += std::string("\\") + lead;
        for (uint32_t i = 0; i < count; i++)
            path += "\xe3\x82\xbd";
    }
    return path;
}

class WalkTest : public TempFolderTest
{
  protected:
    // t (or name) holding the file 'a', the subfolder 's' with the file 'b', the empty
    // subfolder 'e'.
    std::string make_sample_tree(const std::string &name = "t")
    {
        std::string t = at(name);
        EXPECT_EQ(os_make_directory(t.c_str()), 0);
        EXPECT_EQ(os_make_directory((t + "\\s").c_str()), 0);
        EXPECT_EQ(os_make_directory((t + "\\e").c_str()), 0);
        EXPECT_TRUE(write_file(t + "\\a", "aaa"));
        EXPECT_TRUE(write_file(t + "\\s\\b", "bbbbb"));
        return t;
    }
};

TEST_F(WalkTest, EmptyFolderReportsNothingWithOrWithoutRecursion)
{
    ASSERT_EQ(os_make_directory(at("empty").c_str()), 0);
    for (int8_t recurse : {0, 1}) {
        int result = -2;
        EXPECT_TRUE(walk(at("empty"), recurse, &result).empty());
        EXPECT_EQ(result, 0);
    }
}

TEST_F(WalkTest, FolderThatCannotBeEnteredGivesMinusOneAndReportsNothing)
{
    int result = 0;
    EXPECT_TRUE(walk(at("missing"), 1, &result).empty());
    EXPECT_EQ(result, -1);
    EXPECT_EQ(current_directory(), dir);
}

TEST_F(WalkTest, WalkWithoutRecursionReportsFilesAndNeverEntersSubfolders)
{
    ASSERT_TRUE(write_file(at("a.veh"), "1"));
    ASSERT_EQ(os_make_directory(at("old").c_str()), 0);
    ASSERT_TRUE(write_file(at("old\\inner.veh"), "2"));
    ASSERT_TRUE(write_file(at("z.veh"), "3"));
    int result = -2;
    std::vector<Event> events = walk(dir, 0, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(names_of(events), (std::set<std::string>{"a.veh", "z.veh"}));
    for (const Event &event : events) {
        EXPECT_EQ(event.directory, dir);
        EXPECT_EQ(event.current, dir);
    }
}

TEST_F(WalkTest, RecursiveWalkReportsFilesThenEachSubtreeAndItsDoneEvent)
{
    std::string t = make_sample_tree();
    std::vector<Event> events = walk(t, 1);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].name, "a");
    EXPECT_EQ(events[0].directory, t);
    EXPECT_EQ(events[0].current, t);
    // 's' and 'e' come in the platform's listing order.
    size_t s_first = events[1].name == "b" ? 1 : 2;
    size_t e_done = s_first == 1 ? 3 : 1;
    EXPECT_EQ(events[s_first].name, "b");
    EXPECT_EQ(events[s_first].directory, t + "\\s");
    EXPECT_EQ(events[s_first].current, t + "\\s");
    EXPECT_EQ(events[s_first + 1].name, "");
    EXPECT_EQ(events[s_first + 1].directory, t + "\\s");
    EXPECT_EQ(events[s_first + 1].current, t) << "a done event runs in the parent";
    EXPECT_EQ(events[e_done].name, "");
    EXPECT_EQ(events[e_done].directory, t + "\\e");
    EXPECT_EQ(events[e_done].current, t);
    EXPECT_EQ(current_directory(), t) << "the start folder is current afterwards";
}

TEST_F(WalkTest, StartFolderGetsNoDoneEventAndDeepTreesNestInOrder)
{
    std::string t = at("t");
    ASSERT_EQ(os_make_directory(t.c_str()), 0);
    ASSERT_EQ(os_make_directory((t + "\\x").c_str()), 0);
    ASSERT_EQ(os_make_directory((t + "\\x\\y").c_str()), 0);
    ASSERT_TRUE(write_file(t + "\\x\\y\\f", "1"));
    std::vector<Event> events = walk(t, 1);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "f");
    EXPECT_EQ(events[0].directory, t + "\\x\\y");
    EXPECT_EQ(events[1].directory, t + "\\x\\y");
    EXPECT_EQ(events[1].current, t + "\\x");
    EXPECT_EQ(events[2].directory, t + "\\x");
    EXPECT_EQ(events[2].current, t);
}

TEST_F(WalkTest, ManySubfoldersGrowTheSubfolderList)
{
    const int count = 70;
    for (int i = 0; i < count; i++) {
        std::string sub = at("d" + std::to_string(i));
        ASSERT_EQ(os_make_directory(sub.c_str()), 0);
        ASSERT_TRUE(write_file(sub + "\\f", "x"));
    }
    std::vector<Event> events = walk(dir, 1);
    ASSERT_EQ(events.size(), 2u * count);
    std::set<std::string> done;
    for (size_t i = 0; i < events.size(); i += 2) {
        EXPECT_EQ(events[i].name, "f");
        EXPECT_EQ(events[i + 1].name, "");
        EXPECT_EQ(events[i + 1].directory, events[i].directory);
        done.insert(events[i + 1].directory);
    }
    EXPECT_EQ(done.size(), static_cast<size_t>(count));
}

TEST_F(WalkTest, SubfolderWhosePathWouldOutgrowTheBufferIsSkipped)
{
    size_t room = 255 - dir.size() - 1; // the longest name that still fits
    std::string fits = std::string(room > 200 ? 200 : room, 'f');
    std::string too_long = std::string(room + 1, 'l');
    if (os_make_directory(at(too_long).c_str()) != 0)
        GTEST_SKIP() << "the platform cannot create a folder with a path of 256 characters";
    ASSERT_TRUE(write_file(at(too_long) + "\\inside", "1"));
    ASSERT_EQ(os_make_directory(at(fits).c_str()), 0);
    ASSERT_TRUE(write_file(at("top"), "1"));
    std::vector<Event> events = walk(dir, 1);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "top");
    EXPECT_EQ(events[1].directory, at(fits));
    remove_all(at(too_long));
}

TEST_F(WalkTest, SubfolderPathsCountUtf16UnitsNotBytes)
{
    const std::string fits = path_of_units(dir, PATH_UNITS_MAX, 'f', true);
    const std::string too_long = path_of_units(dir, PATH_UNITS_MAX + 1, 'l', true);
    ASSERT_EQ(os_utf16_length(fits.c_str()), (uint32_t)PATH_UNITS_MAX);
    ASSERT_EQ(os_make_directory(fits.c_str()), 0);
    if (os_make_directory(too_long.c_str()) != 0)
        GTEST_SKIP() << "the platform cannot create a folder with a path of 256 characters";
    std::set<std::string> directories;
    for (const Event &event : walk(dir, 1))
        directories.insert(event.directory);
    EXPECT_EQ(directories.count(fits), 1u) << "a path of 255 units, " << fits.size() << " bytes";
    EXPECT_EQ(directories.count(too_long), 0u);
    EXPECT_EQ(directories.count(too_long.substr(0, too_long.rfind('\\'))), 1u);
}

TEST_F(WalkTest, ModesAndSizesComeFromTheEntries)
{
    ASSERT_TRUE(write_file(at("plain"), "12345"));
    ASSERT_TRUE(write_file(at("locked"), "1"));
    ASSERT_TRUE(write_file(at(".hidden"), ""));
    ASSERT_EQ(os_set_attributes(at("locked").c_str(), OS_ATTR_READONLY), 0);
    ASSERT_EQ(os_set_attributes(at(".hidden").c_str(), OS_ATTR_HIDDEN), 0);
    std::vector<Event> events = walk(dir, 0);
    os_set_attributes(at("locked").c_str(), 0);
    ASSERT_EQ(events.size(), 3u);
    for (const Event &event : events) {
        if (event.name == "plain") {
            EXPECT_EQ(event.mode, 0777);
            EXPECT_EQ(event.size, 5);
        } else if (event.name == "locked") {
            EXPECT_EQ(event.mode, 0555);
        } else {
            EXPECT_EQ(event.name, ".hidden");
            EXPECT_EQ(event.mode, 0111);
        }
    }
}

TEST_F(WalkTest, HiddenTakesPrecedenceOverReadOnly)
{
    ASSERT_TRUE(write_file(at(".both"), "1"));
    ASSERT_EQ(os_set_attributes(at(".both").c_str(), OS_ATTR_HIDDEN | OS_ATTR_READONLY), 0);
    std::vector<Event> events = walk(dir, 0);
    os_set_attributes(at(".both").c_str(), 0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].mode, 0111);
}

TEST_F(WalkTest, RemoveTreeWithStarEmptiesTheTreeAndKeepsTheTopFolderCurrent)
{
    std::string t = make_sample_tree();
    EXPECT_EQ(remove_tree(t.c_str(), "*"), 0);
    EXPECT_FALSE(exists(t + "\\a"));
    EXPECT_FALSE(exists(t + "\\s"));
    EXPECT_FALSE(exists(t + "\\e"));
    EXPECT_TRUE(exists(t)) << "the current folder cannot be removed";
    EXPECT_EQ(current_directory(), t);
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    EXPECT_EQ(os_remove_directory(t.c_str()), 0) << "the top folder was left empty";
}

TEST_F(WalkTest, RemoveTreeWithPatternDeletesOnlyMatchingFiles)
{
    std::string t = at("t");
    ASSERT_EQ(os_make_directory(t.c_str()), 0);
    ASSERT_EQ(os_make_directory((t + "\\mixed").c_str()), 0);
    ASSERT_EQ(os_make_directory((t + "\\only").c_str()), 0);
    ASSERT_TRUE(write_file(t + "\\keep.txt", "k"));
    ASSERT_TRUE(write_file(t + "\\x.tmp", "x"));
    ASSERT_TRUE(write_file(t + "\\mixed\\y.tmp", "y"));
    ASSERT_TRUE(write_file(t + "\\mixed\\keep2.txt", "k"));
    ASSERT_TRUE(write_file(t + "\\only\\z.tmp", "z"));
    EXPECT_EQ(remove_tree(t.c_str(), "*.tmp"), 0);
    EXPECT_TRUE(exists(t + "\\keep.txt"));
    EXPECT_FALSE(exists(t + "\\x.tmp"));
    EXPECT_FALSE(exists(t + "\\mixed\\y.tmp"));
    EXPECT_TRUE(exists(t + "\\mixed\\keep2.txt"));
    EXPECT_FALSE(exists(t + "\\only")) << "a folder of matching files goes, whatever its name";
}

TEST_F(WalkTest, RemoveTreeDeletesAFileWhateverThePatternAndFailsOnNothing)
{
    ASSERT_TRUE(write_file(at("file.dat"), "1"));
    EXPECT_EQ(remove_tree(at("file.dat").c_str(), "*.none"), 0);
    EXPECT_FALSE(exists(at("file.dat")));
    EXPECT_EQ(remove_tree(at("missing").c_str(), "*"), -1);
}

// A folder path of 256 UTF-16 units is neither removed nor entered, though its bytes fit a
// path buffer; one of 255 is. A file copied to a path of 256 units is refused, to 255 copied.
TEST_F(WalkTest, TreeRoutinesCountPathsInUtf16Units)
{
    const std::string fits = path_of_units(dir, PATH_UNITS_MAX, 'f', true);
    const std::string too_long = path_of_units(dir, PATH_UNITS_MAX + 1, 'l', true);
    ASSERT_TRUE(write_file(at("file.dat"), "1"));
    EXPECT_EQ(copy_tree(at("file.dat").c_str(), too_long.c_str()), -1);
    EXPECT_FALSE(exists(too_long));
    EXPECT_EQ(copy_tree(at("file.dat").c_str(), fits.c_str()), 0);
    EXPECT_EQ(read_file(fits), "1");
    ASSERT_EQ(os_delete_file(fits.c_str()), 0);
    ASSERT_EQ(os_make_directory(fits.c_str()), 0);
    if (os_make_directory(too_long.c_str()) != 0)
        GTEST_SKIP() << "the platform cannot create a folder with a path of 256 characters";
    const std::string parent = too_long.substr(0, too_long.rfind('\\'));
    EXPECT_EQ(remove_tree(too_long.c_str(), "*"), -1);
    EXPECT_EQ(remove_tree(parent.c_str(), "*"), 0);
    EXPECT_TRUE(exists(too_long)) << "a removal from its parent never goes past the limit";
    ASSERT_EQ(os_change_directory(dir.c_str()), 0);
    EXPECT_EQ(remove_tree(fits.c_str(), "*"), 0);
}

TEST_F(WalkTest, CopyTreeCopiesAFolderUnderItsOwnNameAndPrintsIt)
{
    std::string t = make_sample_tree();
    std::string dst = at("dst");
    ASSERT_EQ(os_make_directory(dst.c_str()), 0);
    ASSERT_EQ(os_change_directory(dst.c_str()), 0);
    testing::internal::CaptureStdout();
    int8_t result = copy_tree(t.c_str(), dst.c_str());
    fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(strip_cr(printed), t + "\n");
    EXPECT_EQ(read_file(dst + "\\t\\a"), "aaa");
    EXPECT_EQ(read_file(dst + "\\t\\s\\b"), "bbbbb");
    OsFileStatus status;
    ASSERT_EQ(os_file_status((dst + "\\t\\e").c_str(), &status), 0);
    EXPECT_EQ(status.is_directory, 1) << "empty folders are recreated";
    EXPECT_EQ(current_directory(), dst) << "the folder current before is restored";
}

TEST_F(WalkTest, CopyTreeIgnoresATrailingBackslashOnTheSource)
{
    std::string t = make_sample_tree();
    ASSERT_EQ(os_make_directory(at("dst").c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(copy_tree((t + "\\").c_str(), at("dst").c_str()), 0);
    fflush(stdout);
    EXPECT_EQ(strip_cr(testing::internal::GetCapturedStdout()), t + "\n");
    EXPECT_EQ(read_file(at("dst\\t\\a")), "aaa");
    EXPECT_EQ(read_file(at("dst\\t\\s\\b")), "bbbbb");
    EXPECT_TRUE(exists(at("dst\\t\\e")));
}

TEST_F(WalkTest, CopyTreeCopiesAFileIntoAFolderOrToAPath)
{
    ASSERT_TRUE(write_file(at("car.mas"), "body"));
    ASSERT_EQ(os_make_directory(at("into").c_str()), 0);
    EXPECT_EQ(copy_tree(at("car.mas").c_str(), at("into").c_str()), 0);
    EXPECT_EQ(read_file(at("into\\car.mas")), "body");
    EXPECT_EQ(copy_tree(at("car.mas").c_str(), at("renamed.mas").c_str()), 0);
    EXPECT_EQ(read_file(at("renamed.mas")), "body");
    EXPECT_EQ(current_directory(), dir);
}

TEST_F(WalkTest, CopyTreeFailsOnAMissingSourceOrDestination)
{
    EXPECT_EQ(copy_tree(at("missing").c_str(), at("dst").c_str()), -1);
    std::string t = make_sample_tree();
    std::string no_parent = at("no\\such\\place");
    EXPECT_EQ(copy_tree(t.c_str(), no_parent.c_str()), -1);
}

// Every file below folder with its content, one "path=content" line each, folders as
// "path\\" lines, in name order.
static std::string tree_text(const std::string &folder, const std::string &prefix = "")
{
    std::string text;
    for (const std::string &name : names_in(folder)) {
        std::string path = folder + "\\" + name;
        OsFileStatus status;
        if (os_file_status(path.c_str(), &status) == 0 && status.is_directory)
            text += prefix + name + "\\\n" + tree_text(path, prefix + name + "\\");
        else
            text += prefix + name + "=" + read_file(path) + "\n";
    }
    return text;
}

struct LinkRow {
    const char *what;
    const char *link;   // below the sample tree t; "" for t itself
    const char *target; // below the test folder
    const char *pattern;
    bool link_stays;    // natively; under Wine every link stays (see below)
    const char *suffix; // added to the path given to remove_tree
};

// A link inside the tree, or the tree itself a link, is removed itself and never entered:
// what it leads to stays whole. Under Wine a Linux link shows as the file or folder it leads
// to, which the Windows build neither enters nor deletes: the link stays there.
TEST_F(WalkTest, RemoveTreeRemovesLinksThemselvesAndNeverEntersThem)
{
    const LinkRow rows[] = {
        {"a link to an outside folder", "l", "outside", "*", false, ""},
        {"a link to an outside file", "l", "outside\\x.tmp", "*", false, ""},
        {"a link in a subfolder", "s\\l", "outside", "*", false, ""},
        {"a link whose name the pattern misses", "l", "outside", "*.tmp", true, ""},
        {"the tree itself a link", "", "outside", "*", false, ""},
        {"the tree a link, named with a trailing backslash", "", "outside", "*", false, "\\"},
    };
    const bool native = os_program_suffix[0] == '\0';
    ASSERT_EQ(os_make_directory(at("outside").c_str()), 0);
    ASSERT_EQ(os_make_directory(at("outside\\s").c_str()), 0);
    ASSERT_TRUE(write_file(at("outside\\x.tmp"), "user's"));
    ASSERT_TRUE(write_file(at("outside\\s\\y.tmp"), "user's too"));
    const std::string before = tree_text(at("outside"));
    int n = 0;
    for (const LinkRow &row : rows) {
        SCOPED_TRACE(row.what);
        std::string t = make_sample_tree("t" + std::to_string(n++));
        std::string link = row.link[0] ? t + "\\" + row.link : t + "top";
        if (unix_make_link(at(row.target), link) != 0)
            GTEST_SKIP() << "no Unix links on this target";
        EXPECT_EQ(remove_tree(((row.link[0] ? t : link) + row.suffix).c_str(), row.pattern), 0);
        EXPECT_EQ(tree_text(at("outside")), before);
        EXPECT_EQ(exists(link), row.link_stays || !native);
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        unix_remove_link(link);
    }
}

struct OverlapRow {
    const char *source;      // below the test folder
    const char *destination; // below the test folder; "" for the test folder itself
};

// A copy whose trees overlap would empty files by copying them onto themselves, overwrite
// source files or copy its own new folders without end: it is refused before anything is
// written, and a destination folder made for it is removed again.
TEST_F(WalkTest, CopyTreeRefusesToCopyATreeIntoItself)
{
    const OverlapRow rows[] = {
        {"t", ""},          // the target is the source itself
        {"t", "t"},         // the destination is the source
        {"T", "t\\..\\T"},  // the same, spelled otherwise
        {"t", "t\\s"},      // the destination lies inside the source
        {"t", "t\\s\\new"}, // a new folder inside the source would be made for it
        {"t\\t", ""},       // the target already holds the source
        {"t\\a", "t"},      // a file onto itself
        {"t\\a", "T\\A"},   // a file onto itself, spelled otherwise
    };
    for (const OverlapRow &row : rows) {
        std::string t = make_sample_tree();
        ASSERT_EQ(os_make_directory((t + "\\t").c_str()), 0);
        ASSERT_TRUE(write_file(t + "\\t\\a", "inner"));
        const std::string before = tree_text(dir);
        std::string destination = row.destination[0] ? at(row.destination) : dir;
        testing::internal::CaptureStdout();
        EXPECT_EQ(copy_tree(at(row.source).c_str(), destination.c_str()), -1)
            << row.source << " to " << destination;
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << row.source;
        EXPECT_EQ(tree_text(dir), before) << row.source << " to " << destination;
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        remove_all(t);
    }
}

TEST_F(WalkTest, CopyTreeCopiesIntoAFolderBesideTheSource)
{
    std::string t = make_sample_tree();
    testing::internal::CaptureStdout();
    EXPECT_EQ(copy_tree((t + "\\s").c_str(), (t + "\\e").c_str()), 0);
    fflush(stdout);
    EXPECT_EQ(strip_cr(testing::internal::GetCapturedStdout()), t + "\\s\n");
    EXPECT_EQ(read_file(t + "\\e\\s\\b"), "bbbbb");
    EXPECT_EQ(read_file(t + "\\s\\b"), "bbbbb");
}

TEST_F(WalkTest, CopyEntrySkipsATargetThatWouldNotFit)
{
    ASSERT_TRUE(write_file(at("f"), "1"));
    std::string root = at(std::string(255 - dir.size() - 1, 'r'));
    char directory[PATH_BUFFER_SIZE];
    snprintf(directory, sizeof directory, "%s", dir.c_str());
    char name[] = "f";
    WalkEntry entry = {name, directory, 1, 0777, const_cast<char *>(root.c_str())};
    EXPECT_EQ(copy_entry(&entry), 0);
    EXPECT_FALSE(exists(root + "\\f"));
}

// A target of 255 UTF-16 units fits and one of 256 does not, though both take far fewer
// bytes than a path buffer holds.
TEST_F(WalkTest, CopyEntryCountsTheTargetInUtf16Units)
{
    const std::string source = at("src");
    ASSERT_EQ(os_make_directory(source.c_str()), 0);
    ASSERT_TRUE(write_file(source + "\\f", "1"));
    // The copy sets the source prefix that copy_entry cuts from the entry's folder.
    ASSERT_EQ(copy_tree(source.c_str(), at("dst").c_str()), 0);
    ASSERT_EQ(os_change_directory(source.c_str()), 0);
    char directory[PATH_BUFFER_SIZE];
    snprintf(directory, sizeof directory, "%s", source.c_str());
    char name[] = "f";
    const std::string fitting_root = path_of_units(dir, PATH_UNITS_MAX - 2, 'f', true);
    const std::string long_root = path_of_units(dir, PATH_UNITS_MAX - 1, 'l', true);
    WalkEntry entry = {name, directory, 1, 0777, const_cast<char *>(fitting_root.c_str())};
    EXPECT_EQ(copy_entry(&entry), 0);
    EXPECT_EQ(read_file(fitting_root + "\\f"), "1");
    entry.argument = const_cast<char *>(long_root.c_str());
    EXPECT_EQ(copy_entry(&entry), 0);
    EXPECT_FALSE(exists(long_root));
}

TEST_F(WalkTest, AddFileSizeSumsEveryFileOfTheTree)
{
    std::string t = make_sample_tree();
    ASSERT_TRUE(write_file(t + "\\e\\c", "0123456789"));
    char total[12] = "0";
    char path[PATH_BUFFER_SIZE];
    snprintf(path, sizeof path, "%s", t.c_str());
    EXPECT_EQ(walk_directory(path, add_file_size, total, 1), 0);
    EXPECT_STREQ(total, "18");
    snprintf(total, sizeof total, " +100");
    EXPECT_EQ(walk_directory(path, add_file_size, total, 1), 0);
    EXPECT_STREQ(total, "118");
}

TEST_F(WalkTest, AddFileSizeAddsMinusOneForAFileThatCannotBeOpened)
{
    char directory[PATH_BUFFER_SIZE];
    snprintf(directory, sizeof directory, "%s", dir.c_str());
    char name[] = "missing";
    char total[12] = "10";
    WalkEntry entry = {name, directory, 0, 0777, total};
    EXPECT_EQ(add_file_size(&entry), 0);
    EXPECT_STREQ(total, "9");
    char done[] = "";
    entry.name = done;
    EXPECT_EQ(add_file_size(&entry), 0);
    EXPECT_STREQ(total, "9") << "a directory-done event adds nothing";
}

TEST_F(WalkTest, PrintDirectoryListPrintsMatchingNamesSorted)
{
    ASSERT_TRUE(write_file(at("b.mas"), ""));
    ASSERT_TRUE(write_file(at("a.mas"), ""));
    ASSERT_TRUE(write_file(at("C.mas"), ""));
    ASSERT_TRUE(write_file(at("notes.txt"), ""));
    ASSERT_EQ(os_make_directory(at("folder.mas").c_str()), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(print_directory_list(dir.c_str(), "*.mas"), 0);
    fflush(stdout);
    EXPECT_EQ(strip_cr(testing::internal::GetCapturedStdout()),
              "C.mas\na.mas\nb.mas\nfolder.mas\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(print_directory_list(at("missing").c_str(), "*"), 0);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(WalkTest, PrintDirectoryListNeverShowsTheDotEntries)
{
    ASSERT_TRUE(write_file(at("x"), ""));
    testing::internal::CaptureStdout();
    EXPECT_EQ(print_directory_list(dir.c_str(), "*"), 0);
    fflush(stdout);
    EXPECT_EQ(strip_cr(testing::internal::GetCapturedStdout()), "x\n");
}

static std::string listed_folder;

// Keeps names starting with "k", drops those starting with "m" with -1, and checks that
// the listed folder is current.
static int8_t keep_k(const char *name, const char *argument)
{
    if (current_directory() != listed_folder || strcmp(argument, "arg") != 0)
        return 0;
    return name[0] == 'k' ? 1 : name[0] == 'm' ? -1 : 0;
}

TEST_F(WalkTest, ListDirectoryKeepsWhatTheFilterAcceptsSortedAndRestoresTheFolder)
{
    ASSERT_EQ(os_make_directory(at("list").c_str()), 0);
    const int count = 300; // past two growth steps
    for (int i = 0; i < count; i++)
        ASSERT_TRUE(write_file(at("list\\k" + std::to_string(1000 + i)), ""));
    ASSERT_TRUE(write_file(at("list\\minus"), ""));
    ASSERT_TRUE(write_file(at("list\\zero"), ""));
    listed_folder = at("list");
    char **names = list_directory(keep_k, listed_folder.c_str(), "arg");
    ASSERT_NE(names, nullptr);
    int listed = 0;
    for (; names[listed]; listed++) {
        EXPECT_EQ(std::string(names[listed]), "k" + std::to_string(1000 + listed));
        free(names[listed]);
    }
    free(names);
    EXPECT_EQ(listed, count);
    EXPECT_EQ(current_directory(), dir);
}

TEST_F(WalkTest, ListDirectoryGivesNullForAFolderThatCannotBeEntered)
{
    EXPECT_EQ(list_directory(match_wildcard, at("missing").c_str(), "*"), nullptr);
    EXPECT_EQ(current_directory(), dir);
}
