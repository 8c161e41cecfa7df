// End-to-end tests of Pelmora: the built program runs in a fresh folder holding a reference
// folder "ref" and a new folder "new", with its answers on standard input.
#include "support.h"

#include <algorithm>
#include <string>
#include <vector>

#include "os.h"
#include "version.h"

static const char REF_HEADING[] =
    "Please specify the directory for '.veh' files for the reference DescFile and DescClass\n";
static const char NEW_HEADING[] =
    "Please specify directory for new '.veh' files to update the same cars.\n";

static const char REFERENCE[] = "Name=ref\r\nDescFile=ref.txt\r\nDescClass=Sport\r\n";
static const char NEW_TEXT[] = "Name=new\r\nDescFile=new.txt\r\nMass=900\r\n";
static const char UPDATED[] = "DescFile=ref.txt\r\nDescClass=Sport\r\nName=new\r\nMass=900\r\n";

// A line of the program's output as it reaches a pipe: each character in the ANSI code page,
// one '?' for each that page lacks (POSIX: the line itself).
static std::string piped(const std::string &utf8)
{
    std::string out;
    for (uint32_t at = 0; at < utf8.size();) {
        uint32_t length = static_cast<uint32_t>(os_char_length(utf8.c_str(), at));
        char character[16];
        snprintf(character, sizeof character, "%s", utf8.substr(at, length).c_str());
        out += os_utf8_to_ansi(character, sizeof character) == 0 ? character : "?";
        at += length;
    }
    return out;
}

class PelmoraRun : public TempFolderTest
{
  protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_EQ(os_make_directory(at("ref").c_str()), 0);
        ASSERT_EQ(os_make_directory(at("new").c_str()), 0);
    }

    ProgramRun run(const std::string &input)
    {
        return run_program(built_program("Pelmora"), "Pelmora", input);
    }

    // The answers naming ref and new by their absolute paths.
    std::string answers() const
    {
        return at("ref") + "\n" + at("new") + "\n";
    }

    // The output after the banner: everything from the first heading on.
    static std::string dialogue(const ProgramRun &run)
    {
        size_t start = run.out.find(REF_HEADING);
        return start == std::string::npos ? "<no heading>" : run.out.substr(start);
    }

    std::string progress(const std::string &name) const
    {
        return at("new") + "\\" + name + "\n";
    }

    // The line that ends a run over new.
    std::string done(int updated, int unchanged, const std::string &folder = "") const
    {
        return "Done in " + (folder.empty() ? at("new") : folder) + ": " + std::to_string(updated) +
               " updated, " + std::to_string(unchanged) + " left unchanged\n";
    }

    // new\car.veh was updated from ref\car.veh with its one line, and the run ended with 0.
    void expect_car_updated(const ProgramRun &result) const
    {
        EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                        "new dir : " + progress("car.veh") + done(1, 0));
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
    }
};

TEST_F(PelmoraRun, AsksBothPromptsAgainAfterRejectedAnswersWithoutAMessage)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    std::string input = "\n" + at("missing") + "\n" + at("ref\\car.veh") + "\n" + at("ref") + "\n" +
                        "\n" + at("new\\car.veh") + "\n" + at("new") + "\n";
    ProgramRun result = run(input);
    ASSERT_EQ(result.started, 1);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(dialogue(result),
              std::string(REF_HEADING) + "ref dir : ref dir : ref dir : ref dir : " + NEW_HEADING +
                  "new dir : new dir : new dir : " + progress("car.veh") + done(1, 0));
    // The banner: an empty line, a title, an empty line, a release line, an empty line.
    const std::string banner = result.out.substr(0, result.out.find(REF_HEADING));
    ASSERT_EQ(std::count(banner.begin(), banner.end(), '\n'), 5) << banner;
    const size_t title_end = banner.find('\n', 1);
    EXPECT_EQ(banner.substr(0, 1), "\n");
    EXPECT_EQ(banner.substr(title_end, 2), "\n\n");
    EXPECT_EQ(banner.substr(banner.size() - 2), "\n\n");
    EXPECT_NE(banner.find("Pelmora"), std::string::npos);
    EXPECT_NE(banner.find(std::string("\n\n") + CARTOOLS_RELEASE_LINE + "\n\n"), std::string::npos)
        << banner;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
}

// What a shell would have changed in an answer names no folder as typed: one line says why
// before the question comes again.
TEST_F(PelmoraRun, SaysWhyAnAnswerAShellWouldHaveChangedNamesNoFolder)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    const struct {
        std::string answer, line;
    } rows[] = {
        {"%USERPROFILE%\\cars", "%USERPROFILE% is not expanded: type the folder's path\n"},
        {"C:\\%CARS%", "%CARS% is not expanded: type the folder's path\n"},
        {"~", "~ is not expanded: type the folder's path\n"},
        {"~/cars", "~ is not expanded: type the folder's path\n"},
        {"file:///C:/cars",
         "file:///C:/cars is an address, not a folder's path: type the folder's path\n"},
        {"File://server/cars",
         "File://server/cars is an address, not a folder's path: type the folder's path\n"},
        {"'" + at("new") + "'",
         "Single quotes are not removed: type '" + at("new") + "' without them\n"},
        {"100%", ""},
        {"~cars", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.answer);
        ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
        ProgramRun result = run("ref\n" + row.answer + "\nnew\n");
        EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                        "new dir : " + row.line +
                                        "new dir : " + progress("car.veh") + done(1, 0));
        EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
    }
}

// The run's lines name an answer's folders with '\\', however the answer separated them.
TEST_F(PelmoraRun, NamesFoldersWithBackslashesWhateverTheAnswerUsed)
{
    ASSERT_EQ(os_make_directory(at("new\\sub").c_str()), 0);
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\sub\\car.veh"), NEW_TEXT));
    std::string slashed = at("new\\sub");
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    for (const std::string &answer : {std::string("new/sub"), slashed}) {
        SCOPED_TRACE(answer);
        ASSERT_TRUE(write_file(at("new\\sub\\car.veh"), NEW_TEXT));
        ProgramRun result = run("ref\n" + answer + "\n");
        EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                        "new dir : " + at("new\\sub") + "\\car.veh\n" +
                                        done(1, 0, at("new\\sub")));
        EXPECT_EQ(read_file(at("new\\sub\\car.veh")), UPDATED);
    }
}

