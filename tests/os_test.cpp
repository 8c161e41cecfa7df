// Tests of the OS layer: the POSIX back end must show the same behaviour as Windows (paths,
// names without case, listings, renames, processes), and both back ends must agree.
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "behind_back.h"
#include "os.h"
#include "os_test.h"
#include "support.h"

struct Listed {
    uint32_t size;
    int32_t attributes;
};

static std::map<std::string, Listed> list_folder(const std::string &folder)
{
    std::map<std::string, Listed> entries;
    OsDirList *list = os_list_open(folder.c_str());
    if (!list)
        return entries;
    OsDirEntry entry;
    while (os_list_next(list, &entry))
        entries[entry.name] = {entry.size, entry.attributes};
    os_list_close(list);
    return entries;
}

TEST(OsPaths, TranslateDriveLettersAsWineShowsThem)
{
    struct Row {
        const char *path;
        int exists;
        bool posix_only;
    } rows[] = {
        {"Z:\\", 1, false},    {"z:", 1, false},
        {"Z:\\tmp", 1, false}, {"z:/tmp", 1, false},
        {"/tmp", 1, true},     {"C:\\", 0, true},
        {"Q:\\tmp", 0, true},  {"Z:\\no-such-thing", 0, false},
    };
    for (const Row &row : rows) {
        if (row.posix_only && !on_posix())
            continue;
        EXPECT_EQ(os_exists(row.path), row.exists) << row.path;
    }
}

TEST(OsPaths, FailCleanlyWhenTooLong)
{
    std::string path = "Z:\\" + std::string(5000, 'a');
    EXPECT_EQ(os_exists(path.c_str()), 0);
    EXPECT_EQ(os_open(path.c_str(), OS_OPEN_READ_WRITE | OS_OPEN_CREATE), -1);
    EXPECT_EQ(os_make_directory(path.c_str()), -1);
}

using OsNames = TempFolderTest;

TEST_F(OsNames, AreFoundWithoutRegardToCase)
{
    ASSERT_EQ(os_make_directory("Cars"), 0);
    ASSERT_TRUE(write_file("Cars\\CAR.VEH", "body"));
    EXPECT_EQ(read_file("cars\\car.veh"), "body");
    EXPECT_EQ(read_file(at("CARS\\Car.Veh")), "body");
    OsFileStatus status;
    ASSERT_EQ(os_file_status("cARS\\car.VEH", &status), 0);
    EXPECT_EQ(status.size, 4u);
    EXPECT_EQ(os_change_directory("CARS"), 0);
    EXPECT_EQ(read_file("car.veh"), "body");
}

TEST_F(OsNames, KeepTheirCaseWhenCreated)
{
    ASSERT_EQ(os_make_directory("Sub"), 0);
    ASSERT_TRUE(write_file("SUB\\NewName.Txt", "1"));
    ASSERT_TRUE(write_file("sub\\newname.txt", "22")); // the same file again
    std::map<std::string, Listed> entries = list_folder("Sub");
    EXPECT_EQ(entries.size(), 3u);
    ASSERT_EQ(entries.count("NewName.Txt"), 1u);
    EXPECT_EQ(entries["NewName.Txt"].size, 2u);
    EXPECT_EQ(os_make_directory("sub"), -1);
}

// Names compare by their upper-case forms, as NTFS orders them: '_' comes after the letters.
// Names are UTF-8 on both builds, whatever the ANSI code page (in cp932 'カ' is 83 4A and 'ニ'
// 83 6A, alike but for the case of their second byte; 'ソ' and '表' end in 5C, a backslash).
TEST(OsNameOrderCodePage, CompareByTheirUpperCaseForms)
{
    struct Row {
        const char *first, *second;
        int order;
    } rows[] = {
        {"car.veh", "CAR.VEH", 0},
        {"newbeetle.veh", "new_beetle.veh", -1},
        {"alpha", "Zeta", -1},
        {"Zeta", "[x]", -1},
        {"car", "car.veh", -1},
        {"m\xFCller.veh", "M\xDCLLER.VEH", 1}, // no UTF-8: bytes, ASCII case only
        {"\xC9", "\xC3\xA9", 1},               // a byte 0xC9 is no 'É'
        {"M\u00dcLLER.VEH", "m\u00fcller.veh", 0},
        {"\u00ff", "\u0178", 0}, // ÿ and Ÿ, across blocks
        {"Zeta", "\u00e9mile", -1},
        {"\u00c9b\u00e8ne", "\u00e9mile", -1},
        {"stra\u00dfe", "STRASSE", 1}, // ß has no one-letter upper case
        {"\u03c3\u03bf\u03c6\u03b9\u03b1", "\u03a3\u039f\u03a6\u0399\u0391", 0},
        {"\u0436\u0443\u043a", "\u0416\u0423\u041a", 0},
        {"\u0131", "I", 1}, // dotless i stays itself: a name keeps its length
        {"\u30ab\u30fc.veh", "\u30cb\u30fc.veh", -1}, // カー before ニー
        {"\u30ab\u30fc.veh", "\u30ab\u30fc.VEH", 0},
        {"\u30bd.veh", "\u30bd\\.veh", -1},  // ソ is no ソ and a backslash
        {"\u8868", "\u80fd", 1},             // 表 after 能
        {"Wy\u015bcigi", "WY\u015aCIGI", 0}, // Wyścigi
        {"\u0413\u043e\u043d\u043a\u0438", "\u0413\u041e\u041d\u041a\u0418", 0}, // Гонки
    };
    for (const Row &row : rows) {
        int order = os_compare_names(row.first, row.second);
        EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, row.order) << row.first << " " << row.second;
        order = os_compare_names(row.second, row.first);
        EXPECT_EQ(order < 0 ? -1 : order > 0 ? 1 : 0, -row.order) << row.second << " " << row.first;
    }
}

