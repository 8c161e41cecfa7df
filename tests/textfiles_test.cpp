// Tests of the text and settings file routines: reading, writing and editing settings,
// console input through a pipe-like input file, the pager, and the small file routines.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "os.h"
#include "support.h"
#include "utility.h"

class TextFilesTest : public TempFolderTest
{
  protected:
    // Reads settings from a file holding content, opened with mode ("r" text, "rb" binary).
    int8_t read_from(const std::string &content, const char *mode, const char *names,
                     const char *types, void *first, void *second = nullptr)
    {
        EXPECT_TRUE(write_file(at("settings.ini"), content));
        Stream *stream = stream_open(at("settings.ini").c_str(), mode);
        EXPECT_NE(stream, nullptr);
        if (!stream)
            return -2;
        int8_t result = read_settings(stream, names, types, first, second);
        stream_close(stream);
        return result;
    }

    // An input file standing in for standard input, holding the typed answers.
    FILE *input_of(const std::string &typed)
    {
        EXPECT_TRUE(write_file(at("input.txt"), typed));
        FILE *input = os_open_stream(at("input.txt").c_str(), "rb");
        EXPECT_NE(input, nullptr);
        return input;
    }
};

// ---- read_settings ----------------------------------------------------------------------

TEST_F(TextFilesTest, ReadSettingsSkipsCommentsSectionsAndOtherKeys)
{
    int width = 0;
    char name[256] = "unset";
    EXPECT_EQ(read_from("; a comment\n[Car]\n  width = 640\nname = \"Red car\" extra\n"
                        "other = 5\n",
                        "r", "width name", "is", &width, name),
              0);
    EXPECT_EQ(width, 640);
    EXPECT_STREQ(name, "Red car");
}

TEST_F(TextFilesTest, ReadSettingsFailsOnAnEmptyValueWhateverItsKey)
{
    int width = 0;
    EXPECT_EQ(read_from("width = 1\nunwanted =\nwidth = 2\n", "r", "width", "i", &width), -1);
    EXPECT_EQ(width, 1) << "values stored before the bad line stay";
    EXPECT_EQ(read_from("unwanted =   \n", "r", "width", "i", &width), -1);
}

TEST_F(TextFilesTest, ReadSettingsFailsOnALastLineWithoutLineEnd)
{
    int a = 0;
    EXPECT_EQ(read_from("a=1", "r", "a", "i", &a), -1);
    EXPECT_EQ(read_from("b=2\na=1", "r", "a", "i", &a), -1);
}

TEST_F(TextFilesTest, ReadSettingsFailsOnTheFirstPieceOfAnOverlongLine)
{
    char value[256];
    EXPECT_EQ(read_from("k=" + std::string(300, 'x') + "\n", "r", "k", "s", value), -1);
}

TEST_F(TextFilesTest, ReadSettingsGivesAnEmptyKeyToALineStartingWithEquals)
{
    int width = 3;
    EXPECT_EQ(read_from("=5\n = 6\n", "r", "width", "i", &width), 0);
    EXPECT_EQ(width, 3);
}

TEST_F(TextFilesTest, ReadSettingsLetsTheLastLineForAKeyWin)
{
    int width = 0;
    EXPECT_EQ(read_from("width=1\n[Other]\nwidth=2\nwidth = 3\n", "r", "width", "i", &width), 0);
    EXPECT_EQ(width, 3);
}

TEST_F(TextFilesTest, ReadSettingsAllocatesPValuesTheCallerFrees)
{
    char *model = nullptr;
    char *colour = nullptr;
    EXPECT_EQ(read_from("model = \"GT 500\"\ncolour = blue  \n", "r", "model colour", "pp", &model,
                        &colour),
              0);
    ASSERT_NE(model, nullptr);
    ASSERT_NE(colour, nullptr);
    EXPECT_STREQ(model, "GT 500");
    EXPECT_STREQ(colour, "blue  ") << "white space at the end of a value stays";
    free(model);
    free(colour);
}

TEST_F(TextFilesTest, ReadSettingsKeepsTheRestOfAValueWithoutClosingQuote)
{
    char name[256];
    EXPECT_EQ(read_from("name = \"Red car\n", "r", "name", "s", name), 0);
    EXPECT_STREQ(name, "Red car");
}