TEST_F(PelmoraRun, AcceptsQuotedAnswersWithATrailingBackslash)
{
    ASSERT_EQ(os_make_directory(at("my ref").c_str()), 0);
    ASSERT_EQ(os_make_directory(at("my new").c_str()), 0);
    ASSERT_TRUE(write_file(at("my ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("my new\\car.veh"), NEW_TEXT));
    ProgramRun result = run("\"" + at("my ref") + "\\\"\n" + "\"" + at("my new") + "\\\"\n");
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + at("my new") + "\\car.veh\n" +
                                    done(1, 0, at("my new")));
    EXPECT_EQ(read_file(at("my new\\car.veh")), UPDATED);
}

// The README's word for this case: each file is its own reference, its key lines up to the
// first DescClass= line move to the top and its later key lines go. The folder is one by
// identity, however spelt: the run's own lock covers both answers.
TEST_F(PelmoraRun, RewritesEachFileAgainstItselfWhenBothAnswersNameOneFolder)
{
    for (const std::string &reference : {at("new"), std::string("new\\.")}) {
        SCOPED_TRACE(reference);
        ASSERT_TRUE(write_file(at("new\\car.veh"),
                               "Name=My Car\r\nDescFile=old.txt\r\nMass=900\r\nDescClass=Old\r\n"
                               "DescFile=later.txt\r\n"));
        ProgramRun result = run(reference + "\n" + at("new") + "\n");
        EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                        "new dir : " + progress("car.veh") + done(1, 0));
        EXPECT_EQ(read_file(at("new\\car.veh")),
                  "DescFile=old.txt\r\nDescClass=Old\r\nName=My Car\r\nMass=900\r\n");
        EXPECT_EQ(names_in(at("new")), std::set<std::string>{"car.veh"});
    }
}

TEST_F(PelmoraRun, MatchesAnUpperCaseNameAgainstItsLowerCaseReference)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\CAR.VEH"), NEW_TEXT));
    ProgramRun result = run(answers());
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + progress("car.veh") + done(1, 0));
    EXPECT_EQ(names_in(at("new")), std::set<std::string>{"CAR.VEH"});
    EXPECT_EQ(read_file(at("new\\CAR.VEH")), UPDATED);
}

