// Names without regard to case under churn: the layer's own creates, deletes, renames and
// folder changes must keep later lookups exact, and on POSIX, where the layer keeps folder
// listings, changes made behind its back must be seen as os.h promises. Names of any script
// pass through every call whole, on both builds and whatever the ANSI code page.
#include "support.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "behind_back.h"
#include "os.h"

using OsNameCache = TempFolderTest;

// Invented folder times, one per test: a later test's folder may get a removed folder's
// inode, and with the same invented time it would pass for that folder.
static const long long YEAR_2001 = 978307200;

static std::string numbered(const char *prefix, int number, const char *suffix)
{
    char name[64];
    snprintf(name, sizeof name, "%s%04d%s", prefix, number, suffix);
    return name;
}

TEST_F(OsNameCache, FindsANameCreatedRightAfterItWasLookedUpMissing)
{
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_TRUE(write_file("CAR.VEH", "body"));
    EXPECT_EQ(os_exists("car.veh"), 1);
    EXPECT_EQ(read_file("Car.Veh"), "body");
    ASSERT_TRUE(write_file("car.veh", "again")); // the same file, in its stored case
    EXPECT_EQ(names_in(dir), std::set<std::string>({"CAR.VEH"}));
    EXPECT_EQ(read_file("CAR.VEH"), "again");
}

TEST_F(OsNameCache, ForgetsADeletedNameSoThatItIsCreatedAgainAsWritten)
{
    ASSERT_TRUE(write_file("Old.Txt", "1"));
    EXPECT_EQ(os_exists("old.txt"), 1);
    ASSERT_EQ(os_delete_file("OLD.TXT"), 0);
    EXPECT_EQ(os_exists("old.txt"), 0);
    ASSERT_TRUE(write_file("old.txt", "2"));
    EXPECT_EQ(names_in(dir), std::set<std::string>({"old.txt"}));
}

TEST_F(OsNameCache, FollowsRenamesAndNewCases)
{
    ASSERT_TRUE(write_file("A.txt", "a"));
    EXPECT_EQ(os_exists("a.TXT"), 1);
    ASSERT_EQ(os_rename_no_replace("a.txt", "B.TXT"), 0);
    EXPECT_EQ(os_exists("a.txt"), 0);
    EXPECT_EQ(read_file("b.txt"), "a");
    ASSERT_EQ(os_rename_no_replace("b.txt", "B.TXT"), 0); // the same name again
    EXPECT_EQ(read_file("b.Txt"), "a");
    ASSERT_TRUE(write_file("a.txt", "new"));
    EXPECT_EQ(os_rename_no_replace("A.TXT", "b.txt"), -1); // the target exists in another case
    EXPECT_EQ(names_in(dir), std::set<std::string>({"B.TXT", "a.txt"}));
}

TEST_F(OsNameCache, FollowsFoldersCreatedAndRemoved)
{
    EXPECT_EQ(os_exists("sub\\x.txt"), 0);
    EXPECT_EQ(os_exists("sub"), 0);
    ASSERT_EQ(os_make_directory("Sub"), 0);
    ASSERT_TRUE(write_file("SUB\\X.txt", "x"));
    EXPECT_EQ(read_file("sub\\x.TXT"), "x");
    ASSERT_EQ(os_delete_file("sub\\x.txt"), 0);
    ASSERT_EQ(os_remove_directory("SUB"), 0);
    EXPECT_EQ(os_exists("sub"), 0);
    ASSERT_EQ(os_make_directory("sub"), 0);
    EXPECT_EQ(names_in(dir), std::set<std::string>({"sub"}));
    EXPECT_EQ(os_exists("SUB\\x.txt"), 0);
}

// Enough names to grow the listing's table several times, and enough deletes to make it
// rebuild itself; every name must still be found, and no deleted one.
TEST_F(OsNameCache, KeepsEveryNameOfABusyFolder)
{
    const int files = 600;
    for (int i = 0; i < files; i++)
        ASSERT_TRUE(write_file(numbered("File", i, ".Txt"), "x"));
    for (int round = 0; round < 3; round++)
        for (int i = 0; i < files; i++) {
            std::string name = numbered("new_file", i, ".txt");
            ASSERT_EQ(os_exists(name.c_str()), 0) << name;
            ASSERT_TRUE(write_file(name, "y"));
            ASSERT_EQ(os_delete_file(numbered("NEW_FILE", i, ".TXT").c_str()), 0) << name;
        }
    for (int i = 0; i < files; i++)
        ASSERT_EQ(os_exists(numbered("file", i, ".txt").c_str()), 1) << i;
    EXPECT_EQ(names_in(dir).size(), static_cast<size_t>(files));
}