using OsFiles = TempFolderTest;

TEST_F(OsFiles, ReportStatusOfFilesAndFolders)
{
    ASSERT_TRUE(write_file("five", "12345"));
    ASSERT_EQ(os_make_directory("folder"), 0);
    OsFileStatus status = {9, 9, 9};
    ASSERT_EQ(os_file_status("five", &status), 0);
    EXPECT_EQ(status.is_directory, 0);
    EXPECT_EQ(status.is_file, 1);
    EXPECT_EQ(status.size, 5u);
    ASSERT_EQ(os_file_status(at("folder").c_str(), &status), 0);
    EXPECT_EQ(status.is_directory, 1);
    EXPECT_EQ(status.is_file, 0);
    EXPECT_EQ(os_file_status("missing", &status), -1);
    EXPECT_EQ(os_exists("folder"), 1);
    EXPECT_EQ(os_exists("missing"), 0);
}

TEST_F(OsFiles, DescriptorsAreBinaryAndHonourTheFlags)
{
    int fd = os_open("data", OS_OPEN_READ_WRITE | OS_OPEN_CREATE);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(os_write(fd, "a\nb\r\n\x1a", 6), 6);
    EXPECT_EQ(os_seek(fd, 1, OS_SEEK_SET), 1);
    char buffer[16] = "";
    EXPECT_EQ(os_read(fd, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5), "\nb\r\n\x1a");
    EXPECT_EQ(os_read(fd, buffer, sizeof buffer), 0);
    EXPECT_EQ(os_seek(fd, -2, OS_SEEK_END), 4);
    EXPECT_EQ(os_seek(fd, 0, 7), -1);
    EXPECT_EQ(os_close(fd), 0);

    fd = os_open("data", OS_OPEN_READ_WRITE | OS_OPEN_APPEND);
    ASSERT_GE(fd, 0);
    os_seek(fd, 0, OS_SEEK_SET);
    EXPECT_EQ(os_write(fd, "Z", 1), 1);
    os_close(fd);
    EXPECT_EQ(read_file("data"), std::string("a\nb\r\n\x1aZ"));

    fd = os_open("DATA", OS_OPEN_READ_WRITE | OS_OPEN_TRUNCATE);
    ASSERT_GE(fd, 0);
    os_close(fd);
    EXPECT_EQ(read_file("data"), "");
    EXPECT_EQ(os_open("missing", OS_OPEN_READ), -1);
}

TEST_F(OsFiles, StreamsAreBinaryWhateverTheMode)
{
    const char *modes[] = {"w", "wt", "wb"};
    for (const char *mode : modes) {
        FILE *file = os_open_stream("s.txt", mode);
        ASSERT_NE(file, nullptr) << mode;
        fputs("a\nb", file);
        fclose(file);
        EXPECT_EQ(read_file("s.txt"), "a\nb") << mode;
    }
    EXPECT_EQ(os_open_stream("missing", "r"), nullptr);
}

TEST_F(OsFiles, ExclusiveStreamsCreateOnlyANewFile)
{
    ASSERT_TRUE(write_file("taken.txt", "mine"));
    EXPECT_EQ(os_open_stream("taken.txt", "wx"), nullptr);
    EXPECT_EQ(os_open_stream("TAKEN.TXT", "wx"), nullptr);
    EXPECT_EQ(read_file("taken.txt"), "mine");
    ASSERT_EQ(os_make_directory("folder"), 0);
    EXPECT_EQ(os_open_stream("folder", "wx"), nullptr);
    FILE *file = os_open_stream("New.txt", "wx");
    ASSERT_NE(file, nullptr);
    fputs("a\n", file);
    EXPECT_EQ(os_close_stream(file), 0);
    EXPECT_EQ(read_file("new.txt"), "a\n");
    EXPECT_EQ(list_folder(".").count("New.txt"), 1u);
}