// 'MÜLLER.VEH' is the reference of 'müller.veh' on both builds.
TEST_F(PelmoraRun, MatchesAnAccentedNameAgainstItsReferenceInTheOtherCase)
{
    ASSERT_TRUE(write_file(at("ref\\M\u00dcLLER.VEH"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\m\u00fcller.veh"), NEW_TEXT));
    ProgramRun result = run(answers());
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + piped(progress("m\u00fcller.veh")) +
                                    done(1, 0));
    EXPECT_EQ(read_file(at("new\\m\u00fcller.veh")), UPDATED);
}

TEST_F(PelmoraRun, LeavesNamesThatDoNotMatchByteForByteUnchanged)
{
    const char *const untouched[] = {"car.veh.bak", "car.vehx", "readme.txt", ".veh"};
    const std::string text = "Name=new\nDescFile=new.txt\r\nMass=900\r\r\n";
    for (const char *name : untouched) {
        ASSERT_TRUE(write_file(at("ref\\") + name, REFERENCE));
        ASSERT_TRUE(write_file(at("new\\") + name, text));
    }
    ASSERT_TRUE(write_file(at("ref\\x.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\x.Veh"), NEW_TEXT));
    ProgramRun result = run(answers());
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + progress("x.veh") + done(1, 0));
    for (const char *name : untouched)
        EXPECT_EQ(read_file(at("new\\") + name), text) << name;
    EXPECT_EQ(read_file(at("new\\x.Veh")), UPDATED);
}

TEST_F(PelmoraRun, HandlesFilesBesideASubfolderButNeverEntersIt)
{
    ASSERT_EQ(os_make_directory(at("new\\old").c_str()), 0);
    for (const char *name : {"a.veh", "car.veh", "z.veh"}) {
        ASSERT_TRUE(write_file(at("ref\\") + name, REFERENCE));
        ASSERT_TRUE(write_file(at("new\\") + name, NEW_TEXT));
    }
    ASSERT_TRUE(write_file(at("new\\old\\car.veh"), NEW_TEXT));
    ProgramRun result = run(answers());
    for (const char *name : {"a.veh", "car.veh", "z.veh"}) {
        EXPECT_EQ(read_file(at("new\\") + name), UPDATED) << name;
        EXPECT_NE(result.out.find(progress(name)), std::string::npos) << name;
    }
    std::string report = result.out.substr(result.out.find("new dir : ") + 10);
    EXPECT_EQ(report.size(), progress("a.veh").size() + progress("car.veh").size() +
                                 progress("z.veh").size() + done(3, 0).size())
        << "three lines and the count, none from old";
    EXPECT_EQ(read_file(at("new\\old\\car.veh")), NEW_TEXT);
}

TEST_F(PelmoraRun, LeavesAFileWithoutReferenceUnchangedAndUnreported)
{
    ASSERT_TRUE(write_file(at("ref\\other.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), "DescFile=new.txt\nMass=900\n"));
    ProgramRun result = run(answers());
    EXPECT_EQ(dialogue(result),
              std::string(REF_HEADING) + "ref dir : " + NEW_HEADING + "new dir : " + done(0, 0));
    EXPECT_EQ(read_file(at("new\\car.veh")), "DescFile=new.txt\nMass=900\n");
    EXPECT_EQ(names_in(at("new")), std::set<std::string>{"car.veh"});
}

struct KeyLineCase {
    const char *name;
    std::string reference;
    std::string current;
    std::string expected;
};

// A "DescClass=" line of length characters, no line end.
static std::string class_of(size_t length)
{
    return "DescClass=" + std::string(length - 10, 'c');
}

static std::vector<KeyLineCase> key_line_cases()
{
    const std::string long_x(300, 'x'), long_y(260, 'y'), huge(100000, 'h');
    return {
        {"first_class_ends.veh", "DescFile=one\nother\nDescClass=c\nDescFile=two\n", "a\n",
         "DescFile=one\r\nDescClass=c\r\na\r\n"},
        {"no_class.veh", "DescFile=1\nx\nDescFile=2\n", "a\nDescClass=old\n",
         "DescFile=1\r\nDescFile=2\r\na\r\n"},
        {"new_keys_anywhere.veh", "DescFile=r\nDescClass=rc\n",
         "first\nDescFile=old\nsecond\nDescClass=old\n",
         "DescFile=r\r\nDescClass=rc\r\nfirst\r\nsecond\r\n"},
        {"key_after_text.veh", "// DescFile=r\n;DescClass=rc\nDescFile=late\n",
         "a\n# DescFile=old\nb;DescClass=old\n", "// DescFile=r\r\n;DescClass=rc\r\na\r\n"},
        {"lower_case_keys.veh", "descfile=x\nDescFile=r\ndescclass=y\nDescClass=rc\n",
         "descfile=keep\ndescclass=keep\nDescClass=old\n",
         "DescFile=r\r\nDescClass=rc\r\ndescfile=keep\r\ndescclass=keep\r\n"},
        {"both_keys_in_one_line.veh", "DescFile=a DescClass=b\nDescFile=c\n", "a\n",
         "DescFile=a DescClass=b\r\nDescFile=a DescClass=b\r\na\r\n"},
        {"reference_without_last_line_end.veh", "DescFile=r\r\nDescClass=rc", "a\r\n",
         "DescFile=r\r\nDescClass=rc\r\na\r\n"},
        {"new_without_last_line_end.veh", "DescClass=rc\n", "a\nb", "DescClass=rc\r\na\r\nb"},
        // Every line end ends a line, a lone CR too, and each becomes CR LF.
        {"line_ends.veh", "DescClass=rc\r\n", "lf\ncrlf\r\nlone\rcr\n",
         "DescClass=rc\r\nlf\r\ncrlf\r\nlone\r\ncr\r\n"},
        {"cr_only.veh", "DescFile=ref.txt\rDescClass=Sport\r",
         "Name=My Car\rDescFile=old.txt\rMass=900\rDescClass=Old\r",
         "DescFile=ref.txt\r\nDescClass=Sport\r\nName=My Car\r\nMass=900\r\n"},
        {"mixed_ends.veh", "DescClass=rc\n", "Mass=900\rWeight=1\r\nx\r\r\ny\n\rz",
         "DescClass=rc\r\nMass=900\r\nWeight=1\r\nx\r\n\r\ny\r\n\r\nz"},
        // Ctrl-Z characters that end the file are dropped, as DOS editors' end marks.
        {"trailing_ctrl_z.veh", "DescClass=rc\r\n\x1a", "a\r\nb\r\n\x1a\x1a",
         "DescClass=rc\r\na\r\nb\r\n"},
        {"ctrl_z_ends_last_line.veh", "DescClass=rc\x1a", "a\r\nb\x1a", "DescClass=rc\r\na\r\nb"},
        // A UTF-8 mark at the start belongs to no line: the result has one when the file had.
        {"mark_in_new.veh", "DescClass=rc\n", "\xEF\xBB\xBFName=My Car\r\nDescFile=x\r\n",
         "\xEF\xBB\xBF"
         "DescClass=rc\r\nName=My Car\r\n"},
        {"mark_in_both.veh",
         "\xEF\xBB\xBF"
         "DescClass=rc\r\n",
         "\xEF\xBB\xBF"
         "a\r\n",
         "\xEF\xBB\xBF"
         "DescClass=rc\r\na\r\n"},
        {"mark_in_reference.veh",
         "\xEF\xBB\xBF"
         "DescFile=r\r\n",
         "a\n", "DescFile=r\r\na\r\n"},
        // Lines are tested and written whole, whatever their length.
        {"long_line.veh", "DescClass=rc\n", long_x + "\nend\n",
         "DescClass=rc\r\n" + long_x + "\r\nend\r\n"},
        {"long_line_key_late.veh", "DescClass=rc\n", long_y + "DescFile=old\nnext\n",
         "DescClass=rc\r\nnext\r\n"},
        {"long_reference_key_line.veh", "DescFile=" + long_x + "\nDescClass=GT\n", "a\n",
         "DescFile=" + long_x + "\r\nDescClass=GT\r\na\r\n"},
        {"very_long_line.veh", "DescClass=" + huge + "\n", huge + "\r" + huge,
         "DescClass=" + huge + "\r\n" + huge + "\r\n" + huge},
        // A last key line without a line end gets one, whatever its length.
        {"last_key_line_of_255.veh", "DescFile=r\n" + class_of(255), "a\n",
         "DescFile=r\r\n" + class_of(255) + "\r\na\r\n"},
        {"last_key_line_of_256.veh", "DescFile=r\n" + class_of(256), "a\n",
         "DescFile=r\r\n" + class_of(256) + "\r\na\r\n"},
        {"last_line_with_both_keys.veh", "DescFile=r " + class_of(244), "a\n",
         "DescFile=r " + class_of(244) + "\r\nDescFile=r " + class_of(244) + "\r\na\r\n"},
    };
}

TEST_F(PelmoraRun, RewritesEachFileFromTheReferenceKeyLinesAndItsOtherLines)
{
    std::vector<KeyLineCase> cases = key_line_cases();
    for (const KeyLineCase &c : cases) {
        ASSERT_TRUE(write_file(at("ref\\") + c.name, c.reference));
        ASSERT_TRUE(write_file(at("new\\") + c.name, c.current));
    }
    ProgramRun result = run(answers());
    EXPECT_EQ(result.exit_status, 0);
    for (const KeyLineCase &c : cases) {
        EXPECT_EQ(read_file(at("new\\") + c.name), c.expected) << c.name;
        EXPECT_NE(result.out.find(progress(c.name)), std::string::npos) << c.name;
    }
    EXPECT_EQ(names_in(at("new")).size(), cases.size()) << "no output file is left behind";
}

// The text between a message's fixed start and end: the system's words for a failure.
static std::string between(const std::string &out, const std::string &start, const std::string &end)
{
    size_t first = out.find(start);
    size_t last = first == std::string::npos ? first : out.find(end, first + start.size());
    return last == std::string::npos
               ? "<no such line>"
               : out.substr(first + start.size(), last - first - start.size());
}

// A folder named like the output file keeps it from being created: one line says so with the
// system's words, and the files after it are still handled.
TEST_F(PelmoraRun, SaysWhenAnOutputFileCannotBeCreated)
{
    ASSERT_EQ(os_make_directory(at("new\\car.veh.pelmora").c_str()), 0);
    for (const char *name : {"car.veh", "van.veh"}) {
        ASSERT_TRUE(write_file(at("ref\\") + name, REFERENCE));
        ASSERT_TRUE(write_file(at("new\\") + name, NEW_TEXT));
    }
    ProgramRun result = run(answers());
    const std::string start = "Could not create " + at("new\\car.veh.pelmora") + ": ";
    const std::string end = "; " + at("new\\car.veh") + " left unchanged\n";
    const std::string reason = between(result.out, start, end);
    EXPECT_FALSE(reason.empty() || reason.find('\n') != std::string::npos) << result.out;
    // The two files come in the order the folder lists them (Wine: as the host stores them).
    const std::string failed = start + reason + end, updated = progress("van.veh");
    const std::string report = std::string(REF_HEADING) + "ref dir : " + NEW_HEADING + "new dir : ";
    EXPECT_TRUE(dialogue(result) == report + failed + updated + done(1, 1) ||
                dialogue(result) == report + updated + failed + done(1, 1))
        << result.out;
    EXPECT_EQ(result.exit_status, 1) << "a file was left unchanged";
    EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
    EXPECT_EQ(read_file(at("new\\van.veh")), UPDATED);
}

// The progress line comes only once the file is updated; the failed copy back names the file,
// the system's reason and the file that keeps the text.
TEST_F(PelmoraRun, KeepsBothFilesWhenAReadOnlyFileCannotBeUpdated)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    ASSERT_EQ(os_set_attributes(at("new\\car.veh").c_str(), OS_ATTR_READONLY), 0);
    ProgramRun result = run(answers());
    os_set_attributes(at("new\\car.veh").c_str(), 0);
    const std::string start = "Could not update " + at("new\\car.veh") + ": ";
    const std::string end = "; its updated text is kept in " + at("new\\car.veh.pelmora") + "\n";
    const std::string reason = between(result.out, start, end);
    EXPECT_FALSE(reason.empty() || reason.find('\n') != std::string::npos) << result.out;
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + start + reason + end + done(0, 1));
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
    EXPECT_EQ(read_file(at("new\\car.veh.pelmora")), UPDATED);
}

// Linux only: entries Windows cannot have. A FIFO would make the read wait for ever; two names
// that differ only in case are one name to the program, so neither is touched.
TEST_F(PelmoraRun, LeavesEntriesWindowsCannotTellApartOrThatAreNoFilesUnchanged)
{
    if (os_program_suffix[0] != '\0')
        GTEST_SKIP() << "Windows has neither FIFOs nor names that differ only in case";
    for (const char *name : {"car.veh", "pipe.veh", "van.veh", "\u00e4rger.veh"})
        ASSERT_TRUE(write_file(at("ref\\") + name, REFERENCE));
    for (const char *name : {"car.veh", "\u00e4rger.veh"})
        ASSERT_TRUE(write_file(at("new\\") + name, NEW_TEXT));
    ASSERT_TRUE(write_file(at("other"), "Other=1\r\n"));
    ASSERT_TRUE(write_file(at("other2"), "Other=1\r\n"));
    ASSERT_TRUE(write_file(at("new\\van.veh"), NEW_TEXT));
    // The OS layer would find car.veh for CAR.VEH: the second name is made outside it.
    for (const char *command :
         {"mv other new/CAR.VEH", "mv other2 new/\u00c4RGER.VEH", "mkfifo new/pipe.veh"}) {
        const std::string tool = std::string(command).substr(0, std::string(command).find(' '));
        ProgramRun made = run_program("Z:\\usr\\bin\\" + tool, command);
        ASSERT_EQ(made.exit_status, 0) << command << ": " << made.err;
    }
    ProgramRun result = run(answers());
    for (const char *line : {"Skipped %s\\car.veh: another name in its folder differs from it "
                             "only in case\n",
                             "Skipped %s\\CAR.VEH: another name in its folder differs from it "
                             "only in case\n",
                             "Skipped %s\\\u00e4rger.veh: another name in its folder differs "
                             "from it only in case\n",
                             "Skipped %s\\\u00c4RGER.VEH: another name in its folder differs "
                             "from it only in case\n",
                             "Skipped %s\\pipe.veh: it is not a regular file\n"}) {
        char expected[512];
        snprintf(expected, sizeof expected, line, at("new").c_str());
        EXPECT_NE(result.out.find(expected), std::string::npos) << expected << result.out;
    }
    EXPECT_NE(result.out.find(progress("van.veh")), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(done(1, 5)), std::string::npos) << result.out;
    EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
    EXPECT_EQ(read_file(at("new\\CAR.VEH")), "Other=1\r\n");
    EXPECT_EQ(read_file(at("new\\van.veh")), UPDATED);
}

// Cars have names such as "new_beetle.veh" (a New Beetle beside a Beetle): each is a car,
// updated from its own reference or, without one, left alone and unreported, never taken for
// an output file of an interrupted run, whatever the file of the other name holds.
TEST_F(PelmoraRun, TakesFilesNamedNewUnderscoreForCarsOfTheirOwn)
{
    ASSERT_TRUE(write_file(at("ref\\beetle.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("ref\\new_beetle.veh"), "DescFile=nb\r\nDescClass=NB\r\n"));
    ASSERT_TRUE(write_file(at("ref\\golf.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\beetle.veh"), "")); // a placeholder, still empty
    ASSERT_TRUE(write_file(at("new\\new_beetle.veh"), NEW_TEXT));
    ASSERT_TRUE(write_file(at("new\\golf.veh"), NEW_TEXT));
    ASSERT_TRUE(write_file(at("new\\new_golf.veh"), "leftover\n"));
    ProgramRun result = run(answers());
    EXPECT_EQ(read_file(at("new\\beetle.veh")), "DescFile=ref.txt\r\nDescClass=Sport\r\n");
    EXPECT_EQ(read_file(at("new\\new_beetle.veh")),
              "DescFile=nb\r\nDescClass=NB\r\nName=new\r\nMass=900\r\n");
    EXPECT_EQ(read_file(at("new\\golf.veh")), UPDATED);
    EXPECT_EQ(read_file(at("new\\new_golf.veh")), "leftover\n");
    for (const char *name : {"beetle.veh", "new_beetle.veh", "golf.veh"})
        EXPECT_NE(result.out.find(progress(name)), std::string::npos) << name << result.out;
    EXPECT_EQ(result.out.find("new_golf"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(done(3, 0)), std::string::npos) << result.out;
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(names_in(at("new")),
              (std::set<std::string>{"beetle.veh", "new_beetle.veh", "golf.veh", "new_golf.veh"}));
}

// Answers saved by Notepad with a UTF-8 mark: the mark is no part of the first answer.
TEST_F(PelmoraRun, SkipsAUtf8MarkAtTheStartOfItsInput)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    ProgramRun result = run("\xEF\xBB\xBF" + answers());
    expect_car_updated(result);
}

// A folder dropped on the program's icon arrives as an argument: one line says it is not
// used, and the questions follow as always. Input from a pipe is never asked to go on.
TEST_F(PelmoraRun, SaysItTakesNoArgumentsAndAsksForTheFolders)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    ProgramRun result =
        run_program(built_program("Pelmora"), "Pelmora \"" + at("new") + "\"", answers());
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + progress("car.veh") + done(1, 0));
    const std::string line = "Pelmora takes no command-line arguments and ignores them; it asks "
                             "for the two folders.\n";
    EXPECT_NE(result.out.find(line + REF_HEADING), std::string::npos) << result.out;
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
}

TEST_F(PelmoraRun, ResolvesRelativeAnswersAgainstTheStartFolder)
{
    ASSERT_EQ(os_make_directory(at("new\\ref").c_str()), 0);
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\ref\\car.veh"), "DescFile=wrong\nDescClass=wrong\n"));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    ProgramRun result = run("ref\nnew\\\n");
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + progress("car.veh") + done(1, 0));
    EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
}

// '\folder' is rooted on the current drive: it names the same folder wherever the walk is.
TEST_F(PelmoraRun, TakesAnswersRootedWithoutADriveAsTheyAre)
{
    ASSERT_EQ(dir.substr(1, 2), ":\\");
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    const std::string reference = at("ref").substr(2), folder = at("new").substr(2);
    ProgramRun result = run(reference + "\n" + folder + "\n");
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + folder + "\\car.veh\n" + done(1, 0, folder));
    EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
}

TEST_F(PelmoraRun, EndsWithAMessageWhenInputEndsBeforeBothAnswers)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    const std::string inputs[] = {"", "missing\n\n", at("ref") + "\n", at("ref") + "\nnope\n"};
    for (const std::string &input : inputs) {
        ProgramRun result = run(input);
        ASSERT_EQ(result.started, 1);
        EXPECT_EQ(result.exit_status, 1) << input;
        EXPECT_NE(result.err.find("input ended"), std::string::npos) << input;
        EXPECT_EQ(result.out.find(progress("car.veh")), std::string::npos) << input;
    }
    EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
}

