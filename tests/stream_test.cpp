// Tests of the library's own text mode over binary streams, the same on both targets.
#include <string>
#include <vector>

#include "os.h"
#include "stream.h"
#include "support.h"

using StreamText = TempFolderTest;

static std::string read_all(const char *path, const char *mode)
{
    Stream *stream = stream_open(path, mode);
    if (!stream)
        return "<missing>";
    std::string text;
    int c;
    while ((c = stream_getc(stream)) != EOF)
        text += static_cast<char>(c);
    stream_close(stream);
    return text;
}

TEST_F(StreamText, ReadingDropsEveryCrAndStopsAtCtrlZ)
{
    struct Row {
        std::string bytes, text;
    } rows[] = {
        {"a\r\nb\r\n", "a\nb\n"},     {"lone\rcr\r", "lonecr"},
        {"\r\r\r\n", "\n"},           {std::string("ab\032cd\n"), "ab"},
        {std::string("\x1a", 1), ""}, {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file("in.txt", row.bytes));
        EXPECT_EQ(read_all("in.txt", "r"), row.text) << row.bytes;
        EXPECT_EQ(read_all("in.txt", "rt"), row.text) << row.bytes;
    }
}

TEST_F(StreamText, CtrlZEndStaysUntilASeek)
{
    ASSERT_TRUE(write_file("in.txt", "x\x1ay"));
    Stream *stream = stream_open("in.txt", "r");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream_getc(stream), 'x');
    EXPECT_EQ(stream_eof(stream), 0);
    EXPECT_EQ(stream_getc(stream), EOF);
    EXPECT_EQ(stream_getc(stream), EOF);
    EXPECT_EQ(stream_eof(stream), 1);
    EXPECT_EQ(stream_seek(stream, 2, SEEK_SET), 0);
    EXPECT_EQ(stream_eof(stream), 0);
    EXPECT_EQ(stream_getc(stream), 'y');
    EXPECT_EQ(stream_tell(stream), 3);
    EXPECT_EQ(stream_seek(stream, 0, 9), -1);
    EXPECT_EQ(stream_close(stream), 0);
}

