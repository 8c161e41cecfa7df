// Tests of the string routines: fields, wildcards, sorting, filters and the small routines.
#include "support.h"

#include "os.h"
#include "strings.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

// Characters whose ANSI form in code page 932 holds an ASCII byte: 'ソ' is 83 5C (a
// backslash), '表' 95 5C, 'カ' 83 4A (a 'J'). In UTF-8 none of their bytes is ASCII.
#define KATAKANA_SO "\xe3\x82\xbd"
#define KANJI_HYO "\xe8\xa1\xa8"
#define KATAKANA_KA "\xe3\x82\xab"

// ---- get_field -------------------------------------------------------------------------

struct FieldRow {
    const char *source;
    int32_t size;
    const char *field;
    const char *rest;
    char separator = ';';
};

TEST(GetField, SplitsOneFieldAsTheTableSaysInEveryCodePage)
{
    const std::string long_field(300, 'x');
    const std::string long_line = long_field + ";tail";
    const FieldRow rows[] = {
        {"abcd;ef", 4, "", "ef"},     // one short: dropped whole
        {"abcd;ef", 5, "abcd", "ef"}, // exact fit
        {"abcd;ef", 6, "abcd", "ef"},
        {"a b\n", 32, "a b\n", ""}, // the line end stays in the field
        {";;;x;;", 32, "x", ""},    // separators around are skipped
        {"", 32, "", ""},
        {";;;", 32, "", ""},
        {long_line.c_str(), 32, "", "tail"}, // much longer than the buffer
        {long_line.c_str(), 301, long_field.c_str(), "tail"},
        {KATAKANA_SO ";" KANJI_HYO, 32, KATAKANA_SO, KANJI_HYO},
        {KATAKANA_SO "\\" KANJI_HYO, 32, KATAKANA_SO, KANJI_HYO, '\\'},
        {"C:\\" KANJI_HYO KATAKANA_SO "\\x", 32, "C:", KANJI_HYO KATAKANA_SO "\\x", '\\'},
        {KANJI_HYO "\\x", 4, KANJI_HYO, "x", '\\'}, // a field of 3 bytes: exact fit
        {KANJI_HYO "\\x", 3, "", "x", '\\'},        // one short
    };
    for (const FieldRow &row : rows) {
        char dest[512];
        memset(dest, '#', sizeof dest);
        const char *rest = get_field(dest, row.source, row.size, row.separator);
        EXPECT_STREQ(dest, row.field) << row.source << " size " << row.size;
        EXPECT_STREQ(rest, row.rest) << row.source << " size " << row.size;
        EXPECT_EQ(dest[row.size], '#') << "wrote past the size for " << row.source;
    }
}

TEST(GetField, WritesNothingWithSizeZero)
{
    char dest[4] = {'#', '#', '#', '#'};
    EXPECT_STREQ(get_field(dest, "ab;cd", 0, ';'), "cd");
    EXPECT_EQ(dest[0], '#');
    EXPECT_STREQ(get_field(dest, "ab;cd", -5, ';'), "cd");
    EXPECT_EQ(dest[0], '#');
}

TEST(GetField, SplitsAJobLineIntoItsFourFields)
{
    const char *line = "OLD;NEW;B1 B2;N1 N2";
    char old_name[32], new_name[32], bitmaps[255], names[255];
    const char *rest = get_field(old_name, line, 32, ';');
    rest = get_field(new_name, rest, 32, ';');
    rest = get_field(bitmaps, rest, 255, ';');
    rest = get_field(names, rest, 255, ';');
    EXPECT_STREQ(old_name, "OLD");
    EXPECT_STREQ(new_name, "NEW");
    EXPECT_STREQ(bitmaps, "B1 B2");
    EXPECT_STREQ(names, "N1 N2");
    EXPECT_EQ(rest, line + strlen(line));
}