TEST_F(TextFilesTest, ReadSettingsReadsNumbersAsAtoiDoes)
{
    int a = 9;
    int b = 9;
    EXPECT_EQ(read_from("a = -12px\nb = abc\n", "r", "a b", "ii", &a, &b), 0);
    EXPECT_EQ(a, -12);
    EXPECT_EQ(b, 0);
}

TEST_F(TextFilesTest, ReadSettingsDropsCrOnlyThroughATextStream)
{
    std::string file = "name = abc\r\nwidth = 7\r\n";
    char name[256];
    int width = 0;
    EXPECT_EQ(read_from(file, "r", "name width", "si", name, &width), 0);
    EXPECT_STREQ(name, "abc");
    EXPECT_EQ(width, 7);
    EXPECT_EQ(read_from(file, "rb", "name width", "si", name, &width), 0);
    EXPECT_STREQ(name, "abc\r");
}

TEST_F(TextFilesTest, ReadSettingsStopsAtCtrlZOnlyThroughATextStream)
{
    int a = 0;
    EXPECT_EQ(read_from("a=1\n\x1a"
                        "b=2",
                        "r", "a", "i", &a),
              0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(read_from("a=1\n\x1a"
                        "b=2",
                        "rb", "a", "i", &a),
              -1);
}

TEST_F(TextFilesTest, ReadSettingsFailsOnAnUnknownLetterOnlyForAKeyFound)
{
    int a = 0;
    EXPECT_EQ(read_from("other=1\n", "r", "a", "x", &a), 0);
    EXPECT_EQ(read_from("a=1\n", "r", "a", "x", &a), -1);
}

TEST_F(TextFilesTest, ReadSettingsRefusesNamesLongerThan39Characters)
{
    std::string names = "a " + std::string(40, 'n');
    int a = 0;
    int n = 0;
    EXPECT_EQ(read_from("a=1\n", "r", names.c_str(), "ii", &a, &n), -1);
    EXPECT_EQ(a, 0) << "nothing is read";
    std::string longest = "a " + std::string(39, 'n');
    EXPECT_EQ(
        read_from("a=1\n" + std::string(39, 'n') + "=2\n", "r", longest.c_str(), "ii", &a, &n), 0);
    EXPECT_EQ(n, 2);
}

TEST_F(TextFilesTest, ReadSettingsRefusesMoreLettersThanNames)
{
    int a = 0;
    EXPECT_EQ(read_from("b=1\n", "r", "a  ", "ii", &a, &a), -1);
    EXPECT_EQ(read_from("a=1\n", "r", " a  b ", "i", &a), 0) << "fewer letters are fine";
    EXPECT_EQ(a, 1);
}

// ---- write_settings ---------------------------------------------------------------------

TEST_F(TextFilesTest, WriteSettingsAppendsOneLinePerLetter)
{
    ASSERT_TRUE(write_file(at("out.ini"), "[Car]\n"));
    Stream *stream = stream_open(at("out.ini").c_str(), "r+b");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_settings(stream, "width name  model", "isp", 640, "Red car", "GT"), 0);
    stream_close(stream);
    EXPECT_EQ(read_file(at("out.ini")), "[Car]\nwidth = 640\nname = \"Red car\"\nmodel = \"GT\"\n");
}