TEST_F(OsFiles, RenameRefusesToReplaceAndNeedsASource)
{
    ASSERT_TRUE(write_file("first", "1"));
    ASSERT_TRUE(write_file("second", "2"));
    EXPECT_EQ(os_rename_no_replace("first", "second"), -1);
    EXPECT_EQ(os_rename_no_replace("first", "SECOND"), -1);
    EXPECT_EQ(read_file("first"), "1");
    EXPECT_EQ(read_file("second"), "2");
    EXPECT_EQ(os_rename_no_replace("missing", "third"), -1);
    EXPECT_EQ(os_exists("third"), 0);
    EXPECT_EQ(os_rename_no_replace("FIRST", "third"), 0);
    EXPECT_EQ(read_file("third"), "1");
    EXPECT_EQ(os_exists("first"), 0);
}

TEST_F(OsFiles, RenameMovesFoldersAndChangesCase)
{
    ASSERT_EQ(os_make_directory("old"), 0);
    ASSERT_EQ(os_make_directory("taken"), 0);
    ASSERT_TRUE(write_file("old\\inside", "x"));
    EXPECT_EQ(os_rename_no_replace("old", "taken"), -1);
    EXPECT_EQ(os_rename_no_replace("old", "new"), 0);
    EXPECT_EQ(read_file("new\\inside"), "x");
    EXPECT_EQ(os_rename_no_replace("new\\inside", "new\\INSIDE"), 0);
    EXPECT_EQ(read_file("new\\inside"), "x");
    // Windows and POSIX take the new case; Wine keeps the old one.
    if (on_posix()) {
        EXPECT_EQ(list_folder("new").count("INSIDE"), 1u);
    }
}

TEST_F(OsFiles, FoldersDoNotOpenAsFiles)
{
    ASSERT_EQ(os_make_directory("folder"), 0);
    EXPECT_EQ(os_open("folder", OS_OPEN_READ), -1);
    EXPECT_EQ(os_open_stream("folder", "rb"), nullptr);
}

TEST_F(OsFiles, ReadOnlyFilesRefuseWritesAndDeletionButRead)
{
    ASSERT_TRUE(write_file("locked", "kept"));
    ASSERT_EQ(os_set_attributes("locked", OS_ATTR_READONLY), 0);
    EXPECT_EQ(os_open("locked", OS_OPEN_READ_WRITE), -1);
    EXPECT_EQ(os_open_stream("locked", "rb+"), nullptr);
    EXPECT_EQ(os_delete_file("locked"), -1);
    EXPECT_EQ(read_file("locked"), "kept");
    ASSERT_EQ(os_set_attributes("locked", 0), 0);
    EXPECT_EQ(os_delete_file("locked"), 0);
}

TEST_F(OsFiles, DeleteRemovesOnlyFiles)
{
    ASSERT_TRUE(write_file("file", "x"));
    ASSERT_EQ(os_make_directory("folder"), 0);
    EXPECT_EQ(os_delete_file("folder"), -1);
    EXPECT_EQ(os_delete_file("missing"), -1);
    EXPECT_EQ(os_delete_file("FILE"), 0);
    EXPECT_EQ(os_exists("file"), 0);
}

TEST_F(OsFiles, RemoveDirectoryRefusesTheCurrentFolder)
{
    ASSERT_EQ(os_make_directory("inner"), 0);
    ASSERT_EQ(os_make_directory("full"), 0);
    ASSERT_TRUE(write_file("full\\file", "x"));
    ASSERT_EQ(os_change_directory("inner"), 0);
    EXPECT_EQ(os_remove_directory("."), -1);
    EXPECT_EQ(os_remove_directory(at("INNER").c_str()), -1);
    EXPECT_EQ(os_remove_directory("..\\full"), -1);
    ASSERT_EQ(os_change_directory(".."), 0);
    EXPECT_EQ(os_remove_directory("inner"), 0);
    EXPECT_EQ(os_exists("inner"), 0);
    EXPECT_EQ(os_remove_directory("missing"), -1);
}

using OsFolders = TempFolderTest;

TEST_F(OsFolders, CurrentFolderHasTheWindowsForm)
{
    char buffer[512];
    ASSERT_EQ(os_get_current_directory(buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), dir);
    if (on_posix()) {
        EXPECT_EQ(dir.compare(0, 3, "Z:\\"), 0);
    }
    size_t length = strlen(buffer);
    EXPECT_NE(buffer[length - 1], '\\');
    EXPECT_EQ(os_get_current_directory(buffer, static_cast<uint32_t>(length + 1)), 0);
    EXPECT_EQ(os_get_current_directory(buffer, static_cast<uint32_t>(length)), -1);
    EXPECT_STREQ(buffer, "");

    std::string root = dir.substr(0, 3);
    ASSERT_EQ(os_change_directory(root.c_str()), 0);
    ASSERT_EQ(os_get_current_directory(buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), root);
    EXPECT_EQ(os_change_directory("Q:\\missing\\folder"), -1);
}