// A new folder whose path leaves room for names up to a known length: the paths of
// "<folder>\<name>.pelmora" must fit in 255 characters, so the longest name handled is 8
// characters shorter than the longest name that fits the folder alone.
TEST_F(PelmoraRun, SkipsAFileWhosePathIsTooLongWithAMessageNamingIt)
{
    const std::string folder = at(std::string(180 - dir.size(), 'n'));
    ASSERT_EQ(folder.size(), 181u);
    ASSERT_EQ(os_make_directory(folder.c_str()), 0);
    const std::string fits = std::string(255 - 181 - 1 - 8 - 4, 'f') + ".veh";
    const std::string too_long = std::string(255 - 181 - 1 - 8 - 3, 'g') + ".veh";
    ASSERT_EQ((folder + "\\" + fits + ".pelmora").size(), 255u);
    for (const std::string &name : {fits, too_long}) {
        ASSERT_TRUE(write_file(at("ref\\") + name, REFERENCE));
        ASSERT_TRUE(write_file(folder + "\\" + name, NEW_TEXT));
    }
    ProgramRun result = run(at("ref") + "\n" + folder + "\n");
    EXPECT_EQ(result.exit_status, 1) << "a file was left unchanged";
    EXPECT_EQ(read_file(folder + "\\" + fits), UPDATED);
    EXPECT_NE(result.out.find(folder + "\\" + fits + "\n"), std::string::npos);
    EXPECT_EQ(read_file(folder + "\\" + too_long), NEW_TEXT);
    EXPECT_NE(result.out.find("Skipped " + folder + "\\" + too_long + ": the path is too long\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(names_in(folder).size(), 2u);
}

// The longest folders that can hold a car: "<ref>\\a.veh" and "<new>\\a.veh.pelmora" fit in
// 255 characters. A folder one longer, and a line longer than any answer can be, are named
// at once and asked again; when the input then ends, the run ends with status 1.
TEST_F(PelmoraRun, SaysAtOnceWhenAFolderNameIsTooLongForAnyCar)
{
    const std::string reference = at(std::string(249 - dir.size() - 1, 'r'));
    const std::string folder = at(std::string(241 - dir.size() - 1, 'n'));
    ASSERT_EQ(reference.size(), 249u);
    ASSERT_EQ(folder.size(), 241u);
    const std::string longer_reference = reference + "x", longer_folder = folder + "x";
    for (const std::string &name : {reference, folder, longer_reference, longer_folder})
        ASSERT_EQ(os_make_directory(name.c_str()), 0) << name;
    ASSERT_TRUE(write_file(reference + "\\a.veh", REFERENCE));
    ASSERT_TRUE(write_file(folder + "\\a.veh", NEW_TEXT));
    const std::string line = std::string(300, 'x');
    ProgramRun result = run(line + "\n" + longer_reference + "\n" + reference + "\n" +
                            longer_folder + "\n" + folder + "\n");
    EXPECT_EQ(dialogue(result),
              std::string(REF_HEADING) + "ref dir : Folder name too long: " + line.substr(0, 255) +
                  "...\nref dir : Folder name too long: " + longer_reference + "\nref dir : " +
                  NEW_HEADING + "new dir : Folder name too long: " + longer_folder +
                  "\nnew dir : " + folder + "\\a.veh\n" + done(1, 0, folder));
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file(folder + "\\a.veh"), UPDATED);
    ProgramRun ended = run(reference + "\n" + longer_folder + "\n");
    EXPECT_EQ(dialogue(ended), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                   "new dir : Folder name too long: " + longer_folder +
                                   "\nnew dir : ");
    EXPECT_EQ(ended.exit_status, 1);
    EXPECT_NE(ended.err.find("input ended"), std::string::npos);
}

// PowerShell 5 saves answers ("ref","new" > answers.txt) as UTF-16 after a byte order mark,
// 'cmd /u' writes them without one: one line says how to save them instead, and nothing
// changes.
TEST_F(PelmoraRun, RefusesAnswersSavedAsUtf16InOneLine)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    for (const char *mark : {"\xFF\xFE", "\xFE\xFF", ""}) {
        std::string utf16 = mark;
        for (char c : at("ref") + "\r\n" + at("new") + "\r\n") {
            char pair[2] = {c, '\0'};
            if (mark[0] == '\xFE')
                std::swap(pair[0], pair[1]);
            utf16.append(pair, 2);
        }
        ProgramRun result = run(utf16);
        EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : ");
        EXPECT_EQ(result.err, "Pelmora: the answers are UTF-16 text, not plain text: save them "
                              "as ANSI or UTF-8; nothing changed.\n");
        EXPECT_EQ(result.exit_status, 1);
    }
    EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
}