TEST_F(TextFilesTest, WriteSettingsWritesCrLfThroughATextStream)
{
    Stream *stream = stream_open(at("out.ini").c_str(), "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_settings(stream, "width name", "is", 640, "Red car"), 0);
    stream_close(stream);
    EXPECT_EQ(read_file(at("out.ini")), "width = 640\r\nname = \"Red car\"\r\n");
}

TEST_F(TextFilesTest, WriteSettingsRefusesABadNameListAndWritesNothing)
{
    Stream *stream = stream_open(at("out.ini").c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(write_settings(stream, std::string(40, 'n').c_str(), "i", 1), -1);
    EXPECT_EQ(write_settings(stream, "a", "ii", 1, 2), -1);
    stream_close(stream);
    EXPECT_EQ(read_file(at("out.ini")), "");
}

// ---- remove_setting and replace_setting -------------------------------------------------

struct SettingsSelfEditRow {
    const char *name;
    int8_t (*edit)(const char *source, const char *destination);
};

// Both settings editors refuse with their failure result 1 to write a file from itself,
// however it is spelled, and leave it as it was.
TEST_F(TextFilesTest, SettingsEditorsRefuseToWriteAFileFromItself)
{
    const SettingsSelfEditRow rows[] = {
        {"remove_setting",
         [](const char *s, const char *d) { return remove_setting(s, d, "width"); }},
        {"replace_setting",
         [](const char *s, const char *d) { return replace_setting(s, d, "width", "800"); }},
    };
    std::string content = "width=640\r\n";
    for (int i = 0; i < 400; i++)
        content += "height" + std::to_string(i) + "=480\r\n";
    const std::string spellings[] = {"a.ini", "A.INI", ".\\a.ini", at("a.ini"), "sub\\..\\a.ini"};
    ASSERT_EQ(os_make_directory("sub"), 0);
    for (const SettingsSelfEditRow &row : rows) {
        for (const std::string &spelling : spellings) {
            ASSERT_TRUE(write_file(at("a.ini"), content));
            EXPECT_EQ(row.edit("a.ini", spelling.c_str()), 1) << row.name << " " << spelling;
            EXPECT_TRUE(read_file(at("a.ini")) == content) << row.name << " " << spelling;
        }
    }
}

TEST_F(TextFilesTest, RemoveSettingDropsEveryLineThatSetsTheKey)
{
    struct Row {
        const char *source;
        const char *expected;
    } rows[] = {
        {"width=1\nheight=2\nmaxwidth=3\nsize=width\nwidth\nwidth = 4\n",
         "height=2\nsize=width\nwidth\n"},
        {"width=1\r\nheight=2\r\nmaxwidth=3\r\nsize=width\r\n", "height=2\r\nsize=width\r\n"},
        // A CR file is read in pieces that end only at LF: one piece here, whose first "="
        // stands before the key.
        {"height=2\rwidth=1\r", "height=2\rwidth=1\r"},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(at("in.ini"), row.source));
        EXPECT_EQ(remove_setting(at("in.ini").c_str(), at("out.ini").c_str(), "width"), 0)
            << row.source;
        EXPECT_EQ(read_file(at("out.ini")), row.expected) << row.source;
    }
}

TEST_F(TextFilesTest, RemoveSettingGivesOneWhenNothingIsWritten)
{
    ASSERT_TRUE(write_file(at("in.ini"), "width=1\nwidth = 2\r\nmaxwidth=3"));
    EXPECT_EQ(remove_setting(at("in.ini").c_str(), at("out.ini").c_str(), "width"), 1);
    EXPECT_EQ(read_file(at("out.ini")), "");
    ASSERT_TRUE(write_file(at("empty.ini"), ""));
    EXPECT_EQ(remove_setting(at("empty.ini").c_str(), at("out.ini").c_str(), "width"), 1);
    EXPECT_EQ(remove_setting(at("missing.ini").c_str(), at("out.ini").c_str(), "width"), 1);
    EXPECT_EQ(remove_setting(at("in.ini").c_str(), at("no\\such\\out.ini").c_str(), "w"), 1);
}

TEST_F(TextFilesTest, ReplaceSettingReplacesEveryLineThatSetsTheKey)
{
    struct Row {
        const char *source;
        int8_t result;
        const char *expected;
    } rows[] = {
        {"height=2\r\nwidth=1\r\n", 0, "height=2\r\nwidth=800\r\n"},
        {"height=2\r\n", 1, "height=2\r\nwidth=800\r\n"},
        {"width = 1\nmaxwidth=5\nsize=width\nx=1\n", 0, "width=800\nwidth=800\nsize=width\nx=1\n"},
        {"height=2\n", 1, "height=2\nwidth=800\n"},
        {"a=1\nb=2", 1, "a=1\nb=2\nwidth=800\n"},
        {"", 1, "width=800\n"},
        // The first piece shows a CR not followed by LF.
        {"k=1\rz", 1, "k=1\rz\rwidth=800\r"},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(at("in.ini"), row.source));
        EXPECT_EQ(replace_setting(at("in.ini").c_str(), at("out.ini").c_str(), "width", "800"),
                  row.result)
            << row.source;
        EXPECT_EQ(read_file(at("out.ini")), row.expected) << row.source;
    }
}

