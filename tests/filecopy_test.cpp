// Tests of file copies, comparison, converters and file status, each in a fresh folder.
#include "support.h"

#include "filecopy.h"
#include "os.h"

#include <set>
#include <string>
#include <vector>

class FileCopyTest : public TempFolderTest
{
  protected:
    // Bytes 0, 1, 2, ... wrapping at 251, so that blocks at different offsets differ.
    static std::string pattern(size_t length)
    {
        std::string bytes(length, '\0');
        for (size_t i = 0; i < length; i++)
            bytes[i] = (char)(i % 251);
        return bytes;
    }

    // Makes a sparse file of size bytes (a single 'x' at its end), which costs no disk
    // space. True on success.
    static bool write_sparse_file(const char *path, int64_t size)
    {
        int fd = os_open(path, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
        if (fd < 0)
            return false;
        bool made = os_seek(fd, size - 1, OS_SEEK_SET) == size - 1 && os_write(fd, "x", 1) == 1;
        return os_close(fd) == 0 && made;
    }
};

// The spellings of one file 'a.txt' in the test folder that every routine must see through.
static std::vector<std::string> spellings_of_a(const std::string &absolute)
{
    return {"a.txt", "A.TXT", ".\\a.txt", absolute, "sub\\..\\a.txt"};
}

// ---- Writing a file from itself ------------------------------------------------------

struct SelfCopyRow {
    const char *name;
    int (*write_from)(const char *source, const char *destination);
};

static int append_whole_file(const char *source, const char *destination)
{
    return append_file_range(source, destination, 0, 0xFFFFFFFF);
}

// Every converter and copy that writes one named file from another refuses with -1.
static const SelfCopyRow writer_rows[] = {
    {"copy_file", copy_file},
    {"append_file_range", append_whole_file},
    {"lf_to_crlf_file", [](const char *s, const char *d) -> int { return lf_to_crlf_file(s, d); }},
    {"crlf_to_lf_file", [](const char *s, const char *d) -> int { return crlf_to_lf_file(s, d); }},
    {"cr_to_crlf_file", [](const char *s, const char *d) -> int { return cr_to_crlf_file(s, d); }},
    {"crlf_to_cr_file", [](const char *s, const char *d) -> int { return crlf_to_cr_file(s, d); }},
    {"lf_to_cr_file", [](const char *s, const char *d) -> int { return lf_to_cr_file(s, d); }},
    {"cr_to_lf_file", [](const char *s, const char *d) -> int { return cr_to_lf_file(s, d); }},
    {"ascii_to_ebcdic_file",
     [](const char *s, const char *d) -> int { return ascii_to_ebcdic_file(s, d); }},
    {"ebcdic_to_ascii_file",
     [](const char *s, const char *d) -> int { return ebcdic_to_ascii_file(s, d); }},
};

TEST_F(FileCopyTest, EveryCopyRefusesToWriteAFileFromItself)
{
    const std::string content = "first\r\nsecond\n" + pattern(20000);
    ASSERT_EQ(os_make_directory("sub"), 0);
    for (const SelfCopyRow &row : writer_rows) {
        for (const std::string &spelling : spellings_of_a(at("a.txt"))) {
            ASSERT_TRUE(write_file(at("a.txt"), content));
            EXPECT_EQ(row.write_from("a.txt", spelling.c_str()), -1) << row.name << " " << spelling;
            EXPECT_TRUE(read_file(at("a.txt")) == content) << row.name << " " << spelling;
            EXPECT_EQ(names_in(dir), (std::set<std::string>{"a.txt", "sub"})) << row.name;
        }
    }
}

TEST_F(FileCopyTest, CopyFileStillCopiesOntoAnotherFileOfTheSameContent)
{
    ASSERT_TRUE(write_file(at("a.txt"), "same"));
    ASSERT_TRUE(write_file(at("b.txt"), "same"));
    EXPECT_EQ(copy_file("a.txt", "b.txt"), 0);
    EXPECT_EQ(read_file(at("b.txt")), "same");
}

// ---- Sources beyond 32-bit positions -------------------------------------------------

TEST_F(FileCopyTest, CopyFileRefusesASourceLongerThanItCanCopyWhole)
{
    const int64_t just_too_long = (int64_t)COPY_FILE_MAX + 1;
    ASSERT_TRUE(write_sparse_file("huge", just_too_long));
    ASSERT_TRUE(write_file(at("kept"), "kept"));
    EXPECT_EQ(copy_file("huge", "copy"), -1);
    EXPECT_EQ(file_exists("copy"), 0) << "the destination is not created";
    EXPECT_EQ(copy_file("huge", "kept"), -1);
    // The size first: a cut copy of 2 GiB is no text to compare.
    ASSERT_EQ(file_size("kept"), 4) << "the destination is not truncated";
    EXPECT_EQ(read_file(at("kept")), "kept");
    EXPECT_EQ(os_delete_file("huge"), 0);
}

TEST_F(FileCopyTest, RangesOfAFileBeyondFourGibibytesAreCopiedExactly)
{
    const int64_t size = 0x100000000LL + 10;
    ASSERT_TRUE(write_sparse_file("huge", size));
    ASSERT_TRUE(write_file(at("out"), "<"));
    EXPECT_EQ(append_file_range("huge", "out", 0xFFFFFFF0u, 0xFFFFFFFFu), 0);
    EXPECT_EQ(read_file(at("out")), "<" + std::string(15, '\0'));
    int input = os_open("huge", OS_OPEN_READ);
    int output = os_open("range", OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);
    EXPECT_EQ(copy_range(input, output, 0xFFFFFFFEu, 0xFFFFFFFFu), 0);
    os_close(input);
    os_close(output);
    EXPECT_EQ(read_file(at("range")), std::string(1, '\0'));
    EXPECT_EQ(os_delete_file("huge"), 0);
}

// A sysfs attribute reports a size of a whole page but reads only its few bytes: the
// input ends before the range that its size promised.
TEST_F(FileCopyTest, CopyRangeFailsWhenTheInputEndsBeforeItsSize)
{
    const char *attribute = "Z:\\sys\\devices\\system\\cpu\\online";
    int input = os_open(attribute, OS_OPEN_READ);
    if (input < 0)
        GTEST_SKIP() << "no sysfs attribute to read here";
    int64_t size = os_seek(input, 0, OS_SEEK_END);
    char bytes[8192];
    os_seek(input, 0, OS_SEEK_SET);
    int32_t readable = os_read(input, bytes, sizeof bytes);
    if (size <= 0 || readable < 0 || readable >= size) {
        os_close(input);
        GTEST_SKIP() << "the attribute reads as long as its size says";
    }
    int output = os_open("out", OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    ASSERT_GE(output, 0);
    EXPECT_EQ(copy_range(input, output, 0, 0xFFFFFFFF), -1);
    os_close(input);
    os_close(output);
}

// ---- copy_file -----------------------------------------------------------------------

TEST_F(FileCopyTest, CopyFileOfAnEmptySourceMakesAnEmptyDestination)
{
    ASSERT_TRUE(write_file(at("empty"), ""));
    EXPECT_EQ(copy_file("empty", "copy"), 0);
    EXPECT_EQ(read_file(at("copy")), "");
}

TEST_F(FileCopyTest, CopyFileCopiesSeveralBlocksByteForByte)
{
    const std::string bytes = pattern(40000);
    ASSERT_TRUE(write_file(at("big.bmp"), bytes));
    EXPECT_EQ(copy_file("big.bmp", "copy.bmp"), 0);
    EXPECT_EQ(read_file(at("copy.bmp")), bytes);
}

TEST_F(FileCopyTest, CopyFileTruncatesALongerDestination)
{
    ASSERT_TRUE(write_file(at("short"), "abc"));
    ASSERT_TRUE(write_file(at("long"), std::string(5000, 'z')));
    EXPECT_EQ(copy_file("short", "long"), 0);
    EXPECT_EQ(read_file(at("long")), "abc");
}

TEST_F(FileCopyTest, CopyFileWithAMissingSourceCreatesNothing)
{
    EXPECT_EQ(copy_file("missing", "copy"), -1);
    EXPECT_EQ(file_exists("copy"), 0);
}

TEST_F(FileCopyTest, CopyFileOntoAFolderFailsAndLeavesTheFolder)
{
    ASSERT_TRUE(write_file(at("source"), "abc"));
    ASSERT_EQ(os_make_directory("folder"), 0);
    EXPECT_EQ(copy_file("source", "folder"), -1);
    OsFileStatus status;
    ASSERT_EQ(os_file_status("folder", &status), 0);
    EXPECT_EQ(status.is_directory, 1);
}

// ---- copy_range ----------------------------------------------------------------------

struct RangeRow {
    uint32_t first;
    uint32_t end;
    int result;
    const char *copied; // what the output holds after "<" was written to it
};

TEST_F(FileCopyTest, CopyRangeCopiesTheRangesAsTheTableSays)
{
    const std::string forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    ASSERT_TRUE(write_file(at("input"), forty));
    const RangeRow rows[] = {
        {10, 5, -1, "<"},
        {10, 10, -1, "<"},
        {0, 100, 0, "<0123456789abcdefghijklmnopqrstuvwxyzABCD"},
        {40, 100, 0, "<"},
        {41, 100, -1, "<"},
        {5, 15, 0, "<56789abcde"},
        {39, 40, 0, "<D"},
    };
    for (const RangeRow &row : rows) {
        int input = os_open("input", OS_OPEN_READ);
        int output = os_open("output", OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
        ASSERT_GE(input, 0);
        ASSERT_GE(output, 0);
        ASSERT_EQ(os_write(output, "<", 1), 1);
        EXPECT_EQ(copy_range(input, output, row.first, row.end), row.result)
            << row.first << ".." << row.end;
        os_close(input);
        os_close(output);
        EXPECT_EQ(read_file(at("output")), row.copied) << row.first << ".." << row.end;
    }
}

TEST_F(FileCopyTest, CopyRangeCopiesAroundTheBlockSize)
{
    const size_t sizes[] = {COPY_BLOCK_MIN - 1, COPY_BLOCK_MAX - 1, COPY_BLOCK_MAX,
                            COPY_BLOCK_MAX + 1, 3 * COPY_BLOCK_MAX + 7};
    for (size_t size : sizes) {
        const std::string bytes = pattern(size);
        ASSERT_TRUE(write_file(at("input"), bytes));
        int input = os_open("input", OS_OPEN_READ);
        int output = os_open("output", OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
        EXPECT_EQ(copy_range(input, output, 0, 0xFFFFFFFF), 0) << size;
        os_close(input);
        os_close(output);
        EXPECT_EQ(read_file(at("output")), bytes) << size;
    }
}

TEST_F(FileCopyTest, CopyRangeFailsOnAShortWrite)
{
    ASSERT_TRUE(write_file(at("input"), pattern(1000)));
    int input = os_open("input", OS_OPEN_READ);
    int output = os_open("output", OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    os_inject_fault(OS_FAULT_WRITE, 1);
    EXPECT_EQ(copy_range(input, output, 0, 1000), -1);
    os_inject_fault(OS_FAULT_WRITE, 0);
    os_close(input);
    os_close(output);
}

TEST_F(FileCopyTest, CopyFileLeavesNoDestinationWhenAWriteFails)
{
    ASSERT_TRUE(write_file(at("source"), pattern(40000)));
    os_inject_fault(OS_FAULT_WRITE, 2);
    EXPECT_EQ(copy_file("source", "copy"), -1);
    os_inject_fault(OS_FAULT_WRITE, 0);
    EXPECT_EQ(file_exists("copy"), 0);
    EXPECT_EQ(read_file(at("source")), pattern(40000));
}

// ---- append_file_range ---------------------------------------------------------------

TEST_F(FileCopyTest, AppendFileRangeWithAMissingSourceGivesOne)
{
    EXPECT_EQ(append_file_range("missing", "out", 0, 10), 1);
    EXPECT_EQ(file_exists("out"), 0);
}

TEST_F(FileCopyTest, AppendFileRangeAddsTheRangeToTheEnd)
{
    ASSERT_TRUE(write_file(at("source"), "0123456789"));
    ASSERT_TRUE(write_file(at("out"), "head:"));
    EXPECT_EQ(append_file_range("source", "out", 2, 5), 0);
    EXPECT_EQ(append_file_range("source", "out", 8, 100), 0);
    EXPECT_EQ(read_file(at("out")), "head:23489");
    EXPECT_EQ(append_file_range("source", "new", 0, 3), 0);
    EXPECT_EQ(read_file(at("new")), "012");
}

TEST_F(FileCopyTest, AppendFileRangeKeepsAnExistingDestinationOnFailure)
{
    ASSERT_TRUE(write_file(at("source"), "0123456789"));
    ASSERT_TRUE(write_file(at("out"), "kept"));
    EXPECT_EQ(append_file_range("source", "out", 20, 30), -1);
    EXPECT_EQ(read_file(at("out")), "kept");
    EXPECT_EQ(append_file_range("source", "made", 20, 30), -1);
    EXPECT_EQ(file_exists("made"), 0);
}

// ---- compare_files -------------------------------------------------------------------

TEST_F(FileCopyTest, CompareFilesTellsEqualFromDifferent)
{
    const std::string big = pattern(40000);
    std::string big_changed = big;
    big_changed[39999] ^= 1;
    std::string second_block_changed = big;
    second_block_changed[20000] ^= 1;
    ASSERT_TRUE(write_file(at("empty1"), ""));
    ASSERT_TRUE(write_file(at("empty2"), ""));
    ASSERT_TRUE(write_file(at("ten"), std::string(10, 'a')));
    ASSERT_TRUE(write_file(at("eleven"), std::string(11, 'a')));
    ASSERT_TRUE(write_file(at("big"), big));
    ASSERT_TRUE(write_file(at("big_same"), big));
    ASSERT_TRUE(write_file(at("big_last"), big_changed));
    ASSERT_TRUE(write_file(at("big_middle"), second_block_changed));
    EXPECT_EQ(compare_files("empty1", "empty2"), 0);
    EXPECT_EQ(compare_files("ten", "eleven"), 1);
    EXPECT_EQ(compare_files("big", "big_same"), 0);
    EXPECT_EQ(compare_files("big", "big_last"), 1);
    EXPECT_EQ(compare_files("big", "big_middle"), 1);
    EXPECT_EQ(compare_files("big", "missing"), -1);
    EXPECT_EQ(compare_files("missing", "big"), -1);
    os_inject_fault(OS_FAULT_READ, 3); // the second block of the first file
    EXPECT_EQ(compare_files("big", "big_same"), -1);
}

// ---- Converters ----------------------------------------------------------------------

typedef int8_t (*Converter)(const char *, const char *);

struct ConverterRow {
    const char *name;
    Converter convert;
    std::string input;
    std::string output;
};

TEST_F(FileCopyTest, ConvertersRewriteBytesAsTheTableSays)
{
    const std::string ctrl_z(1, '\x1a');
    const ConverterRow rows[] = {
        {"lf_to_crlf", lf_to_crlf_file, "a\nb\r\nc\n\n", "a\r\nb\r\nc\r\n\r\n"},
        {"lf_to_crlf", lf_to_crlf_file, "\n" + ctrl_z, "\r\n" + ctrl_z},
        {"crlf_to_lf", crlf_to_lf_file, "a\r\nb\rc" + ctrl_z + "tail", "a\nbc"},
        {"cr_to_crlf", cr_to_crlf_file, "a\r\nb", "a\r\n\nb"},
        {"crlf_to_cr", crlf_to_cr_file, "a\r\nb\nc" + ctrl_z + "tail", "a\rbc"},
        {"lf_to_cr", lf_to_cr_file, "a\r\nb\n", "a\r\rb\r"},
        {"cr_to_lf", cr_to_lf_file, "a\r\nb\r", "a\n\nb\n"},
        {"ascii_to_ebcdic", ascii_to_ebcdic_file, "A0 ", "\xc1\xf0\x40"},
        {"ascii_to_ebcdic", ascii_to_ebcdic_file, "[!^|", "\x4a\x4f\x5f\x6a"},
        {"ebcdic_to_ascii", ebcdic_to_ascii_file, "\xc1\xf0\x40", "A0 "},
        {"lf_to_crlf", lf_to_crlf_file, "", ""},
    };
    for (const ConverterRow &row : rows) {
        ASSERT_TRUE(write_file(at("in"), row.input));
        EXPECT_EQ(row.convert("in", "out"), 0) << row.name;
        EXPECT_EQ(read_file(at("out")), row.output) << row.name;
    }
}

TEST_F(FileCopyTest, EbcdicConvertersArePermutationsAndInverses)
{
    std::string all(256, '\0');
    for (int i = 0; i < 256; i++)
        all[i] = (char)i;
    ASSERT_TRUE(write_file(at("all"), all));
    ASSERT_EQ(ascii_to_ebcdic_file("all", "ebcdic"), 0);
    std::string ebcdic = read_file(at("ebcdic"));
    ASSERT_EQ(ebcdic.size(), 256u);
    std::string seen(256, '\0');
    for (unsigned char byte : ebcdic)
        seen[byte]++;
    EXPECT_EQ(seen, std::string(256, '\1')) << "the table is not a permutation";
    ASSERT_EQ(ebcdic_to_ascii_file("ebcdic", "back"), 0);
    EXPECT_EQ(read_file(at("back")), all);
    ASSERT_EQ(ebcdic_to_ascii_file("all", "ascii"), 0);
    ASSERT_EQ(ascii_to_ebcdic_file("ascii", "again"), 0);
    EXPECT_EQ(read_file(at("again")), all);
}

TEST_F(FileCopyTest, ConvertersFailWhenAFileCannotBeOpened)
{
    ASSERT_TRUE(write_file(at("in"), "a\n"));
    ASSERT_EQ(os_make_directory("folder"), 0);
    EXPECT_EQ(lf_to_crlf_file("missing", "out"), -1);
    EXPECT_EQ(file_exists("out"), 0);
    EXPECT_EQ(cr_to_lf_file("in", "folder"), -1);
    EXPECT_EQ(ebcdic_to_ascii_file("missing", "out"), -1);
}

// A read that fails part-way is no end of the source: no copy is left that holds only the
// bytes before it. Reads 1 and 2 fail in turn (the second lies past the first block).
TEST_F(FileCopyTest, EveryCopyFailsOnAReadErrorAndLeavesNoShortDestination)
{
    std::string text;
    while (text.size() < 3 * COPY_BLOCK_MAX)
        text += "a line of text\r\n";
    ASSERT_TRUE(write_file(at("in"), text));
    for (const SelfCopyRow &row : writer_rows) {
        for (int nth : {1, 2}) {
            os_inject_fault(OS_FAULT_READ, nth);
            EXPECT_EQ(row.write_from("in", "out"), -1) << row.name << " " << nth;
            os_inject_fault(OS_FAULT_READ, 0);
            EXPECT_EQ(file_exists("out"), 0) << row.name << " " << nth;
        }
        EXPECT_EQ(row.write_from("in", "out"), 0) << row.name;
        EXPECT_EQ(os_delete_file("out"), 0);
    }
}

// ---- File status ---------------------------------------------------------------------

TEST_F(FileCopyTest, FileExistsSeesFilesAndFolders)
{
    ASSERT_TRUE(write_file(at("file"), "x"));
    ASSERT_EQ(os_make_directory("folder"), 0);
    EXPECT_EQ(file_exists("file"), 1);
    EXPECT_EQ(file_exists("folder"), 1);
    EXPECT_EQ(file_exists(at("file").c_str()), 1);
    EXPECT_EQ(file_exists("missing"), 0);
}

TEST_F(FileCopyTest, FileSizeGivesTheByteCount)
{
    ASSERT_TRUE(write_file(at("empty"), ""));
    ASSERT_TRUE(write_file(at("big"), pattern(40000)));
    ASSERT_TRUE(write_file(at("lines"), "a\r\nb\r\n"));
    EXPECT_EQ(file_size("empty"), 0);
    EXPECT_EQ(file_size("big"), 40000);
    EXPECT_EQ(file_size("lines"), 6);
    EXPECT_EQ(file_size("missing"), -1);
}