TEST_F(StreamText, WritingTurnsLfIntoCrLf)
{
    Stream *stream = stream_open("out.txt", "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream_putc('\n', stream), '\n');
    EXPECT_EQ(stream_puts("a\nb\r", stream), 0);
    std::string long_text(600, 'x');
    EXPECT_EQ(stream_printf(stream, "%s\n%d\n", long_text.c_str(), 42), 604);
    ASSERT_EQ(stream_close(stream), 0);
    EXPECT_EQ(read_file("out.txt"), "\r\na\r\nb\r" + long_text + "\r\n42\r\n");

    stream = stream_open("out.txt", "a");
    ASSERT_NE(stream, nullptr);
    stream_puts("end\n", stream);
    stream_close(stream);
    EXPECT_EQ(read_file("out.txt"), "\r\na\r\nb\r" + long_text + "\r\n42\r\nend\r\n");
}

TEST_F(StreamText, BinaryModeKeepsEveryByte)
{
    const std::string bytes("a\r\nb\rc\n\032d\0e", 11);
    Stream *stream = stream_open("bin", "wb");
    ASSERT_NE(stream, nullptr);
    for (char c : bytes)
        stream_putc(c, stream);
    ASSERT_EQ(stream_close(stream), 0);
    EXPECT_EQ(read_file("bin"), bytes);
    EXPECT_EQ(read_all("bin", "rb"), bytes);
    EXPECT_EQ(read_all("bin", "r+b"), bytes);
}

TEST_F(StreamText, GetsReturnsPiecesOfAtMostSizeMinusOne)
{
    ASSERT_TRUE(write_file("in.txt", "abcdef\r\nxy\n\nlast"));
    struct Row {
        int size;
        std::vector<std::string> pieces;
    } rows[] = {
        {100, {"abcdef\n", "xy\n", "\n", "last"}},
        {4, {"abc", "def", "\n", "xy\n", "\n", "las", "t"}},
        {3, {"ab", "cd", "ef", "\n", "xy", "\n", "\n", "la", "st"}},
        {2, {"a", "b", "c", "d", "e", "f", "\n", "x", "y", "\n", "\n", "l", "a", "s", "t"}},
    };
    for (const Row &row : rows) {
        Stream *stream = stream_open("in.txt", "r");
        ASSERT_NE(stream, nullptr);
        std::vector<std::string> pieces;
        char buffer[100];
        while (stream_gets(buffer, row.size, stream))
            pieces.push_back(buffer);
        EXPECT_EQ(pieces, row.pieces) << "size " << row.size;
        EXPECT_STREQ(buffer, "");
        stream_close(stream);
    }
}

TEST_F(StreamText, GetsReadsNothingIntoTooSmallBuffers)
{
    ASSERT_TRUE(write_file("in.txt", "abc"));
    Stream *stream = stream_open("in.txt", "r");
    ASSERT_NE(stream, nullptr);
    char buffer[4] = "zzz";
    EXPECT_EQ(stream_gets(buffer, 1, stream), nullptr);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(stream_gets(buffer, 0, stream), nullptr);
    EXPECT_EQ(stream_getc(stream), 'a');
    stream_close(stream);
    EXPECT_EQ(stream_open("missing.txt", "r"), nullptr);
    EXPECT_EQ(stream_open("no-folder\\new.txt", "w"), nullptr);
}

TEST_F(StreamText, ReadPieceGivesEachPieceWithItsLengthNulBytesIncluded)
{
    const std::string nul("\0", 1);
    ASSERT_TRUE(write_file("in.txt", "a" + nul + "b\r\n" + nul + "\nabcdefg\x1a" + nul + "z\n"));
    struct Row {
        int size;
        std::vector<std::string> pieces;
    } rows[] = {
        {100, {"a" + nul + "b\n", nul + "\n", "abcdefg"}},
        {4, {"a" + nul + "b", "\n", nul + "\n", "abc", "def", "g"}},
        {2, {"a", nul, "b", "\n", nul, "\n", "a", "b", "c", "d", "e", "f", "g"}},
    };
    for (const Row &row : rows) {
        Stream *stream = stream_open("in.txt", "r");
        ASSERT_NE(stream, nullptr);
        std::vector<std::string> pieces;
        char buffer[100];
        int length;
        while ((length = stream_read_piece(buffer, row.size, stream)) > 0) {
            EXPECT_EQ(buffer[length], '\0') << "size " << row.size;
            pieces.push_back(std::string(buffer, static_cast<size_t>(length)));
        }
        EXPECT_EQ(length, 0);
        EXPECT_EQ(pieces, row.pieces) << "size " << row.size;
        stream_close(stream);
    }
}

TEST_F(StreamText, ReadPieceReadsNothingIntoTooSmallBuffers)
{
    ASSERT_TRUE(write_file("in.txt", "abc"));
    Stream *stream = stream_open("in.txt", "r");
    ASSERT_NE(stream, nullptr);
    char buffer[4] = "zzz";
    EXPECT_EQ(stream_read_piece(buffer, 1, stream), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(stream_read_piece(buffer, 0, stream), 0);
    EXPECT_EQ(stream_read_piece(buffer, 4, stream), 3);
    EXPECT_STREQ(buffer, "abc");
    stream_close(stream);
}

// Reading goes through blocks of 4096 bytes: pieces, CRs, positions and seeks across the
// block boundaries give what one byte at a time would.
TEST_F(StreamText, PiecesPositionsAndSeeksHoldAcrossBlocks)
{
    std::string bytes, text;
    for (int line = 0; bytes.size() < 10000; line++) {
        std::string body = "line " + std::to_string(line) + std::string(line % 37, 'x');
        bytes += body + "\r\n";
        text += body + "\n";
    }
    ASSERT_TRUE(write_file("big.txt", bytes));
    Stream *stream = stream_open("big.txt", "r");
    ASSERT_NE(stream, nullptr);
    std::string read;
    char piece[16];
    int length;
    while ((length = stream_read_piece(piece, sizeof piece, stream)) > 0)
        read.append(piece, static_cast<size_t>(length));
    EXPECT_EQ(read, text);
    EXPECT_EQ(stream_eof(stream), 1);
    EXPECT_EQ(stream_tell(stream), static_cast<long>(bytes.size()));
    EXPECT_EQ(stream_seek(stream, 4095, SEEK_SET), 0);
    EXPECT_EQ(stream_eof(stream), 0);
    EXPECT_EQ(stream_getc(stream), bytes[4095] == '\r' ? bytes[4096] : bytes[4095]);
    EXPECT_EQ(stream_seek(stream, 100, SEEK_CUR), 0);
    long at = stream_tell(stream);
    EXPECT_GT(at, 4195);
    EXPECT_EQ(stream_getc(stream), bytes[at] == '\r' ? bytes[at + 1] : bytes[at]);
    EXPECT_EQ(stream_close(stream), 0);
}

// A read that fails part-way ends the text like its end does, but stays told apart from it.
TEST_F(StreamText, AReadErrorIsKeptApartFromTheEnd)
{
    ASSERT_TRUE(write_file("big.txt", std::string(10000, 'a')));
    for (const char *mode : {"r", "rb"}) {
        for (int nth : {0, 1, 2}) {
            Stream *stream = stream_open("big.txt", mode);
            ASSERT_NE(stream, nullptr);
            os_inject_fault(OS_FAULT_READ, nth);
            size_t count = 0;
            while (stream_getc(stream) != EOF)
                count++;
            EXPECT_EQ(count, nth == 0 ? 10000u : (nth - 1) * 4096u) << mode << nth;
            EXPECT_EQ(stream_eof(stream), 1);
            EXPECT_EQ(stream_error(stream), nth == 0 ? 0 : 1) << mode << nth;
            char piece[8];
            EXPECT_EQ(stream_read_piece(piece, sizeof piece, stream), 0);
            stream_close(stream);
        }
    }
}