TEST_F(OsFolders, ListingShowsEveryEntryWithItsAttributes)
{
    ASSERT_TRUE(write_file("plain.txt", "123"));
    ASSERT_TRUE(write_file(".hidden", ""));
    ASSERT_TRUE(write_file("locked.txt", "ab"));
    ASSERT_EQ(os_make_directory("sub"), 0);
    ASSERT_EQ(os_set_attributes(".hidden", OS_ATTR_HIDDEN), 0);
    ASSERT_EQ(os_set_attributes("locked.txt", OS_ATTR_READONLY), 0);
    std::map<std::string, Listed> entries = list_folder(dir);
    os_set_attributes("locked.txt", 0);

    const int32_t kinds = OS_ATTR_READONLY | OS_ATTR_HIDDEN | OS_ATTR_DIRECTORY;
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries["."].attributes & kinds, OS_ATTR_DIRECTORY);
    EXPECT_EQ(entries[".."].attributes & kinds, OS_ATTR_DIRECTORY);
    EXPECT_EQ(entries["sub"].attributes & kinds, OS_ATTR_DIRECTORY);
    EXPECT_EQ(entries["plain.txt"].attributes & kinds, 0);
    EXPECT_EQ(entries["plain.txt"].size, 3u);
    EXPECT_EQ(entries[".hidden"].attributes & kinds, OS_ATTR_HIDDEN);
    EXPECT_EQ(entries["locked.txt"].attributes & kinds, OS_ATTR_READONLY);
    EXPECT_EQ(list_folder(dir)["locked.txt"].attributes & OS_ATTR_READONLY, 0);
    EXPECT_EQ(os_set_attributes("sub", 0), 0);
    EXPECT_EQ(os_set_attributes("missing", 0), -1);
    EXPECT_EQ(os_list_open("missing"), nullptr);
    EXPECT_EQ(list_folder("SUB").size(), 2u);
}

// Windows on NTFS lists in this order itself; Wine and FAT list in the order they store.
TEST_F(OsFolders, ListInTheOrderOfNtfsOnEveryFileSystem)
{
    if (!on_posix())
        GTEST_SKIP() << "Windows lists as its file system orders; Wine as the host's does";
    const std::vector<std::string> order = {".",
                                            "..",
                                            "!bang",
                                            "alpha",
                                            "CAR.VEH",
                                            "Car.veh",
                                            "car.veh",
                                            "newbeetle.veh",
                                            "new_beetle.veh",
                                            "Zeta",
                                            "[x]",
                                            "\u00c9b\u00e8ne",
                                            "\u00e9mile",
                                            "\xC9t\xE9"};
    // Made outside the layer, so that names alike but for case can be side by side, and in an
    // order no file system lists them in: every other name, then the rest.
    for (size_t start : {2, 3})
        for (size_t i = start; i < order.size(); i += 2) {
            std::string native = at(order[i]).substr(2);
            for (char &c : native)
                c = c == '\\' ? '/' : c;
            FILE *file = fopen(native.c_str(), "w");
            ASSERT_NE(file, nullptr) << native;
            fclose(file);
        }
    std::vector<std::string> listed;
    OsDirList *list = os_list_open(dir.c_str());
    ASSERT_NE(list, nullptr);
    OsDirEntry entry;
    while (os_list_next(list, &entry))
        listed.push_back(entry.name);
    os_list_close(list);
    EXPECT_EQ(listed, order);
}

TEST(OsFoldersTemp, AreNewAndDistinct)
{
    char first[256], second[256], tiny[4];
    ASSERT_EQ(os_make_temp_directory(first, sizeof first), 0);
    ASSERT_EQ(os_make_temp_directory(second, sizeof second), 0);
    EXPECT_STRNE(first, second);
    EXPECT_EQ(list_folder(first).size(), 2u);
    EXPECT_EQ(os_make_temp_directory(tiny, sizeof tiny), -1);
    EXPECT_STREQ(tiny, "");
    EXPECT_EQ(os_remove_directory(first), 0);
    EXPECT_EQ(os_remove_directory(second), 0);
}