// ---- One run per folder ------------------------------------------------------------------

// What this test holds while Pelmora runs, standing for another Pelmora at work: the lock
// file of a folder, or the folder itself, shared (a run that reads it as its reference) or
// exclusive (a run that rewrites it). A lock file nobody holds is what a killed run leaves,
// taken over when it is empty; the reference folder's lock file is never looked at. Another
// program's lock on a folder (flock -x, which starts Pelmora while it holds it; POSIX only,
// as Windows tells no holder apart) is not taken for another Pelmora.
enum Holder { LOCK_LEFT, LOCK_HELD, FOLDER_SHARED, FOLDER_EXCLUSIVE, OTHER_PROGRAM };
struct LockCase {
    const char *folder;  // the folder concerned: "new" or "ref"
    Holder holder;       // what is held there
    const char *stopped; // the line of a run that stops ("" when it goes on)
};

TEST_F(PelmoraRun, StopsWhenAnotherPelmoraWorksOnEitherFolderAndTakesOverALockLeftBehind)
{
    // Windows cannot tell another run from any program that holds the lock file open.
    const bool posix = os_program_suffix[0] == '\0';
    const char *const in_new = "Another Pelmora is working in %s; nothing changed.\n";
    const char *const lock_in_new =
        posix ? in_new
              : "Pelmora.lock in %s is open in another program (another Pelmora, or a viewer); "
                "nothing changed.\n";
    const char *const in_ref =
        "Another Pelmora is working in the reference folder %s; nothing changed.\n";
    const LockCase cases[] = {
        {"new", LOCK_HELD, lock_in_new},    {"ref", LOCK_HELD, ""},
        {"new", LOCK_LEFT, ""},             {"ref", LOCK_LEFT, ""},
        {"new", FOLDER_SHARED, in_new},     {"new", FOLDER_EXCLUSIVE, in_new},
        {"ref", FOLDER_EXCLUSIVE, in_ref},  {"ref", FOLDER_SHARED, ""},
        {"new", OTHER_PROGRAM, "%s is held by another program; nothing changed.\n"},
        {"ref", OTHER_PROGRAM,
         "The reference folder %s is held by another program; nothing changed.\n"},
    };
    auto unix_form = [](std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path.substr(2);
    };
    for (const LockCase &row : cases) {
        SCOPED_TRACE(std::string(row.folder) + " " + std::to_string(row.holder));
        if (row.holder == OTHER_PROGRAM && !posix)
            continue;
        ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
        ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
        const std::string lock_file = at(row.folder) + "\\Pelmora.lock";
        OsRunLock lock = {-1, ""};
        OsFolderHold hold = {-1, {0, 0}};
        if (row.holder == LOCK_HELD) {
            ASSERT_EQ(os_lock_take(lock_file.c_str(), &lock, nullptr, nullptr, 0), 0);
        } else if (row.holder == LOCK_LEFT) { // a killed Pelmora leaves its lock file empty
            ASSERT_TRUE(write_file(lock_file, row.folder[0] == 'r' ? "killed run" : ""));
        } else if (row.holder != OTHER_PROGRAM) {
            ASSERT_EQ(os_folder_hold(
                          at(row.folder).c_str(),
                          row.holder == FOLDER_SHARED ? OS_HOLD_SHARED : OS_HOLD_EXCLUSIVE, &hold),
                      0);
        }
        // Relative answers, named by full paths.
        ProgramRun result =
            row.holder != OTHER_PROGRAM
                ? run("ref\nnew\n")
                : run_program("Z:\\usr\\bin\\flock.",
                              "flock -x " + unix_form(at(row.folder)) + " " +
                                  unix_form(built_program("Pelmora")),
                              "ref\nnew\n");
        os_folder_release(&hold);
        if (row.stopped[0]) {
            char line[512];
            snprintf(line, sizeof line, row.stopped, at(row.folder).c_str());
            EXPECT_EQ(dialogue(result),
                      std::string(REF_HEADING) + "ref dir : " + NEW_HEADING + "new dir : " + line);
            EXPECT_EQ(result.exit_status, 1);
            EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
        } else {
            expect_car_updated(result);
        }
        std::set<std::string> left = {"car.veh"};
        if (row.holder == LOCK_HELD && strcmp(row.folder, "new") == 0)
            left.insert("Pelmora.lock");
        EXPECT_EQ(names_in(at("new")), left);
        if (row.holder == LOCK_HELD) {
            EXPECT_EQ(read_file(lock_file), "");
        }
        if (row.holder == LOCK_LEFT && strcmp(row.folder, "ref") == 0) {
            EXPECT_EQ(read_file(lock_file), "killed run")
                << "nothing in the reference folder is touched";
        }
        os_lock_release(&lock);
        os_delete_file(lock_file.c_str());
        EXPECT_EQ(read_file(at("ref\\car.veh")), REFERENCE);
    }
}