TEST_F(OsNameCache, StaysExactOverMoreFoldersThanItKeeps)
{
    const int folders = 12;
    for (int i = 0; i < folders; i++) {
        ASSERT_EQ(os_make_directory(numbered("Dir", i, "").c_str()), 0);
        ASSERT_TRUE(write_file(numbered("Dir", i, "\\Name.TXT"), "n"));
    }
    for (int round = 0; round < 2; round++)
        for (int i = 0; i < folders; i++) {
            EXPECT_EQ(os_exists(numbered("dir", i, "\\name.txt").c_str()), 1);
            EXPECT_EQ(os_exists(numbered("dir", i, "\\other.txt").c_str()), round);
            if (round == 0) {
                ASSERT_TRUE(write_file(numbered("DIR", i, "\\Other.txt"), "o"));
            }
        }
    EXPECT_EQ(names_in(at("dir0011")), std::set<std::string>({"Name.TXT", "Other.txt"}));
}

// As Windows: a name that does not exist as written is taken without the dots and blanks that
// end it.
TEST_F(OsNameCache, TakesAMissingNameWithoutItsTrailingDotsAndBlanks)
{
    ASSERT_TRUE(write_file("1gt500.mas", "archive"));
    for (const char *name : {"1gt500.mas.", "1GT500.MAS..", "1gt500.mas . ", "1gt500.mas  "})
        EXPECT_EQ(read_file(name), "archive") << name;
    ASSERT_TRUE(write_file("new.veh. ", "new"));
    EXPECT_EQ(os_rename_no_replace("new.veh", "Renamed.veh."), 0);
    EXPECT_EQ(os_exists("."), 1);
    EXPECT_EQ(os_exists(".."), 1);
    EXPECT_EQ(names_in(dir), std::set<std::string>({"1gt500.mas", "Renamed.veh"}));
}

// The same letters in the other case are one name on Windows: on POSIX the lookups and the
// cached listings fold them alike; on Windows the system does.
TEST_F(OsNameCache, FindsAccentedLettersInTheOtherCase)
{
    EXPECT_EQ(os_exists("m\u00fcller.veh"), 0);
    ASSERT_TRUE(write_file("M\u00dcLLER.VEH", "body"));
    EXPECT_EQ(read_file("m\u00fcller.veh"), "body");
    ASSERT_TRUE(write_file("\u0416\u0423\u041a", "beetle"));
    EXPECT_EQ(read_file("\u0436\u0443\u043a"), "beetle");
    ASSERT_TRUE(write_file("\u1f08\u03a1\u0397\u03a3", "polytonic"));
    // NTFS finds the final sigma as a sigma; Wine's case table does not match it to one.
    const bool wine = os_program_suffix[0] != '\0';
    EXPECT_EQ(read_file(wine ? "\u1f00\u03c1\u03b7\u03c3" : "\u1f00\u03c1\u03b7\u03c2"),
              "polytonic");
    ASSERT_TRUE(write_file("\uff23\uff21\uff32.veh", "fullwidth"));
    EXPECT_EQ(read_file("\uff43\uff41\uff52.VEH"), "fullwidth");
    EXPECT_EQ(os_exists("m\xFCller.veh"), 0); // no UTF-8: ASCII case only
    EXPECT_EQ(os_exists("M\u00dcLLER.VEH\u00df"), 0);
    EXPECT_EQ(os_exists("car.veh"), 0); // fullwidth letters are not ASCII ones
    EXPECT_EQ(names_in(dir), std::set<std::string>({"M\u00dcLLER.VEH", "\u0416\u0423\u041a",
                                                    "\u1f08\u03a1\u0397\u03a3",
                                                    "\uff23\uff21\uff32.veh"}));
}