TEST(OsFaults, FailTheArmedCallOnceThenDisarm)
{
    char folder[256];
    ASSERT_EQ(os_make_temp_directory(folder, sizeof folder), 0);
    std::string base = folder;
    int fd = os_open((base + "\\f").c_str(), OS_OPEN_READ_WRITE | OS_OPEN_CREATE);
    ASSERT_GE(fd, 0);
    os_inject_fault(OS_FAULT_WRITE, 2);
    EXPECT_EQ(os_write(fd, "a", 1), 1);
    EXPECT_EQ(os_write(fd, "b", 1), -1);
    EXPECT_EQ(os_write(fd, "c", 1), 1);
    os_inject_fault(OS_FAULT_WRITE, 1);
    os_inject_fault(OS_FAULT_WRITE, 0);
    EXPECT_EQ(os_write(fd, "d", 1), 1);
    os_close(fd);
    EXPECT_EQ(read_file(base + "\\f"), "acd");

    fd = os_open((base + "\\f").c_str(), OS_OPEN_READ);
    ASSERT_GE(fd, 0);
    char bytes[4];
    os_inject_fault(OS_FAULT_READ, 1);
    EXPECT_EQ(os_read(fd, bytes, sizeof bytes), -1);
    EXPECT_EQ(os_read(fd, bytes, sizeof bytes), 3);
    os_close(fd);

    os_inject_fault(OS_FAULT_RENAME, 1);
    EXPECT_EQ(os_rename_no_replace((base + "\\f").c_str(), (base + "\\g").c_str()), -1);
    EXPECT_EQ(os_rename_no_replace((base + "\\f").c_str(), (base + "\\g").c_str()), 0);
    os_inject_fault(OS_FAULT_DELETE, 1);
    EXPECT_EQ(os_delete_file((base + "\\g").c_str()), -1);
    EXPECT_EQ(read_file(base + "\\g"), "acd");
    EXPECT_EQ(os_delete_file((base + "\\g").c_str()), 0);
    EXPECT_EQ(os_remove_directory(folder), 0);
}