// A reference folder from elsewhere may hold anything named Pelmora.lock: a FIFO, whose
// opening would wait for ever, is never opened (Linux; Wine shows it too where it can be made).
TEST_F(PelmoraRun, NeverOpensTheReferenceFoldersLockFile)
{
    if (!run_host_tool("mkfifo ref/Pelmora.lock") ||
        os_exists(at("ref\\Pelmora.lock").c_str()) != 1)
        GTEST_SKIP() << "no mkfifo to make a FIFO";
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    expect_car_updated(run(answers()));
}

// A Pelmora.lock in the new folder that is no plain file of its own, made with the system's
// own tools on both targets: one line says what it is, and nothing is touched, there or
// outside.
TEST_F(PelmoraRun, ChangesNothingWhenItsLockFileIsNoPlainFileOfItsOwn)
{
    const struct {
        const char *make; // run in the test folder
        const char *said;
    } rows[] = {
        {"mkdir new/Pelmora.lock", "is a folder: move it away"},
        {"ln -s ../outside.txt new/Pelmora.lock",
         "is a symbolic link or junction: remove the link (not what it leads to)"},
        {"mkfifo new/Pelmora.lock", "is a pipe or a device, not a file: remove it"},
        {"", "holds text of another program: move it away"},
    };
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
    ASSERT_TRUE(write_file(at("outside.txt"), "user's notes"));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.said);
        if (row.make[0]) {
            ASSERT_TRUE(run_host_tool(row.make)) << row.make;
        } else {
            ASSERT_TRUE(write_file(at("new\\Pelmora.lock"), "a note"));
        }
        ProgramRun result = run(answers());
        EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                        "new dir : Pelmora.lock in " + at("new") + " " +
                                        row.said + "; nothing changed.\n");
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(read_file(at("new\\car.veh")), NEW_TEXT);
        EXPECT_EQ(read_file(at("outside.txt")), "user's notes");
        EXPECT_EQ(names_in(at("new")), (std::set<std::string>{"Pelmora.lock", "car.veh"}));
        ASSERT_TRUE(run_host_tool("rm -rf new/Pelmora.lock"));
    }
}