TEST(GetField, CountsRunsOfSeparatorsAsOneAndStaysAtTheEnd)
{
    const char *line = ";;a;;b";
    char field[8];
    const char *rest = get_field(field, line, 8, ';');
    EXPECT_STREQ(field, "a");
    rest = get_field(field, rest, 8, ';');
    EXPECT_STREQ(field, "b");
    const char *end = rest;
    rest = get_field(field, rest, 8, ';');
    EXPECT_STREQ(field, "");
    EXPECT_EQ(rest, end);
    EXPECT_EQ(*rest, '\0');
}

// The field copied over its own line must not cut the line at the separator.
TEST(GetField, GivesTheSameFieldsInPlaceAsWithSeparateBuffers)
{
    const char *lines[] = {"OLD;NEW;B1 B2;N1 N2", ";;a;;b", "one", "x;y;"};
    for (const char *line : lines) {
        char separate[64];
        std::vector<std::string> expected;
        const char *rest = line;
        for (int i = 0; i < 5; i++) {
            rest = get_field(separate, rest, 64, ';');
            expected.push_back(separate);
        }
        char in_place[64];
        strcpy(in_place, line);
        const char *position = in_place;
        for (int i = 0; i < 5; i++) {
            // Each field is copied to the very start of what is left of the line.
            char *dest = in_place + (position - in_place);
            position = get_field(dest, position, 64, ';');
            EXPECT_STREQ(dest, expected[i].c_str()) << line << " field " << i;
        }
    }
}

TEST(GetField, InPlaceCopyLeavesTheNextFieldReadable)
{
    char line[] = "OLD;NEW";
    const char *rest = get_field(line, line, 32, ';');
    EXPECT_STREQ(line, "OLD");
    EXPECT_STREQ(rest, "NEW");
}

// ---- match_wildcard --------------------------------------------------------------------

struct WildcardRow {
    const char *name;
    const char *pattern;
    int expected;
};

TEST(MatchWildcard, MatchesNamesAsTheTableSays)
{
    const WildcardRow rows[] = {
        {"x.veh", "*.veh", 1},
        {".veh", "*.veh", 0},
        {"X.VEH", "*.veh", 0},
        {"a.veh.veh", "*.veh", 1},
        {"x.veh.bak", "*.veh", 0},
        {"car.bmp", "*.*", 1},
        {"car", "*.*", 0},
        {"ab", "a*b", 1},
        {"ab", "*ab", 0},
        {"a", "a*", 1},
        {"a", "*", 1},
        {"", "", 1},
        {"", "*", 0},
        {"abc", "ab", 0},
        {"abc", "", 0},
        {"ab", "???", 0},
        {"abc", "???", 1},
        {"xay", "*a?", 0},
        {"ab", "*?", 0},
        {"a?", "*?", 1},
        {"xaaab", "*aab", 0},
        {"aaab", "*ab", 1},
        {"abc", "a**c", 1},
        {"ab", "ab*", 1},
        {"\\x", "\\?x", 1},
        {"ax", "\\?x", 0},
        {"a*b", "a\\*b", 0},
        {"a\\b", "a\\b", 1},
        {"ab", "a\\b", 0},
        {"\\", "\\\\", 1},     // a backslash pair takes one backslash of the name
        {"a\\b", "a\\ b", 1},  // backslash and blank take only the name's backslash
        {"a\\ b", "a\\ b", 0}, // so the name's blank is left over
        {"\\xyb", "\\*b", 1},  // backslash and star start a star
        {"xb", "\\*b", 0},
        {KANJI_HYO ".veh", "*.veh", 1},
        {KATAKANA_SO, KATAKANA_SO, 1},
        {KATAKANA_SO, "?", 0}, // "?" takes one byte of the three
        {KATAKANA_SO, "???", 1},
        {"\\" KATAKANA_SO, "\\*", 1},
    };
    for (const WildcardRow &row : rows)
        EXPECT_EQ(match_wildcard(row.name, row.pattern), row.expected)
            << "'" << row.name << "' against '" << row.pattern << "'";
}

// ---- sort_strings ----------------------------------------------------------------------