TEST_F(TextFilesTest, ReplaceSettingRefusesALineLongerThan255Characters)
{
    ASSERT_TRUE(write_file(at("in.ini"), "k=1\n"));
    std::string fits(252, 'v'); // "k=" + 252 + LF = 255 characters
    EXPECT_EQ(replace_setting(at("in.ini").c_str(), at("out.ini").c_str(), "k", fits.c_str()), 0);
    EXPECT_EQ(read_file(at("out.ini")), "k=" + fits + "\n");
    ASSERT_TRUE(write_file(at("out.ini"), "untouched"));
    std::string too_long(253, 'v');
    EXPECT_EQ(replace_setting(at("in.ini").c_str(), at("out.ini").c_str(), "k", too_long.c_str()),
              1);
    EXPECT_EQ(read_file(at("out.ini")), "untouched");
    std::string huge(5000, 'v');
    EXPECT_EQ(replace_setting(at("in.ini").c_str(), at("out.ini").c_str(), huge.c_str(), "1"), 1);
    EXPECT_EQ(read_file(at("out.ini")), "untouched");
}

TEST_F(TextFilesTest, ReplaceSettingGivesOneWhenAFileCannotBeOpened)
{
    EXPECT_EQ(replace_setting(at("missing.ini").c_str(), at("out.ini").c_str(), "k", "1"), 1);
    EXPECT_FALSE(os_exists(at("out.ini").c_str()));
    ASSERT_TRUE(write_file(at("in.ini"), "k=1\n"));
    EXPECT_EQ(replace_setting(at("in.ini").c_str(), at("no\\such\\out.ini").c_str(), "k", "1"), 1);
}

// A read that fails part-way is no end of the source: the editors leave no destination
// that lacks the rest of it, and read_settings does not report the settings as read.
TEST_F(TextFilesTest, SettingsReadersFailOnAReadErrorPartWay)
{
    std::string source;
    for (int n = 0; source.size() < 9000; n++)
        source += "key" + std::to_string(n) + "=" + std::to_string(n) + "\n";
    ASSERT_TRUE(write_file(at("in.ini"), source));
    for (int editor = 0; editor < 2; editor++) {
        os_inject_fault(OS_FAULT_READ, 2);
        int8_t result = editor == 0 ? remove_setting("in.ini", "out.ini", "key1")
                                    : replace_setting("in.ini", "out.ini", "key1", "9");
        os_inject_fault(OS_FAULT_READ, 0);
        EXPECT_EQ(result, -1) << editor;
        EXPECT_FALSE(os_exists("out.ini")) << editor;
    }
    int value = 0;
    os_inject_fault(OS_FAULT_READ, 2);
    EXPECT_EQ(read_from(source, "r", "key1", "i", &value), -1);
    os_inject_fault(OS_FAULT_READ, 0);
    EXPECT_EQ(value, 1);
}

// ---- Console input ----------------------------------------------------------------------

TEST_F(TextFilesTest, ReadLineCutsAnOverlongLineAndDiscardsItsRest)
{
    FILE *input = input_of("abcdefghijkl\nnext\r\n" + std::string(1000, 'x') + "\nlast");
    ASSERT_NE(input, nullptr);
    char buffer[11];
    EXPECT_STREQ(read_line_from(input, buffer, 10), "abcdefghij");
    EXPECT_STREQ(read_line_from(input, buffer, 10), "next") << "CR is dropped";
    EXPECT_STREQ(read_line_from(input, buffer, 10), "xxxxxxxxxx");
    EXPECT_STREQ(read_line_from(input, buffer, 10), "last");
    EXPECT_STREQ(read_line_from(input, buffer, 10), "") << "the end of input is empty";
    EXPECT_STREQ(read_line_from(input, buffer, 10), "");
    fclose(input);
}