TEST_F(OsFiles, FaultsFailCreatesStreamClosesAndStarts)
{
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(os_fault_armed(OS_FAULT_CREATE), 1);
    EXPECT_EQ(os_open("made", OS_OPEN_READ_WRITE | OS_OPEN_CREATE), -1);
    EXPECT_EQ(os_fault_armed(OS_FAULT_CREATE), 0);
    EXPECT_EQ(os_exists("made"), 0);
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(os_open_stream("made", "w"), nullptr);
    os_inject_fault(OS_FAULT_CREATE, 1);
    EXPECT_EQ(os_make_directory("folder"), -1);
    EXPECT_EQ(os_exists("folder"), 0);

    FILE *stream = os_open_stream("made", "wb");
    ASSERT_NE(stream, nullptr);
    os_inject_fault(OS_FAULT_WRITE, 1);
    EXPECT_EQ(os_close_stream(stream), -1);
    stream = os_open_stream("made", "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(os_close_stream(stream), 0);

    os_inject_fault(OS_FAULT_START, 1);
    int status = 0;
    EXPECT_EQ(os_run_program(built_program("os_test").c_str(), "os_test --gtest_list_tests",
                             nullptr, "out.txt", nullptr, &status),
              -1);
    EXPECT_EQ(os_exists("out.txt"), 0);
    os_inject_fault(OS_FAULT_START, 0);
}

// The system's words for a refusal: some text, and nothing a message line would not want.
TEST_F(OsFiles, ErrorTextGivesTheSystemsWordsWithoutALineEnd)
{
    ASSERT_TRUE(write_file("locked", "x"));
    ASSERT_EQ(os_set_attributes("locked", OS_ATTR_READONLY), 0);
    ASSERT_EQ(os_open("locked", OS_OPEN_READ_WRITE), -1);
    char text[200];
    std::string words = os_error_text(text, sizeof text);
    EXPECT_GT(words.size(), 3u);
    EXPECT_EQ(words.find_first_of("\r\n"), std::string::npos) << words;
    EXPECT_NE(words.back(), '.') << words;
    char tiny[4];
    EXPECT_LT(strlen(os_error_text(tiny, sizeof tiny)), sizeof tiny);
    ASSERT_EQ(os_set_attributes("locked", 0), 0);
}

// What each routine that takes a path does with a link at its last part, as os.h states it for
// POSIX (links are made with the POSIX calls only).
TEST_F(OsFiles, LinksAtThePathsLastPartAreTreatedAsStated)
{
    if (!behind_back_available())
        GTEST_SKIP() << "links are made with the POSIX calls only";
    ASSERT_EQ(os_make_directory("real"), 0);
    ASSERT_TRUE(write_file("real\\car.veh", "12345"));
    ASSERT_EQ(behind_make_link("real\\car.veh", at("file.lnk")), 0);
    ASSERT_EQ(behind_make_link("real", at("folder.lnk")), 0);
    ASSERT_EQ(behind_make_link("nowhere", at("dangling.lnk")), 0);
    OsFileStatus status;
    ASSERT_EQ(os_file_status("file.lnk", &status), 0);
    EXPECT_EQ(status.size, 5u) << "followed";
    EXPECT_EQ(os_file_status("dangling.lnk", &status), -1);
    EXPECT_EQ(os_exists("dangling.lnk"), 0);
    EXPECT_EQ(os_open_stream("dangling.lnk", "wx"), nullptr) << "something is there";
    EXPECT_EQ(os_exists("nowhere"), 0) << "nothing made through the link";
    EXPECT_EQ(os_same_file("file.lnk", "real\\car.veh"), 1);
    OsFolderId through, direct;
    ASSERT_EQ(os_folder_id("folder.lnk", &through), 0);
    ASSERT_EQ(os_folder_id("real", &direct), 0);
    EXPECT_EQ(os_compare_folder_ids(&through, &direct), 0);
    OsFolderHold hold;
    ASSERT_EQ(os_folder_hold("folder.lnk", OS_HOLD_SHARED, &hold), 0);
    EXPECT_EQ(os_compare_folder_ids(&hold.id, &direct), 0);
    os_folder_release(&hold);
    EXPECT_EQ(names_in("folder.lnk"), std::set<std::string>{"car.veh"});
    std::map<std::string, Listed> entries = list_folder(".");
    EXPECT_EQ(entries["file.lnk"].size, 5u) << "listed as what it leads to";
    EXPECT_EQ(entries["folder.lnk"].attributes & OS_ATTR_DIRECTORY, OS_ATTR_DIRECTORY);
    EXPECT_EQ(entries.count("dangling.lnk"), 1u) << "listed as itself";
    ASSERT_EQ(os_set_attributes("file.lnk", OS_ATTR_READONLY), 0);
    EXPECT_EQ(os_open("real\\car.veh", OS_OPEN_READ_WRITE), -1) << "what it leads to changed";
    ASSERT_EQ(os_set_attributes("file.lnk", 0), 0);
    ASSERT_EQ(os_rename_no_replace("file.lnk", "moved.lnk"), 0);
    EXPECT_EQ(os_is_link("moved.lnk"), 1) << "the link itself moved";
    EXPECT_EQ(read_file("real\\car.veh"), "12345");
    int fd = os_open("moved.lnk", OS_OPEN_READ);
    ASSERT_GE(fd, 0);
    char first = 0;
    EXPECT_EQ(os_read(fd, &first, 1), 1);
    EXPECT_EQ(first, '1');
    os_close(fd);
}

TEST(OsEnvironment, SetsGetsAndReportsRoom)
{
    char buffer[8];
    ASSERT_EQ(os_set_environment("OS_TEST_VALUE", "abcdef"), 0);
    EXPECT_EQ(os_get_environment("OS_TEST_VALUE", buffer, 7), 6);
    EXPECT_STREQ(buffer, "abcdef");
    EXPECT_EQ(os_get_environment("OS_TEST_VALUE", buffer, 6), -2);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(os_get_environment("OS_TEST_VALUE", buffer, 0), -2);
    ASSERT_EQ(os_set_environment("OS_TEST_VALUE", nullptr), 0);
    EXPECT_EQ(os_get_environment("OS_TEST_VALUE", buffer, sizeof buffer), -1);
}

TEST(OsEnvironment, GivesAUnixPathInWindowsForm)
{
    if (!on_posix())
        GTEST_SKIP() << "a PATH in Unix form exists only on POSIX";
    const char *old = getenv("PATH");
    std::string original = old ? old : "";
    char buffer[64];
    os_set_environment("PATH", "/usr/bin:/opt/x y/bin");
    EXPECT_EQ(os_get_environment("PATH", buffer, sizeof buffer), 25);
    EXPECT_STREQ(buffer, "Z:\\usr\\bin;Z:\\opt\\x y\\bin");
    EXPECT_EQ(os_get_environment("PATH", buffer, 25), -2);
    os_set_environment("PATH", "C:\\bin;D:\\tools");
    EXPECT_EQ(os_get_environment("PATH", buffer, sizeof buffer), 15);
    EXPECT_STREQ(buffer, "C:\\bin;D:\\tools");
    os_set_environment("PATH", old ? original.c_str() : nullptr);
}

TEST(OsProgram, KnowsItsOwnPath)
{
    char buffer[512], tiny[4];
    ASSERT_EQ(os_program_path(buffer, sizeof buffer), 0);
    std::string path = buffer;
    std::string tail = std::string("os_test") + os_program_suffix;
    ASSERT_GT(path.size(), tail.size() + 3);
    EXPECT_EQ(path.substr(1, 2), ":\\");
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
    EXPECT_EQ(os_exists(buffer), 1);
    EXPECT_EQ(os_program_path(tiny, sizeof tiny), -1);
    EXPECT_STREQ(tiny, "");
}

// The size counts the NUL: the path's length plus one fits, one byte less does not.
TEST(OsProgram, FillsABufferOfExactFitAndRefusesOneByteLess)
{
    char full[1024];
    ASSERT_EQ(os_program_path(full, sizeof full), 0);
    const size_t length = strlen(full);
    std::vector<char> exact(length + 1, 'x'), short_by_one(length, 'x');
    EXPECT_EQ(os_program_path(exact.data(), (uint32_t)exact.size()), 0);
    EXPECT_STREQ(exact.data(), full);
    EXPECT_EQ(os_program_path(short_by_one.data(), (uint32_t)short_by_one.size()), -1);
    EXPECT_STREQ(short_by_one.data(), "");
    char none = 'x';
    EXPECT_EQ(os_program_path(&none, 0), -1);
    EXPECT_EQ(none, 'x');
}

TEST(OsConsole, WindowIsHeldOnlyWhenMadeForTheProgramAndNotRedirected)
{
    struct Row {
        int input_is_console, output_is_console;
        uint32_t attached;
        int held;
    } rows[] = {
        {1, 1, 1, 1}, // a double click: the console was made for the program
        {1, 1, 2, 0}, // started from a command prompt or a batch file
        {1, 1, 0, 0}, // the count is unknown
        {0, 1, 1, 0}, // input redirected
        {1, 0, 1, 0}, // output redirected
    };
    for (const Row &row : rows)
        EXPECT_EQ(os_console_is_own(row.input_is_console, row.output_is_console, row.attached),
                  row.held)
            << row.input_is_console << row.output_is_console << row.attached;
    // Tests run with their output in a pipe, so neither back end holds a window for them.
    EXPECT_EQ(os_console_window_is_own(), 0);
}

// Run as a child of the tests below: writes its arguments and the first line of its standard
// input, one per line, to the file named by OS_TEST_ARGV_FILE, and exits with the count of
// its arguments.
TEST(OsProgramHelper, WritesItsArguments)
{
    char file[512];
    if (os_get_environment("OS_TEST_ARGV_FILE", file, sizeof file) < 0)
        GTEST_SKIP() << "runs only as a child of the process tests";
    std::vector<std::string> args = ::testing::internal::GetArgvs();
    std::string text;
    for (const std::string &arg : args)
        text += "[" + arg + "]\n";
    char line[64] = "";
    if (!fgets(line, sizeof line, stdin))
        line[0] = '\0';
    text += std::string("stdin:") + line;
    write_file(file, text);
    fputs("helper-out", stdout);
    fputs("helper-err", stderr);
    fflush(nullptr);
    exit(static_cast<int>(args.size()));
}

class OsRun : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        os_set_environment("OS_TEST_ARGV_FILE", at("argv.txt").c_str());
    }
    void TearDown() override
    {
        os_set_environment("OS_TEST_ARGV_FILE", nullptr);
        TempFolderTest::TearDown();
    }
};