static std::vector<std::string> sorted(std::vector<std::string> texts)
{
    std::vector<char *> pointers;
    for (std::string &text : texts)
        pointers.push_back(&text[0]);
    sort_strings(pointers.data(), (uint32_t)pointers.size());
    std::vector<std::string> result;
    for (char *pointer : pointers)
        result.push_back(pointer);
    return result;
}

TEST(SortStrings, OrdersByUnsignedBytes)
{
    EXPECT_EQ(sorted({"b", "B", "a", "A", "ab"}),
              (std::vector<std::string>{"A", "B", "a", "ab", "b"}));
    EXPECT_EQ(sorted({"\xe9t\xe9", "zoo", "Zoo"}),
              (std::vector<std::string>{"Zoo", "zoo", "\xe9t\xe9"}));
}

TEST(SortStrings, SortsEveryCountUpToSixteen)
{
    for (uint32_t count = 0; count <= 16; count++) {
        std::vector<std::string> texts;
        for (uint32_t i = 0; i < count; i++)
            texts.push_back(std::string(1, (char)('a' + (i * 7) % count)) + "x");
        std::vector<std::string> expected = texts;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sorted(texts), expected) << "count " << count;
    }
}

// Equal entries are told apart by their addresses: where they end up depends on the gaps
// (3 then 1 for four entries, 7, 3, 1 for eight), so another gap sequence shows.
TEST(SortStrings, UsesGapsOfTheFormTwoToTheKMinusOne)
{
    struct Row {
        std::vector<const char *> texts;
        std::vector<int> order; // the original index of each entry after the sort
    } rows[] = {
        {{"b", "b", "c", "a"}, {3, 1, 0, 2}},
        {{"b", "b", "c", "c", "c", "c", "c", "a"}, {7, 1, 0, 2, 3, 5, 6, 4}},
    };
    for (const Row &row : rows) {
        std::vector<std::string> texts(row.texts.begin(), row.texts.end());
        std::vector<char *> pointers;
        for (std::string &text : texts)
            pointers.push_back(&text[0]);
        sort_strings(pointers.data(), (uint32_t)pointers.size());
        std::vector<int> order;
        for (char *pointer : pointers)
            for (size_t i = 0; i < texts.size(); i++)
                if (pointer == &texts[i][0])
                    order.push_back((int)i);
        EXPECT_EQ(order, row.order) << "count " << texts.size();
    }
}

TEST(SortStrings, MovesOnlyThePointers)
{
    char one[] = "b", two[] = "a";
    char *pointers[] = {one, two};
    sort_strings(pointers, 2);
    EXPECT_EQ(pointers[0], two);
    EXPECT_EQ(pointers[1], one);
    EXPECT_STREQ(one, "b");
}

// ---- print_lines -----------------------------------------------------------------------

TEST(PrintLines, PrintsEachLineUntilTheNullPointer)
{
    const char *lines[] = {"first", "", "third", nullptr, "never"};
    testing::internal::CaptureStdout();
    print_lines(lines);
    const char *none[] = {nullptr};
    print_lines(none);
    EXPECT_EQ(strip_cr(testing::internal::GetCapturedStdout()), "first\n\nthird\n");
}

// ---- Filters on files ------------------------------------------------------------------

class FilterTest : public TempFolderTest
{
};

TEST_F(FilterTest, IsMatchingDirectoryTellsFoldersByName)
{
    ASSERT_EQ(os_make_directory(".git"), 0);
    ASSERT_EQ(os_make_directory("cars"), 0);
    ASSERT_TRUE(write_file(at("file.txt"), "x"));
    EXPECT_EQ(is_matching_directory(".git", ""), -1);
    EXPECT_EQ(is_matching_directory("cars", "ar"), 1);
    EXPECT_EQ(is_matching_directory("cars", ""), 1);
    EXPECT_EQ(is_matching_directory("cars", "xy"), 0);
    EXPECT_EQ(is_matching_directory("file.txt", ""), -1);
    EXPECT_EQ(is_matching_directory("missing", ""), -1);
    EXPECT_EQ(is_matching_directory(".", ""), -1);
}