TEST_F(TextFilesTest, ReadLineOfExactlyTheMaximumKeepsTheNextLine)
{
    FILE *input = input_of("0123456789\nnext\n");
    ASSERT_NE(input, nullptr);
    char buffer[11];
    EXPECT_STREQ(read_line_from(input, buffer, 10), "0123456789");
    EXPECT_STREQ(read_line_from(input, buffer, 10), "next");
    fclose(input);
}

TEST_F(TextFilesTest, ReadNumberUsesTheDefaults)
{
    FILE *input = input_of("\n12\n0\nabc\n  -3\n123456789012\n");
    ASSERT_NE(input, nullptr);
    int expected[] = {5, 12, 7, 7, -3, 1234567890, 5, 5};
    for (int value : expected)
        EXPECT_EQ(read_number_from(input, 5, 7), value);
    fclose(input);
}

TEST_F(TextFilesTest, AskDirectoryCleansQuotesAndOneTrailingBackslash)
{
    ASSERT_EQ(os_make_directory(at("my cars").c_str()), 0);
    std::string typed = "\"" + at("my cars") + "\\\"\n" + "\"" + at("my cars") + "\n" +
                        at("my cars") + "\\\n" + at("missing") + "\n\n\"\"\n";
    FILE *input = input_of(typed);
    ASSERT_NE(input, nullptr);
    char buffer[257];
    EXPECT_EQ(ask_directory_from(input, buffer), 1);
    EXPECT_EQ(std::string(buffer), at("my cars"));
    EXPECT_EQ(ask_directory_from(input, buffer), 1) << "no closing quote keeps the rest";
    EXPECT_EQ(std::string(buffer), at("my cars"));
    EXPECT_EQ(ask_directory_from(input, buffer), 1);
    EXPECT_EQ(std::string(buffer), at("my cars"));
    EXPECT_EQ(ask_directory_from(input, buffer), 0);
    EXPECT_EQ(ask_directory_from(input, buffer), 0) << "an empty answer";
    EXPECT_EQ(ask_directory_from(input, buffer), 0) << "an empty quoted answer";
    EXPECT_EQ(ask_directory_from(input, buffer), 0) << "the end of input";
    EXPECT_STREQ(buffer, "");
    fclose(input);
}

TEST_F(TextFilesTest, AskDirectoryCutsAnAnswerLongerThan256Characters)
{
    FILE *input = input_of(std::string(600, 'd') + "\n" + dir + "\n");
    ASSERT_NE(input, nullptr);
    char buffer[257];
    EXPECT_EQ(ask_directory_from(input, buffer), 0);
    EXPECT_EQ(strlen(buffer), 256u);
    EXPECT_EQ(ask_directory_from(input, buffer), 1) << "the rest of the long line is gone";
    fclose(input);
}

// ---- The pager --------------------------------------------------------------------------

static std::string numbered_lines(int count)
{
    std::string text;
    for (int i = 1; i <= count; i++)
        text += "line " + std::to_string(i) + "\r\n";
    return text;
}

static std::string first_lines(int count)
{
    std::string text;
    for (int i = 1; i <= count; i++)
        text += "line " + std::to_string(i) + "\n";
    return text;
}

TEST_F(TextFilesTest, PagerShowsAScreenThenOneLinePerEnterUntilOtherInput)
{
    ASSERT_TRUE(write_file(at("long.txt"), numbered_lines(30)));
    FILE *input = input_of("\n\r\n\nq\n");
    ASSERT_NE(input, nullptr);
    testing::internal::CaptureStdout();
    int8_t result = page_text_stream(at("long.txt").c_str(), input);
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(shown, first_lines(24) + "line 25line 26line 27");
    EXPECT_EQ(getc(input), '\n') << "input after the q stays unread";
    fclose(input);
}