TEST_F(OsRun, SplitsTheCommandLineAsTheWindowsRuntime)
{
    ASSERT_TRUE(write_file("x.txt", ""));
    const char *filter = " --gtest_filter=OsProgramHelper.*";
    std::string line = std::string("os_test") + filter +
                       " plain\t\t \"two words\" a\\\\b a\\\"b a\\\\\"b c\" a\\\\\\\"b \"\" "
                       "*.txt a\"b c\"d \"end\\\\\"  ";
    ProgramRun run = run_program(built_program("os_test"), line, "typed\n");
    ASSERT_EQ(run.started, 1);
    EXPECT_EQ(run.exit_status, 12);
    EXPECT_EQ(read_file("argv.txt"), std::string("[os_test]\n[") + (filter + 1) +
                                         "]\n[plain]\n[two words]\n[a\\\\b]\n[a\"b]\n"
                                         "[a\\b c]\n[a\\\"b]\n[]\n[*.txt]\n[ab cd]\n"
                                         "[end\\]\nstdin:typed\n");
    EXPECT_NE(run.out.find("helper-out"), std::string::npos);
    EXPECT_NE(run.err.find("helper-err"), std::string::npos);
}

TEST_F(OsRun, CompletesTheExtensionAndIgnoresCase)
{
    ASSERT_TRUE(write_file("HELPER.EXE", read_file(built_program("os_test"))));
    ASSERT_EQ(os_make_executable("HELPER.EXE"), 0);
    ProgramRun run = run_program("helper", "helper --gtest_filter=OsProgramHelper.* one");
    ASSERT_EQ(run.started, 1);
    EXPECT_EQ(run.exit_status, 3);
    EXPECT_EQ(read_file("argv.txt"), "[helper]\n[--gtest_filter=OsProgramHelper.*]\n[one]\n"
                                     "stdin:");
    EXPECT_EQ(run_program("missing", "missing").started, 0);
    EXPECT_EQ(run_program("argv.txt", "argv.txt").started, 0);
}