// UTF-8 names compare as NTFS compares its names: by their simple upper case, as UTF-16 code
// units, so that a character past U+FFFF (a surrogate pair) comes before U+E000 to U+FFFF.
TEST(OsNameOrderUtf16, CompareByUpperCaseCodeUnits)
{
    struct Row {
        const char *first, *second;
        int order;
    } rows[] = {
        {"\u1f00\u03bd", "\u1f08\u039d", 0}, // Greek with polytonic accents
        {"\u1f57", "\u1f5f", 0},
        {"\u1f70", "\u1fba", 0},
        {"\u1f7d", "\u1ffb", 0},
        {"\u1f80", "\u1f88", 0},
        {"\u1fa7", "\u1faf", 0},
        {"\u1fb3", "\u1fbc", 0},
        {"\u1fe5", "\u1fec", 0},
        {"\u1ff3", "\u1ffc", 0},
        {"\u1f50", "\u1f51", -1}, // no one-letter upper case: stays U+1F50, before U+1F59
        {"\u1fbe", "\u0399", 1},  // its upper case would change the name's length
        {"\uff43\uff41\uff52.veh", "\uff23\uff21\uff32.VEH", 0}, // fullwidth Latin
        {"\uff5a", "\uff3a", 0},
        {"\uff5b", "\uff3b", 1}, // fullwidth brackets, no letters
        {"\uff41", "Z", 1},
        {"\U0001f697.veh", "\ue000.veh", -1}, // a surrogate pair before U+E000 to U+FFFF
        {"\U00010000", "\uffff", -1},
        {"\U0001f697", "\uff21", -1},
        {"\U0001f697", "\ud7fb", 1},
        {"\U0001f697", "\U0001f698", -1},
        {"\U00010428", "\U00010400", 1}, // past U+FFFF NTFS matches no case
        {"\xff", "\U0001f697", 1},       // a byte of no UTF-8 stands for U+DCFF
    };
    for (const Row &row : rows) {
        int order = os_compare_names(row.first, row.second);
        EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, row.order) << row.first << " " << row.second;
        order = os_compare_names(row.second, row.first);
        EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, -row.order) << row.second << " " << row.first;
    }
}

TEST_F(OsNameCache, ListsCharactersPastU_FFFFBeforeU_E000)
{
    if (os_program_suffix[0] != '\0')
        GTEST_SKIP() << "Windows lists as its file system orders; Wine as the host's does";
    const std::vector<std::string> order = {".", "..", "a.veh", "\U0001f697.veh", "\ue000.veh",
                                            "\uff21.veh"};
    for (size_t i = order.size() - 1; i >= 2; i--)
        ASSERT_TRUE(write_file(order[i], "x")) << order[i];
    std::vector<std::string> listed;
    OsDirList *list = os_list_open(dir.c_str());
    ASSERT_NE(list, nullptr);
    OsDirEntry entry;
    while (os_list_next(list, &entry))
        listed.push_back(entry.name);
    os_list_close(list);
    EXPECT_EQ(listed, order);
}

// ---- Names in any script, whatever the ANSI code page --------------------------------------

using OsNamesCodePage = TempFolderTest;

// Names of several scripts, each with a spelling in another case. In cp932 'ソ' (83 5C) and
// '表' (95 5C) end in a backslash, and 'カ' (83 4A) and 'ニ' (83 6A) differ only in the case of
// their second byte; 'ś' has no form in cp932, cp1251 or cp1252, 'Г' none in cp932 or cp1252.
struct ScriptName {
    const char *name, *other_case;
};
static const ScriptName SCRIPT_NAMES[] = {
    {"\u30ab\u30fc.veh", "\u30ab\u30fc.VEH"},                             // カー.veh
    {"\u30cb\u30fc.veh", "\u30cb\u30fc.Veh"},                             // ニー.veh
    {"\u30bd.veh", "\u30bd.VEH"},                                         // ソ.veh
    {"\u80fd", "\u80fd"},                                                 // 能
    {"\u8868", "\u8868"},                                                 // 表
    {"Wy\u015bcigi", "WY\u015aCIGI"},                                     // Wyścigi
    {"\u0413\u043e\u043d\u043a\u0438", "\u0413\u041e\u041d\u041a\u0418"}, // Гонки
};

// Every name is made, found in its other case (each its own file: カー and ニー are two), listed,
// resolved, renamed and deleted through the layer, on both builds and in every code page.
TEST_F(OsNamesCodePage, PassThroughEveryCallWhole)
{
    std::set<std::string> made, renamed;
    for (const ScriptName &row : SCRIPT_NAMES) {
        ASSERT_TRUE(write_file(row.name, row.name)) << row.name;
        made.insert(row.name);
        renamed.insert(std::string(row.name) + ".old");
    }
    EXPECT_EQ(names_in(dir), made);
    for (const ScriptName &row : SCRIPT_NAMES) {
        EXPECT_EQ(read_file(row.other_case), row.name) << row.name;
        OsFileStatus status;
        ASSERT_EQ(os_file_status(row.other_case, &status), 0) << row.name;
        EXPECT_EQ(status.size, strlen(row.name)) << row.name;
        EXPECT_EQ(os_same_file(row.other_case, at(row.name).c_str()), 1) << row.name;
        char path[OS_PATH_SIZE];
        ASSERT_EQ(os_full_path(row.other_case, path, sizeof path), 0) << row.name;
        EXPECT_EQ(path, at(row.other_case)) << row.name;
        ASSERT_EQ(os_final_path(row.other_case, path, sizeof path), 0) << row.name;
        const std::string final = path, tail = std::string("\\") + row.name;
        ASSERT_GT(final.size(), tail.size()) << final;
        EXPECT_EQ(final.substr(final.size() - tail.size()), tail) << "the case stored on disk";
        EXPECT_EQ(os_rename_no_replace(row.other_case, (std::string(row.name) + ".old").c_str()), 0)
            << row.name;
    }
    EXPECT_EQ(os_same_file(SCRIPT_NAMES[0].name, SCRIPT_NAMES[1].name), 0);
    EXPECT_EQ(names_in(dir), renamed);
    for (const std::string &name : renamed)
        EXPECT_EQ(os_delete_file(name.c_str()), 0) << name;
    EXPECT_EQ(names_in(dir), std::set<std::string>{});
}