// ---- Answers as the system reads them ----------------------------------------------------

// 'D:' is the current folder of drive D and 'D:new' a folder inside it, here on the drive
// the test runs on ('Z:' natively): the files read and written are those of the folder meant.
TEST_F(PelmoraRun, ResolvesDriveRelativeAnswersToTheFoldersTheyName)
{
    const std::string drive = dir.substr(0, 2), below_root = dir.substr(3) + "\\";
// Started at the drive's root, the folders are named with one '\\' after the drive.
    struct {
        std::string start; // the folder Pelmora starts in
        std::string reference, folder;
    } cases[] = {
        {dir, at("ref"), drive + "new"},
        {dir, drive + "ref", drive + "new\\"},
        {at("new"), drive + "..\\ref", drive},
        {drive + "\\", below_root + "ref", drive + below_root + "new"},
        {drive + "\\", drive + below_root + "ref", below_root + "new"},
    };
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    for (const auto &row : cases) {
        SCOPED_TRACE(row.reference + " / " + row.folder);
        ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
        ASSERT_EQ(os_change_directory(row.start.c_str()), 0);
        ProgramRun result = run(row.reference + "\n" + row.folder + "\n");
        ASSERT_EQ(os_change_directory(dir.c_str()), 0);
        expect_car_updated(result);
    }
}

// Windows opens "new " as "new" but lists no folder of that name: the name it opens is used,
// on both targets. An answer whose folder lists as written (Windows lists "new.") stays so.
// A tab left behind an answer (a batch file's echo, a copied name) is dropped the same way.
TEST_F(PelmoraRun, DropsTrailingBlanksAndDotsOfAnAnswerThatNamesNoFolderAsWritten)
{
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    for (const char *tail : {" ", "  ", ".", " . ", "\t", " \t ", "\t."}) {
        SCOPED_TRACE(std::string("'") + tail + "'");
        ASSERT_TRUE(write_file(at("new\\car.veh"), NEW_TEXT));
        ProgramRun result = run(at("ref") + tail + "\n" + at("new") + tail + "\n");
        const std::string start =
            std::string(REF_HEADING) + "ref dir : " + NEW_HEADING + "new dir : ";
        const std::string trimmed = at("new"), written = trimmed + tail;
        const bool blanks_only = std::string(tail).find('.') == std::string::npos;
        if (blanks_only ||
            dialogue(result) != start + written + "\\car.veh\n" + done(1, 0, written)) {
            EXPECT_EQ(dialogue(result), start + progress("car.veh") + done(1, 0));
        }
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(read_file(at("new\\car.veh")), UPDATED);
    }
}

// ---- What reaches the screen -------------------------------------------------------------

// A file name from a download may hold terminal controls: they are printed visibly. Windows
// names hold no bytes below 32, but DEL (127).
TEST_F(PelmoraRun, ShowsControlCharactersOfFileNamesVisibly)
{
    const bool posix = os_program_suffix[0] == '\0';
    struct {
        const char *name, *shown;
        bool everywhere;
    } cases[] = {
        {"\x7fvan.veh", "^?van.veh", true},
        {"\x1b]0;x\a\x1b[2j\x1b[31mcar.veh", "^[]0;x^G^[[2j^[[31mcar.veh", false},
        {"b\bx.veh", "b^Hx.veh", false},
    };
    for (const auto &row : cases)
        if (row.everywhere || posix) {
            ASSERT_TRUE(write_file(at("ref\\") + row.name, REFERENCE));
            ASSERT_TRUE(write_file(at("new\\") + row.name, NEW_TEXT));
        }
    ProgramRun result = run(answers());
    int updated = 0;
    for (const auto &row : cases)
        if (row.everywhere || posix) {
            EXPECT_NE(result.out.find(progress(row.shown)), std::string::npos) << row.shown;
            EXPECT_EQ(read_file(at("new\\") + row.name), UPDATED) << row.shown;
            updated++;
        }
    EXPECT_NE(result.out.find(done(updated, 0)), std::string::npos) << result.out;
    EXPECT_TRUE(std::none_of(result.out.begin(), result.out.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 32 && c != '\n') || c == 127;
    })) << result.out;
}