// ---- Paths as the system resolves them -------------------------------------------------

using OsFullPath = TempFolderTest;

// The folder that holds path (its text before the last backslash; a drive's root as 'X:\').
static std::string parent_of(const std::string &path)
{
    std::string parent = path.substr(0, path.rfind('\\'));
    return parent.size() == 2 ? parent + "\\" : parent;
}

TEST_F(OsFullPath, FormsThePathAsWindowsDoes)
{
    std::string drive = dir.substr(0, 2);
    struct Row {
        std::string path, expected;
    } rows[] = {
        {"x", dir + "\\x"},
        {".", dir},
        {"..", parent_of(dir)},
        {".\\a\\..\\b\\.\\c\\", dir + "\\b\\c"},
        {"a/b\\\\c", dir + "\\a\\b\\c"},
        {drive, dir},
        {drive + "new", dir + "\\new"},
        {drive + "..\\new", parent_of(dir) + "\\new"},
        {drive + "\\a\\..\\b", drive + "\\b"},
        {drive + "\\..\\..", drive + "\\"},
        {"\\top", drive + "\\top"},
        {"Q:new", "Q:\\new"},
        {"Q:\\", "Q:\\"},
    };
    for (const Row &row : rows) {
        char buffer[256] = "junk";
        EXPECT_EQ(os_full_path(row.path.c_str(), buffer, sizeof buffer), 0) << row.path;
        EXPECT_EQ(std::string(buffer), row.expected) << row.path;
    }
    char buffer[8] = "junk";
    EXPECT_EQ(os_full_path("", buffer, sizeof buffer), -1);
    EXPECT_STREQ(buffer, "");
}

TEST_F(OsFullPath, FillsAnExactFitAndRefusesOneByteLess)
{
    std::string expected = dir + "\\name";
    std::vector<char> buffer(expected.size() + 1, 'x');
    EXPECT_EQ(os_full_path("name", buffer.data(), 0), -1);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(os_full_path("name", buffer.data(), static_cast<uint32_t>(buffer.size() - 1)), -1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(os_full_path("name", buffer.data(), static_cast<uint32_t>(buffer.size())), 0);
    EXPECT_EQ(std::string(buffer.data()), expected);
}

using OsFinalPath = TempFolderTest;

TEST_F(OsFinalPath, GivesWhereAFileReallyLies)
{
    ASSERT_EQ(os_make_directory("Real"), 0);
    ASSERT_TRUE(write_file("Real\\File.txt", "x"));
    char direct[256], other[256];
    ASSERT_EQ(os_final_path(at("Real\\File.txt").c_str(), direct, sizeof direct), 0);
    EXPECT_EQ(std::string(direct).substr(std::string(direct).size() - 14), "\\Real\\File.txt");
    ASSERT_EQ(os_final_path("real\\..\\REAL\\.\\file.txt", other, sizeof other), 0);
    EXPECT_STREQ(other, direct);
    EXPECT_EQ(os_final_path("missing", other, sizeof other), -1);
    EXPECT_STREQ(other, "");
    EXPECT_EQ(os_final_path("Real\\File.txt", other, static_cast<uint32_t>(strlen(direct))), -1);
    EXPECT_EQ(os_is_link("Real"), 0);
    EXPECT_EQ(os_is_link("Real\\File.txt"), 0);
    EXPECT_EQ(os_is_link("missing"), -1);
}

TEST_F(OsFinalPath, FollowsLinksWhichAreKnownAsLinks)
{
    if (!behind_back_available())
        GTEST_SKIP() << "links are made with the POSIX calls only";
    ASSERT_EQ(os_make_directory("real"), 0);
    ASSERT_TRUE(write_file("real\\x.mas", "x"));
    ASSERT_EQ(behind_make_link("real", at("lnk")), 0);
    ASSERT_EQ(behind_make_link("nowhere", at("dangling")), 0);
    char through[256], direct[256];
    ASSERT_EQ(os_final_path("LNK\\x.mas", through, sizeof through), 0);
    ASSERT_EQ(os_final_path("real\\x.mas", direct, sizeof direct), 0);
    EXPECT_STREQ(through, direct);
    ASSERT_EQ(os_final_path("lnk", through, sizeof through), 0);
    EXPECT_EQ(std::string(through) + "\\x.mas", direct);
    EXPECT_EQ(os_is_link("lnk"), 1);
    EXPECT_EQ(os_is_link("Lnk\\"), 1);
    EXPECT_EQ(os_is_link("dangling"), 1);
    EXPECT_EQ(os_is_link("lnk\\x.mas"), 0);
    EXPECT_EQ(os_final_path("dangling", through, sizeof through), -1);
}