// Folders of any script are made, entered and listed; a name in one is found in its other case.
TEST_F(OsNamesCodePage, NameFoldersAndTheirFiles)
{
    for (const ScriptName &row : SCRIPT_NAMES) {
        ASSERT_EQ(os_make_directory(row.name), 0) << row.name;
        ASSERT_TRUE(write_file(std::string(row.name) + "\\" + row.name, "inside")) << row.name;
        EXPECT_EQ(os_make_directory(row.other_case), -1) << "exists in another case";
    }
    for (const ScriptName &row : SCRIPT_NAMES) {
        ASSERT_EQ(os_change_directory(row.other_case), 0) << row.name;
        char current[OS_PATH_SIZE];
        ASSERT_EQ(os_get_current_directory(current, sizeof current), 0);
        EXPECT_EQ(os_compare_names(current, at(row.name).c_str()), 0) << current;
        EXPECT_EQ(read_file(row.other_case), "inside") << row.name;
        EXPECT_EQ(names_in("."), std::set<std::string>{row.name});
        ASSERT_EQ(os_change_directory(".."), 0);
        ASSERT_EQ(os_delete_file((std::string(row.name) + "\\" + row.name).c_str()), 0);
        EXPECT_EQ(os_remove_directory(row.other_case), 0) << row.name;
    }
    EXPECT_EQ(names_in(dir), std::set<std::string>{});
}

// A folder of any script is held, listed through its hold, emptied and removed; every name
// it holds is listed, also one the ANSI code page has no form for.
TEST_F(OsNamesCodePage, FoldersOfAnyScriptAreHeldListedAndEmptied)
{
    const std::string folder = "\u8868", sub = "\u80fd";
    const std::set<std::string> names = {"\u30bd.veh", "\u30ab\u30fc.veh", "\u30cb\u30fc.veh",
                                         "Wy\u015bcigi", "\u0413\u043e\u043d\u043a\u0438"};
    ASSERT_EQ(os_make_directory(folder.c_str()), 0);
    ASSERT_EQ(os_make_directory((folder + "\\" + sub).c_str()), 0);
    for (const std::string &name : names)
        ASSERT_TRUE(write_file(folder + "\\" + name, name)) << name;
    OsFolderHold shared;
    ASSERT_EQ(os_folder_hold(folder.c_str(), OS_HOLD_SHARED, &shared), 0);
    OsHeldFolder *held = os_hold_folder(at(folder).c_str());
    ASSERT_NE(held, nullptr);
    std::set<std::string> listed;
    OsDirEntry entry;
    while (os_held_next(held, &entry) == 1)
        listed.insert(entry.name);
    std::set<std::string> expected = names;
    expected.insert(sub);
    EXPECT_EQ(listed, expected);
    for (const std::string &name : names)
        EXPECT_EQ(os_held_delete(held, name.c_str()), 0) << name;
    OsHeldFolder *inner = os_hold_subfolder(held, sub.c_str());
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(os_release_folder(inner, 1), 0);
    EXPECT_EQ(os_release_folder(held, 0), 0);
    os_folder_release(&shared);
    EXPECT_EQ(names_in(at(folder)), std::set<std::string>{});
}