TEST_F(FilterTest, FileLargerThanComparesTheSizeWithTheNumber)
{
    ASSERT_TRUE(write_file(at("ten"), std::string(10, 'x')));
    EXPECT_EQ(file_larger_than("ten", "9"), 1);
    EXPECT_EQ(file_larger_than("ten", "10"), 0);
    EXPECT_EQ(file_larger_than("ten", "  -3"), 1);
    EXPECT_EQ(file_larger_than("ten", "9junk"), 1);
    EXPECT_EQ(file_larger_than("ten", "junk"), 1);
    EXPECT_EQ(file_larger_than("missing", "-100"), 0);
}

TEST(ContainsText, FindsSubstringsAndTheEmptyOne)
{
    EXPECT_EQ(contains_text("racing car", "ing c"), 1);
    EXPECT_EQ(contains_text("racing car", ""), 1);
    EXPECT_EQ(contains_text("", ""), 1);
    EXPECT_EQ(contains_text("racing car", "Car"), 0);
    EXPECT_EQ(contains_text("car", "cars"), 0);
}

// ---- Small routines --------------------------------------------------------------------

TEST(CountChar, CountsTheLowByteOfTheCharacter)
{
    EXPECT_EQ(count_char("a;b;;c", ';'), 3);
    EXPECT_EQ(count_char("", ';'), 0);
    EXPECT_EQ(count_char("abc", 0), 0);
    EXPECT_EQ(count_char("x\xffy\xff", 0x1ff), 2);
}

TEST(ConcatStrings, JoinsAllStringsUpToTheNullPointer)
{
    char dest[32];
    memset(dest, '#', sizeof dest);
    EXPECT_EQ(concat_strings(dest, "C:", "\\", "", "cars", (const char *)nullptr), dest);
    EXPECT_STREQ(dest, "C:\\cars");
    EXPECT_STREQ(concat_strings(dest, (const char *)nullptr), "");
}

TEST(ReverseBytes, ReversesInPlaceAndLeavesShortBuffersAlone)
{
    char text[] = "abcde";
    reverse_bytes(text, 5);
    EXPECT_STREQ(text, "edcba");
    reverse_bytes(text, 4);
    EXPECT_STREQ(text, "bcdea");
    reverse_bytes(text, 1);
    reverse_bytes(text, 0);
    EXPECT_STREQ(text, "bcdea");
}

TEST(SwapBlocks, ExchangesTwoAdjacentBlocks)
{
    char text[] = "abcXY!";
    swap_blocks(text, 3, 2);
    EXPECT_STREQ(text, "XYabc!");
    swap_blocks(text, 0, 2);
    EXPECT_STREQ(text, "XYabc!");
    swap_blocks(text, 5, 0);
    EXPECT_STREQ(text, "XYabc!");
}

struct DeleteRow {
    const char *text;
    size_t position;
    size_t count;
    const char *expected;
};

TEST(DeleteChars, RemovesCharactersAsTheTableSays)
{
    const DeleteRow rows[] = {
        {"abcdef", 2, 2, "abef"},     {"abcdef", 4, 5, "abcd"},
        {"abcdef", 0, 6, ""},         {"abcdef", 0, 0, "abcdef"},
        {"abcdef", 5, 1, "abcde"},    {"abcdef", 6, 1, "abcdef"},
        {"abcdef", 100, 3, "abcdef"}, {"", 0, 1, ""},
    };
    for (const DeleteRow &row : rows) {
        char buffer[16];
        memset(buffer, '#', sizeof buffer);
        strcpy(buffer, row.text);
        EXPECT_EQ(delete_chars(buffer, row.position, row.count), buffer);
        EXPECT_STREQ(buffer, row.expected) << row.text << " at " << row.position;
        EXPECT_EQ(buffer[strlen(row.text) + 1], '#') << "wrote past the string";
    }
}

TEST(CopyLine, TurnsTheLineEndIntoOneLineFeed)
{
    const char *text = "ab\r\ncd";
    char dest[16];
    const char *rest = copy_line(dest, 10, text);
    EXPECT_STREQ(dest, "ab\n");
    EXPECT_EQ(rest, text + 3);
    rest = copy_line(dest, 10, rest);
    EXPECT_STREQ(dest, "\n");
    EXPECT_EQ(copy_line(dest, 10, rest), nullptr);
}