// ---- Names in any script -----------------------------------------------------------------

// The folders of a run in one script or another, and what each file becomes. In cp932 the
// second byte of 'カ' (83 4A) is a capital J and of 'ソ' (83 5C) and '表' (95 5C) a
// backslash: cars whose names differ there are two cars, each updated from its own
// reference, and a leftover output file of 'ソ.veh' is deleted and made again.
class PelmoraCodePage : public PelmoraRun
{
  protected:
    struct Car {
        const char *name, *reference, *current, *updated;
    };

    static const Car *cars()
    {
        static const Car list[] = {
            {"\u30ab\u30fc.veh", "DescFile=ka.txt\r\nDescClass=Ka\r\n", NEW_TEXT,
             "DescFile=ka.txt\r\nDescClass=Ka\r\nName=new\r\nMass=900\r\n"},
            {"\u30cb\u30fc.veh", "DescFile=ni.txt\r\nDescClass=Ni\r\n", NEW_TEXT,
             "DescFile=ni.txt\r\nDescClass=Ni\r\nName=new\r\nMass=900\r\n"},
            {"\u30bd.veh", REFERENCE, NEW_TEXT, UPDATED},
            {nullptr, nullptr, nullptr, nullptr}};
        return list;
    }

    // Lays out both folders afresh, with an output file of 'ソ.veh' cut short.
    void lay_out(const std::string &reference, const std::string &folder)
    {
        remove_all(at(reference));
        remove_all(at(folder));
        ASSERT_EQ(os_make_directory(at(reference).c_str()), 0) << reference;
        ASSERT_EQ(os_make_directory(at(folder).c_str()), 0) << folder;
        for (const Car *car = cars(); car->name; car++) {
            ASSERT_TRUE(write_file(at(reference + "\\" + car->name), car->reference));
            ASSERT_TRUE(write_file(at(folder + "\\" + car->name), car->current));
        }
        ASSERT_TRUE(write_file(at(folder + "\\\u30bd.veh.pelmora"), std::string(UPDATED, 20)));
    }

    // Every car of folder updated from its own reference, the leftover gone, one line each
    // and the count, status 0; nothing made beside the two folders (a lock file above).
    void expect_all_updated(const ProgramRun &result, const std::string &folder,
                            const std::set<std::string> &folders)
    {
        const std::string path = at(folder);
        std::set<std::string> names;
        for (const Car *car = cars(); car->name; car++) {
            EXPECT_EQ(read_file(path + "\\" + car->name), car->updated) << car->name;
            EXPECT_NE(result.out.find(piped(path + "\\" + car->name + "\n")), std::string::npos)
                << car->name << "\n" << result.out;
            names.insert(car->name);
        }
        EXPECT_NE(result.out.find(piped("Making " + path + "\\\u30bd.veh.pelmora again: an "
                                        "interrupted run left it unfinished\n")),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find(piped(done(3, 0, path))), std::string::npos) << result.out;
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(names_in(path), names) << "no output or lock file is left";
        EXPECT_EQ(names_in(dir), folders) << "nothing is made beside the folders";
    }
};

TEST_F(PelmoraCodePage, UpdatesEachCarInFoldersNamedInAnyScript)
{
    const struct {
        const char *reference, *folder;
    } rows[] = {
        {"\u30bd\u30d5\u30c8", "\u80fd"}, // ソフト and 能 (83 5C ... and 94 5C in cp932)
        {"\u80fd", "\u30bd\u30d5\u30c8"},
        {"Wy\u015bcigi", "\u0413\u043e\u043d\u043a\u0438"}, // Wyścigi and Гонки
        {"\u0413\u043e\u043d\u043a\u0438", "Wy\u015bcigi"},
        {"Caf\u00e9", "\u8868"}, // Café and 表
    };
    std::set<std::string> folders = {"ref", "new"};
    for (const auto &row : rows) {
        folders.insert(row.reference);
        folders.insert(row.folder);
        std::string answers[2] = {at(row.reference), at(row.folder)};
        // The same answers through a pipe in UTF-8 and, where the page has them, in ANSI.
        for (int ansi = 0; ansi < 2; ansi++) {
            SCOPED_TRACE(std::string(row.reference) + " / " + row.folder + (ansi ? " ANSI" : ""));
            if (ansi && (os_ansi_length(answers[0].c_str()) < 0 ||
                         os_ansi_length(answers[1].c_str()) < 0))
                continue;
            lay_out(row.reference, row.folder);
            std::string input;
            for (std::string answer : answers) {
                char line[1024];
                snprintf(line, sizeof line, "%s", answer.c_str());
                ASSERT_EQ(ansi ? os_utf8_to_ansi(line, sizeof line) : 0, 0);
                input += std::string(line) + "\n";
            }
            expect_all_updated(run(input), row.folder, folders);
        }
    }
}

// A link (or a subst drive) may lead to a folder whose final path is past 255 characters: the
// cars there are updated as anywhere else.
TEST_F(PelmoraRun, UpdatesTheCarsOfAFolderReachedThroughALinkToADeepOne)
{
    const std::string deep = "deep/" + std::string(200, 'd') + "/" + std::string(100, 'e');
    if (!run_host_tool("mkdir -p " + deep + " && ln -s " + deep + " short"))
        GTEST_SKIP() << "no mkdir or ln to make a deep folder and a link to it";
    ASSERT_TRUE(write_file(at("ref\\car.veh"), REFERENCE));
    ASSERT_TRUE(write_file(at("short\\car.veh"), NEW_TEXT));
    ProgramRun result = run(at("ref") + "\n" + at("short") + "\n");
    EXPECT_EQ(dialogue(result), std::string(REF_HEADING) + "ref dir : " + NEW_HEADING +
                                    "new dir : " + at("short") + "\\car.veh\n" +
                                    done(1, 0, at("short")));
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(read_file(at("short\\car.veh")), UPDATED);
}