// A full or final path that does not fit the buffer, or past what the layer converts, is a
// clear -1 and an empty buffer; one that fits exactly is whole. Counted in UTF-8 bytes.
TEST_F(OsNamesCodePage, PathsThatDoNotFitAreAClearFailure)
{
    const std::string name = "\u0413\u043e\u043d\u043a\u0438 \u30bd";
    ASSERT_TRUE(write_file(name, "x"));
    char final[OS_PATH_SIZE];
    ASSERT_EQ(os_final_path(name.c_str(), final, sizeof final), 0);
    const uint32_t fit = static_cast<uint32_t>(strlen(final)) + 1;
    std::vector<char> buffer(fit, 'x');
    EXPECT_EQ(os_final_path(name.c_str(), buffer.data(), fit - 1), -1);
    EXPECT_EQ(buffer[0], '\0');
    ASSERT_EQ(os_final_path(name.c_str(), buffer.data(), fit), 0);
    EXPECT_STREQ(buffer.data(), final);
    const std::string full = at(name);
    buffer.assign(full.size() + 1, 'x');
    EXPECT_EQ(os_full_path(name.c_str(), buffer.data(), static_cast<uint32_t>(full.size())), -1);
    EXPECT_EQ(buffer[0], '\0');
    ASSERT_EQ(os_full_path(name.c_str(), buffer.data(), static_cast<uint32_t>(full.size() + 1)), 0);
    EXPECT_EQ(std::string(buffer.data()), full);
    std::string far = "Z:\\";
    for (int i = 0; i < 1100; i++)
        far += "\u30bd";
    char path[OS_PATH_SIZE] = "x";
    EXPECT_EQ(os_full_path(far.c_str(), path, sizeof path), -1);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(os_final_path(far.c_str(), path, sizeof path), -1);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(os_exists(far.c_str()), 0);
}

// 1 when text is ASCII or well-formed UTF-8.
static bool is_utf8_text(const char *text)
{
    for (const char *p = text; *p; p++)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return os_text_is_utf8(text) == 1;
    return true;
}

// The system's words come as UTF-8 in every code page, and a buffer too small for them cuts
// them between characters, never inside one.
TEST_F(OsNamesCodePage, ErrorTextIsUtf8CutBetweenCharacters)
{
    ASSERT_EQ(os_open("\u0413\u043e\u043d\u043a\u0438\\\u30bd.veh", OS_OPEN_READ), -1);
    char text[300];
    const std::string words = os_error_text(text, sizeof text);
    EXPECT_GT(words.size(), 3u);
    EXPECT_TRUE(is_utf8_text(words.c_str())) << words;
    for (uint32_t size = 1; size <= words.size() + 1; size++) {
        std::vector<char> cut(size, 'x');
        ASSERT_EQ(os_open("\u0413\u043e\u043d\u043a\u0438\\\u30bd.veh", OS_OPEN_READ), -1);
        os_error_text(cut.data(), size);
        EXPECT_TRUE(is_utf8_text(cut.data())) << size;
        EXPECT_EQ(words.compare(0, strlen(cut.data()), cut.data()), 0) << size;
        EXPECT_LT(strlen(cut.data()), size);
    }
}

// Every stream mode opens a name of any script as the C runtime's fopen opens a file: what it
// reads from the start, and where a byte written at the start lands.
TEST_F(OsNamesCodePage, StreamsOfEveryModeOpenANameOfAnyScript)
{
    const struct {
        const char *mode;
        int first;         // the first byte read from the start, EOF when none
        const char *after; // the file once 'Z' was written at the start
    } rows[] = {
        {"r", 'a', "ab"},   {"rb", 'a', "ab"},  {"r+", 'a', "Zb"},  {"r+b", 'a', "Zb"},
        {"w", EOF, "Z"},    {"w+", EOF, "Z"},   {"a", EOF, "abZ"},  {"a+", 'a', "abZ"},
        {"at", EOF, "abZ"}, {"wt", EOF, "Z"},
    };
    const std::string name = "\u30bd \u0413\u043e\u043d\u043a\u0438.txt";
    for (const auto &row : rows) {
        ASSERT_TRUE(write_file(name, "ab"));
        FILE *file = os_open_stream(name.c_str(), row.mode);
        ASSERT_NE(file, nullptr) << row.mode;
        fseek(file, 0, SEEK_SET);
        EXPECT_EQ(fgetc(file), row.first) << row.mode;
        fseek(file, 0, SEEK_SET);
        fputc('Z', file);
        os_close_stream(file);
        EXPECT_EQ(read_file(name), row.after) << row.mode;
    }
    EXPECT_EQ(os_open_stream("\u8868.txt", "r"), nullptr);
    EXPECT_EQ(os_open_stream("\u8868.txt", "r+"), nullptr);
    FILE *file = os_open_stream("\u8868.txt", "a");
    ASSERT_NE(file, nullptr) << "appending creates";
    EXPECT_EQ(os_close_stream(file), 0);
    EXPECT_EQ(names_in(dir), (std::set<std::string>{name, "\u8868.txt"}));
}

// ---- Changes behind the layer's back (POSIX) ---------------------------------------------