TEST_F(TextFilesTest, PagerReturnsAtOnceAtTheEndOfTheFile)
{
    ASSERT_TRUE(write_file(at("long.txt"), numbered_lines(30)));
    FILE *input = input_of("\n\n\n\n\n\nrest");
    ASSERT_NE(input, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(page_text_stream(at("long.txt").c_str(), input), 0);
    std::string shown = testing::internal::GetCapturedStdout();
    EXPECT_EQ(shown, first_lines(24) + "line 25line 26line 27line 28line 29line 30");
    EXPECT_EQ(getc(input), 'r') << "no input is asked for after the last line";
    fclose(input);
}

TEST_F(TextFilesTest, PagerShowsAShortFileWithoutWaiting)
{
    ASSERT_TRUE(write_file(at("short.txt"), numbered_lines(24)));
    FILE *input = input_of("x");
    ASSERT_NE(input, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(page_text_stream(at("short.txt").c_str(), input), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), first_lines(24));
    EXPECT_EQ(getc(input), 'x');
    fclose(input);
}

TEST_F(TextFilesTest, PagerCountsPiecesOfLongLinesAndStopsAtTheEndOfInput)
{
    std::string long_line(79 * 30, 'w');
    ASSERT_TRUE(write_file(at("wide.txt"), long_line + "\n"));
    FILE *input = input_of("");
    ASSERT_NE(input, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(page_text_stream(at("wide.txt").c_str(), input), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(79 * 24, 'w'));
    fclose(input);
}

TEST_F(TextFilesTest, PagerFailsOnAMissingFile)
{
    EXPECT_EQ(page_text_file(at("missing.txt").c_str()), -1);
}

// ---- File routines ----------------------------------------------------------------------

TEST_F(TextFilesTest, OpenOrExitGivesTheOpenStream)
{
    ASSERT_TRUE(write_file(at("here.txt"), "x"));
    Stream *stream = open_or_exit(at("here.txt").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream_getc(stream), 'x');
    stream_close(stream);
}

TEST_F(TextFilesTest, OpenOrExitEndsTheProgramWithAMessage)
{
    std::string path = at("missing.txt");
    EXPECT_EXIT(open_or_exit(path.c_str(), "r"), testing::ExitedWithCode(1),
                "Can't open .*missing\\.txt .+");
}

TEST_F(TextFilesTest, CreateEmptyFileCreatesOrTruncates)
{
    EXPECT_EQ(create_empty_file(at("new.txt").c_str()), 0);
    EXPECT_EQ(read_file(at("new.txt")), "");
    ASSERT_TRUE(write_file(at("old.txt"), "content"));
    EXPECT_EQ(create_empty_file(at("old.txt").c_str()), 0);
    EXPECT_EQ(read_file(at("old.txt")), "");
    EXPECT_EQ(create_empty_file(at("no\\such\\file.txt").c_str()), -1);
}

TEST(IsValidName, AcceptsEveryAllowedCharacter)
{
    EXPECT_EQ(is_valid_name("0123456789"), 1);
    EXPECT_EQ(is_valid_name("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), 1);
    EXPECT_EQ(is_valid_name("abcdefghijklmnopqrstuvwxyz"), 1);
    EXPECT_EQ(is_valid_name(" !&@_'()%-[]="), 1);
    EXPECT_EQ(is_valid_name("My_Car (2)"), 1);
}

TEST(IsValidName, RefusesTheEmptyTextAndOtherCharacters)
{
    EXPECT_EQ(is_valid_name(""), 0);
    const char *refused[] = {".",  ",",    "/",    "\\",   ":",    "*",    "?", "\"",
                             "\t", "\x01", "\x7f", "\x80", "\xe9", "\xff", "<", ">",
                             "|",  "#",    "$",    "+",    "{",    "~"};
    for (const char *c : refused) {
        std::string name = std::string("car") + c + "x";
        EXPECT_EQ(is_valid_name(name.c_str()), 0) << static_cast<int>(c[0]);
    }
}

TEST_F(TextFilesTest, DetectLineEndingClassifiesTheFirstBreak)
{
    struct Row {
        const char *content;
        int expected;
    } rows[] = {
        {"a\r\nb", 0},  {"a\nb\r\n", 1}, {"\n", 1},        {"a\rb\r\n", 2},
        {"a\r\r\n", 2}, {"abc\r", -1},   {"no break", -1}, {"", -1},
    };
    for (const Row &row : rows) {
        ASSERT_TRUE(write_file(at("f.txt"), row.content));
        EXPECT_EQ(detect_line_ending(at("f.txt").c_str()), row.expected) << row.content;
    }
    EXPECT_EQ(detect_line_ending(at("missing.txt").c_str()), -1);
}