TEST(CopyLine, FindsTheLineEndOnlyWithinTheCount)
{
    char dest[8];
    memset(dest, '#', sizeof dest);
    EXPECT_EQ(copy_line(dest, 0, "a\n"), nullptr);
    EXPECT_EQ(dest[0], '#');
    EXPECT_EQ(copy_line(dest, 2, "ab\n"), nullptr);
    EXPECT_EQ(dest[2], '#');
    const char *text = "ab\n";
    EXPECT_EQ(copy_line(dest, 3, text), text + 3);
    EXPECT_STREQ(dest, "ab\n");
    const char *carriage_return = "\rx";
    EXPECT_EQ(copy_line(dest, 1, carriage_return), carriage_return + 1);
    EXPECT_STREQ(dest, "\n");
}

TEST(VisibleText, ShowsControlCharactersInCaretNotationAndCutsWholePairs)
{
    struct Row {
        const char *text;
        uint32_t size;
        const char *expected;
    } rows[] = {
        {"car.mas", 8, "car.mas"},                  // exact fit
        {"car.mas", 7, "car.ma"},                   // one short
        {"car.mas", 1, ""},                         // room for the NUL only
        {"\x1b]0;x\a\x1b[2J", 64, "^[]0;x^G^[[2J"}, // much room
        {"a\x7f\t\x01\x1f", 64, "a^?^I^A^_"},       // 127 and the ends of 1..31
        {"ab\x1b", 5, "ab^["},                      // the pair fits exactly
        {"ab\x1b", 4, "ab"},                        // a pair is never split
        {"ab\x1b"
         "cd",
         5, "ab^["},                                      // nothing after a cut
        {"caf\xe9 \xc3\xa9^[", 64, "caf\xe9 \xc3\xa9^["}, // high bytes, '^' unchanged
        {"", 1, ""},
    };
    for (const Row &row : rows) {
        char buffer[65];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(visible_text(buffer, row.size, row.text), buffer);
        EXPECT_STREQ(buffer, row.expected) << row.text;
        EXPECT_EQ(buffer[row.size], '#') << "wrote past size " << row.size;
    }
    std::string long_text(1000, '\x1b');
    char buffer[9];
    memset(buffer, '#', sizeof buffer);
    visible_text(buffer, 8, long_text.c_str());
    EXPECT_STREQ(buffer, "^[^[^[");
    EXPECT_EQ(buffer[8], '#');
    visible_text(buffer, 0, "x");
    EXPECT_EQ(buffer[0], '^');
}

TEST(AsciiCase, ChangesOnlyTheLettersAToZInEveryCodePage)
{
    char kana[] = "a" KATAKANA_KA "B\xd0\x96"; // Cyrillic Zhe, D0 96
    EXPECT_STREQ(set_ascii_case(kana, ASCII_UPPER), "A" KATAKANA_KA "B\xd0\x96");
    EXPECT_STREQ(set_ascii_case(kana, ASCII_LOWER), "a" KATAKANA_KA "b\xd0\x96");
    char upper[] = "az AZ 09 @[`{ \xe9\xc3\xa9.mas_";
    EXPECT_STREQ(set_ascii_case(upper, ASCII_UPPER), "AZ AZ 09 @[`{ \xe9\xc3\xa9.MAS_");
    char lower[] = "az AZ 09 @[`{ \xc9\xc3\x89.MAS_";
    EXPECT_STREQ(set_ascii_case(lower, ASCII_LOWER), "az az 09 @[`{ \xc9\xc3\x89.mas_");
    EXPECT_EQ(same_ignoring_case("CON.mas", "con.MAS", 7), 1);
    EXPECT_EQ(same_ignoring_case("@[", "`{", 2), 0);
    EXPECT_EQ(same_ignoring_case("\xc9", "\xe9", 1), 0);
    EXPECT_EQ(same_ignoring_case("abX", "ABy", 2), 1);
}