class OsNameCacheBehindItsBack : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        if (!behind_back_available())
            GTEST_SKIP() << "the OS layer keeps folder listings only on POSIX";
        TempFolderTest::SetUp();
    }
};

// A Linux file whose own name ends in a dot is still found by that name, beside its twin.
TEST_F(OsNameCacheBehindItsBack, FindsANameEndingInADotByItsExactName)
{
    ASSERT_TRUE(write_file("odd", "plain"));
    ASSERT_EQ(behind_create_file(at("odd.")), 0);
    EXPECT_EQ(read_file("odd."), "");
    EXPECT_EQ(read_file("ODD."), "");
    EXPECT_EQ(read_file("odd"), "plain");
    EXPECT_EQ(read_file("odd.."), "plain");
}

TEST_F(OsNameCacheBehindItsBack, SeesANameAnotherProgramCreated)
{
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_EQ(behind_create_file(at("CAR.VEH")), 0);
    EXPECT_EQ(os_exists("car.veh"), 1);
    ASSERT_TRUE(write_file("car.veh", "body"));
    EXPECT_EQ(names_in(dir), std::set<std::string>({"CAR.VEH"}));
}

TEST_F(OsNameCacheBehindItsBack, ForgetsANameAnotherProgramDeleted)
{
    ASSERT_TRUE(write_file("CAR.VEH", "body"));
    EXPECT_EQ(os_exists("car.veh"), 1);
    ASSERT_EQ(behind_delete_file(at("CAR.VEH")), 0);
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_TRUE(write_file("car.veh", "new"));
    EXPECT_EQ(names_in(dir), std::set<std::string>({"car.veh"}));
}

TEST_F(OsNameCacheBehindItsBack, SeesARenameByAnotherProgram)
{
    ASSERT_TRUE(write_file("First.txt", "1"));
    EXPECT_EQ(os_exists("first.txt"), 1);
    EXPECT_EQ(os_exists("second.txt"), 0);
    ASSERT_EQ(behind_rename(at("First.txt"), at("SECOND.txt")), 0);
    EXPECT_EQ(os_exists("first.txt"), 0);
    EXPECT_EQ(read_file("second.TXT"), "1");
}

// A listing taken while the folder's time is as new as the clock is distrusted: a change
// within the same tick leaves that time as it was.
TEST_F(OsNameCacheBehindItsBack, SeesAChangeThatLeftTheFolderTimeAsItWasAfterARacyListing)
{
    long long soon = behind_clock_seconds(60);
    ASSERT_EQ(behind_set_time(dir, soon, 0), 0);
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_EQ(behind_create_file(at("CAR.VEH")), 0);
    ASSERT_EQ(behind_set_time(dir, soon, 0), 0);
    EXPECT_EQ(os_exists("car.veh"), 1);
}

// What os.h states the layer cannot see: a change that leaves the folder's time exactly as
// it was after a listing older than the clock. Any new time, even an older one, is seen.
TEST_F(OsNameCacheBehindItsBack, TrustsAListingUntilTheFolderTimeChanges)
{
    const long long year_2001 = YEAR_2001 + 1000;
    ASSERT_EQ(behind_set_time(dir, year_2001, 5), 0);
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_EQ(behind_create_file(at("CAR.VEH")), 0);
    ASSERT_EQ(behind_set_time(dir, year_2001, 5), 0);
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_EQ(behind_set_time(dir, year_2001, 4), 0);
    EXPECT_EQ(os_exists("car.veh"), 1);
}

// A name found in another case is checked before it is used, so a listing that missed a
// delete never leads to an entry that is gone (nor gives a created file that entry's case).
TEST_F(OsNameCacheBehindItsBack, NeverLeadsToANameAnotherProgramDeleted)
{
    const long long year_2001 = YEAR_2001 + 4000;
    ASSERT_TRUE(write_file("CAR.VEH", "body"));
    ASSERT_EQ(behind_set_time(dir, year_2001, 0), 0);
    EXPECT_EQ(os_exists("car.veh"), 1);
    ASSERT_EQ(behind_delete_file(at("CAR.VEH")), 0);
    ASSERT_EQ(behind_set_time(dir, year_2001, 0), 0);
    EXPECT_EQ(os_exists("car.veh"), 0);
    ASSERT_TRUE(write_file("car.veh", "new"));
    EXPECT_EQ(names_in(dir), std::set<std::string>({"car.veh"}));
}

TEST_F(OsNameCacheBehindItsBack, SeesAFolderReplacedByAnotherOfTheSameTime)
{
    const long long year_2001 = YEAR_2001 + 2000;
    ASSERT_EQ(os_make_directory("Sub"), 0);
    ASSERT_EQ(behind_set_time(at("Sub"), year_2001, 0), 0);
    EXPECT_EQ(os_exists("sub\\x.txt"), 0);
    ASSERT_EQ(behind_rename(at("Sub"), at("Old")), 0);
    ASSERT_EQ(behind_make_folder(at("Sub")), 0);
    ASSERT_EQ(behind_create_file(at("Sub\\X.txt")), 0);
    ASSERT_EQ(behind_set_time(at("Sub"), year_2001, 0), 0);
    EXPECT_EQ(os_exists("sub\\x.txt"), 1);
}

// The layer's own change may only update a listing that was current just before it; one
// that another program's change had made stale is read again.
TEST_F(OsNameCacheBehindItsBack, OwnChangeAfterAnotherProgramsChangeKeepsThatChange)
{
    const long long year_2001 = YEAR_2001 + 3000;
    ASSERT_TRUE(write_file("bar.txt", "b"));
    ASSERT_EQ(behind_set_time(dir, year_2001, 0), 0);
    EXPECT_EQ(os_exists("foo.txt"), 0);
    ASSERT_EQ(behind_create_file(at("FOO.txt")), 0);
    ASSERT_EQ(behind_set_time(dir, year_2001 + 1, 0), 0);
    ASSERT_EQ(os_delete_file("bar.txt"), 0);
    EXPECT_EQ(os_exists("foo.txt"), 1);
    ASSERT_TRUE(write_file("foo.txt", "f"));
    EXPECT_EQ(names_in(dir), std::set<std::string>({"FOO.txt"}));
}

// ---- Files of a held folder --------------------------------------------------------------

using OsHeldFiles = TempFolderTest;

// Opens name in the held folder for writing and replaces its content with text. 0 when done.
static int held_rewrite(OsHeldFolder *folder, const char *name, const char *text)
{
    OsOpenFile file;
    if (os_held_open_file(folder, name, 1, &file) != 0)
        return -1;
    int result = os_held_file_is_still_at(folder, name, &file) == 1 &&
                         os_replace_content(&file, text, static_cast<uint32_t>(strlen(text))) == 0
                     ? 0
                     : -1;
    os_close(file.fd);
    return result;
}

// Names are found in any case; a rename never replaces an entry, not even one alike in another
// case, but gives a name a new case; a file created is deleted only through its descriptor;
// an armed fault fails the call and changes nothing.
TEST_F(OsHeldFiles, AreFoundRenamedCreatedAndDeletedWithoutReplacingAnything)
{
    ASSERT_EQ(os_make_directory("t"), 0);
    ASSERT_TRUE(write_file("t\\Car.vrl", "car"));
    ASSERT_TRUE(write_file("t\\c.vrl", "c"));
    OsHeldFolder *t = os_hold_folder(at("t").c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(held_rewrite(t, "car.VRL", "patched"), 0);
    EXPECT_EQ(os_held_rename(t, "CAR.vrl", "C.VRL"), -1) << "c.vrl exists in another case";
    EXPECT_EQ(os_held_rename(t, "car.vrl", "c.vrl"), -1);
    EXPECT_EQ(os_held_rename(t, "car.vrl", "CAR.VRL"), 0) << "a new case of the same name";
    EXPECT_EQ(os_held_rename(t, "car.vrl", "b.vrl"), 0);
    EXPECT_EQ(read_file("t\\b.vrl"), "patched");
    int fd = os_held_create_new(t, "n.tmp");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(os_held_create_new(t, "n.tmp"), -1);
    EXPECT_EQ(os_held_delete_created(t, fd, "n.tmp"), 0);
    OsOpenFile file;
    EXPECT_EQ(os_held_open_file(t, "n.tmp", 0, &file), -1);
    EXPECT_EQ(file.fd, -1);
    os_inject_fault(OS_FAULT_RENAME, 1);
    EXPECT_EQ(os_held_rename(t, "b.vrl", "d.vrl"), -1);
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(os_held_create_new(t, "n.tmp"), -1);
    fd = os_held_create_new(t, "n.tmp");
    os_inject_fault(OS_FAULT_DELETE, 1);
    EXPECT_EQ(os_held_delete_created(t, fd, "n.tmp"), -1);
    EXPECT_EQ(os_release_folder(t, 0), 0);
    EXPECT_EQ(names_in(at("t")), (std::set<std::string>{"b.vrl", "c.vrl", "n.tmp"}));
    EXPECT_EQ(read_file("t\\c.vrl"), "c");
}

// A link leading out of the held folder is never opened, nor counted as the file it leads to;
// one leading to a file of the folder is; a rename moves a link as itself. Under Wine the links
// are Linux links, which Wine shows as the files they lead to.
TEST_F(OsHeldFiles, OpenNoLinkLeadingOutOfTheFolder)
{
    ASSERT_EQ(os_make_directory("t"), 0);
    ASSERT_EQ(os_make_directory("user"), 0);
    ASSERT_TRUE(write_file("user\\own.vrl", "user's"));
    ASSERT_TRUE(write_file("t\\car.vrl", "car"));
    if (unix_make_link(at("user\\own.vrl"), at("t\\out.vrl")) != 0 ||
        unix_make_link(at("t\\car.vrl"), at("t\\in.vrl")) != 0)
        GTEST_SKIP() << "no Unix links can be made here";
    OsHeldFolder *t = os_hold_folder(at("t").c_str());
    ASSERT_NE(t, nullptr);
    OsOpenFile user, car;
    EXPECT_EQ(held_rewrite(t, "out.vrl", "patched"), -1);
    ASSERT_EQ(os_open_file(at("user\\own.vrl").c_str(), 0, &user), 0);
    EXPECT_EQ(os_held_file_is_still_at(t, "out.vrl", &user), 0);
    ASSERT_EQ(os_held_open_file(t, "in.vrl", 0, &car), 0);
    EXPECT_EQ(os_held_file_is_still_at(t, "in.vrl", &car), 1);
    EXPECT_EQ(os_held_file_is_still_at(t, "car.vrl", &car), 1);
    os_close(user.fd); // Wine would refuse the rename of a link to a file open unshared
    os_close(car.fd);
    // Natively the link itself moves; Wine, which would move the user's file, is refused.
    int moved = os_held_rename(t, "out.vrl", "moved.vrl");
    EXPECT_EQ(os_held_rename(t, "in.vrl", "car.vrl"), -1);
    EXPECT_EQ(os_release_folder(t, 0), 0);
    EXPECT_EQ(names_in(at("user")), std::set<std::string>{"own.vrl"});
    EXPECT_EQ(read_file("user\\own.vrl"), "user's");
    EXPECT_EQ(read_file("t\\car.vrl"), "car");
    EXPECT_EQ(unix_remove_link(at(moved == 0 ? "t\\moved.vrl" : "t\\out.vrl")), 0);
    EXPECT_EQ(unix_remove_link(at("t\\in.vrl")), 0);
}

// The held folder renamed away and another put in its place: every routine still acts in
// the folder held, and a file of the other folder is not the held folder's. (Windows refuses
// to rename a held folder; Wine does not, so this runs natively.)
TEST_F(OsHeldFiles, StayInTheHeldFolderWhenAnotherTakesItsName)
{
    if (!behind_back_available())
        GTEST_SKIP() << "folders are swapped behind the layer's back with the POSIX calls only";
    ASSERT_EQ(os_make_directory("t"), 0);
    ASSERT_TRUE(write_file("t\\a.vrl", "held"));
    OsHeldFolder *t = os_hold_folder(at("t").c_str());
    ASSERT_NE(t, nullptr);
    OsOpenFile held, other;
    ASSERT_EQ(os_held_open_file(t, "a.vrl", 0, &held), 0);
    ASSERT_EQ(behind_rename(at("t"), at("away")), 0);
    ASSERT_EQ(behind_make_folder(at("t")), 0);
    ASSERT_TRUE(write_file("t\\a.vrl", "another's"));
    ASSERT_EQ(os_open_file("t\\a.vrl", 0, &other), 0);
    EXPECT_EQ(os_held_file_is_still_at(t, "a.vrl", &held), 1);
    EXPECT_EQ(os_held_file_is_still_at(t, "a.vrl", &other), 0);
    EXPECT_EQ(held_rewrite(t, "a.vrl", "patched"), 0);
    EXPECT_EQ(os_held_rename(t, "a.vrl", "b.vrl"), 0);
    int fd = os_held_create_new(t, "n.tmp");
    EXPECT_GE(fd, 0);
    EXPECT_EQ(os_held_delete_created(t, fd, "n.tmp"), 0);
    os_close(held.fd);
    os_close(other.fd);
    EXPECT_EQ(os_release_folder(t, 0), 0);
    EXPECT_EQ(names_in(at("away")), std::set<std::string>{"b.vrl"});
    EXPECT_EQ(read_file("away\\b.vrl"), "patched");
    EXPECT_EQ(names_in(at("t")), std::set<std::string>{"a.vrl"});
    EXPECT_EQ(read_file("t\\a.vrl"), "another's");
}
