// Fuzz target for Pelmora's answers, read from standard input (a file put in its place).
// Mode 0: read_directory_name, called until the input ends, checked against a model of each
// line (UTF-16 text, too long, quotes, a trailing backslash, a folder or not). Mode 1: the whole
// dialogue, pelmora_main, on answers that name nothing outside the scratch folder (relative
// names and 'Z:' drive-relative ones, no ".."), over a reference and a new folder of one car:
// it ends with 0 or 1 and leaves no lock file or output file behind. The question whether to go
// on is asked at a console only: mode 2 asks it of every line of the input (answer_is_yes),
// checked against a model (the line, blanks, tabs and CRs around it dropped, is "y" or "yes" in
// any case).
//
// Input: the mode (1 byte, 0 to 2 from its value modulo 3), then the answers.
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>

#include "dialogue.h"
#include "fuzz_support.h"
#include "os.h"
#include "paths.h"

enum { CALLS_MAX = 40, PIPED_LINE_BYTES = 800, CONVERTED_SIZE = PIPED_LINE_BYTES * 3 + 4 };

static const char ANSWERS[] = "answers.txt";
static const char REFERENCE_TEXT[] = "DescFile=ref.dsc\r\nDescClass=REF\r\n";
static const char NEW_TEXT[] = "// note\r\nDescFile=old.dsc\r\nDescClass=OLD\r\nrest\r\n";

// Makes the answers standard input, read from the scratch folder, which becomes current.
static void answer_with(const std::string &answers)
{
    fuzz_check(os_change_directory(scratch_folder().c_str()) == 0,
               "cannot enter the scratch folder");
    fuzz_check(write_bytes(scratch_folder() + "\\" + ANSWERS, answers), "cannot write the answers");
    fuzz_check(freopen(ANSWERS, "rb", stdin) != nullptr, "cannot read the answers");
}

// The layer skips a UTF-8 mark only at the very start of the input: one line read first
// leaves every later input to be read as it is.
static void start_input_once()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    answer_with("\n");
    char buffer[PATH_BUFFER_SIZE];
    read_directory_name(buffer);
}

// A line as the layer gives it: UTF-8 as it is, any other line without a NUL read in the
// ANSI code page (POSIX: as it is).
static std::string as_given(const std::string &line)
{
    bool beyond_ascii = false;
    for (char c : line)
        beyond_ascii |= static_cast<unsigned char>(c) >= 0x80;
    if (line.find('\0') != std::string::npos || !beyond_ascii || os_text_is_utf8(line.c_str()))
        return line;
    char converted[CONVERTED_SIZE];
    snprintf(converted, sizeof converted, "%s", line.c_str());
    return os_ansi_to_utf8(converted, sizeof converted) == 0 ? converted : line;
}

static bool starts_with_utf16_mark(const std::string &text)
{
    return text.compare(0, 2, "\xff\xfe") == 0 || text.compare(0, 2, "\xfe\xff") == 0;
}

// The name an answer stands for: an opening quote ends it at the next one, and one trailing
// backslash is dropped.
static std::string cleaned(std::string text)
{
    if (!text.empty() && text[0] == '"') {
        size_t closing = text.find('"', 1);
        text = text.substr(1, closing == std::string::npos ? std::string::npos : closing - 1);
    }
    if (!text.empty() && text.back() == '\\')
        text.pop_back();
    return text;
}

// Checks one answer read from raw, a line without its LF.
static void check_answer(const std::string &raw, int result, const char *buffer)
{
    fuzz_check(is_terminated_within(buffer, PATH_BUFFER_SIZE), "read_directory_name overran");
    bool has_nul = raw.find('\0') != std::string::npos;
    // A line longer than a piped piece is converted piece by piece on Windows.
    if (raw.size() >= PIPED_LINE_BYTES) {
        fuzz_check(has_nul ? result == READ_NAME_UTF16
                           : result == READ_NAME_UTF16 || result == READ_NAME_TOO_LONG,
                   "a long line read as an answer");
        return;
    }
    std::string line;
    for (char c : as_given(raw))
        if (c != '\r')
            line += c;
    if (has_nul || starts_with_utf16_mark(line)) {
        fuzz_check(result == READ_NAME_UTF16, "UTF-16 text taken for an answer");
        fuzz_check(line.compare(0, strlen(buffer), buffer) == 0, "UTF-16 text kept otherwise");
        return;
    }
    if (line.size() >= PATH_BUFFER_SIZE || os_utf16_length(line.c_str()) > PATH_UNITS_MAX) {
        fuzz_check(result == READ_NAME_TOO_LONG, "a long answer taken");
        fuzz_check(line.compare(0, strlen(buffer), buffer) == 0 && strlen(buffer) > 0 &&
                       os_utf16_length(buffer) <= PATH_UNITS_MAX,
                   "a long answer kept otherwise");
        return;
    }
    std::string name = cleaned(line);
    fuzz_check(name == buffer, "an answer cleaned otherwise");
    OsFileStatus status;
    bool folder =
        !name.empty() && os_file_status(name.c_str(), &status) == 0 && status.is_directory;
    fuzz_check(result == (folder ? 1 : 0), "a folder told otherwise");
}

static void check_read_directory_name(const std::string &answers)
{
    answer_with(answers);
    size_t at = 0;
    for (int call = 0; call < CALLS_MAX; call++) {
        char buffer[PATH_BUFFER_SIZE];
        int result = read_directory_name(buffer);
        if (at >= answers.size()) {
            fuzz_check(result == -1 && buffer[0] == '\0', "an answer after the end of input");
            return;
        }
        size_t end = answers.find('\n', at);
        if (end == std::string::npos)
            end = answers.size();
        check_answer(answers.substr(at, end - at), result, buffer);
        at = end + 1;
    }
}

// 1 when answer can name nothing outside the current folder: relative, or the current
// folder's drive and a relative name ('Z:new'), with no ".." and no other ':'.
static bool stays_inside(const std::string &answer)
{
    std::string name = (answer.compare(0, 1, "\"") == 0 ? answer.substr(1) : answer) + '\0';
    char drive = static_cast<char>(scratch_folder()[0] | 0x20);
    if (static_cast<char>(name[0] | 0x20) == drive && name[1] == ':')
        name = name.substr(2);
    return name.find(':') == std::string::npos && name.find("..") == std::string::npos &&
           name[0] != '\\' && name[0] != '/';
}

static std::set<std::string> names_in(const std::string &folder)
{
    std::set<std::string> names;
    OsDirList *list = os_list_open(folder.c_str());
    OsDirEntry entry;
    while (list && os_list_next(list, &entry))
        names.insert(entry.name);
    if (list)
        os_list_close(list);
    return names;
}

static void check_dialogue(const std::string &answers)
{
    for (size_t at = 0; at <= answers.size();) {
        size_t end = answers.find('\n', at);
        if (end == std::string::npos)
            end = answers.size();
        if (!stays_inside(answers.substr(at, end - at)))
            return;
        at = end + 1;
    }
    const std::string top = scratch_folder();
    os_change_directory(top.c_str());
    os_make_directory("ref");
    os_make_directory("new");
    os_make_directory("new\\sub");
    fuzz_check(write_bytes(top + "\\ref\\car.veh", REFERENCE_TEXT) &&
                   write_bytes(top + "\\new\\car.veh", NEW_TEXT),
               "cannot lay out the car");
    answer_with(answers);
    const std::set<std::string> in_top = names_in(top), in_new = names_in(top + "\\new"),
                                in_reference = names_in(top + "\\ref");
    int status = pelmora_main(0);
    fuzz_check(status == 0 || status == 1, "an exit status other than 0 or 1");
    fuzz_check(names_in(top) == in_top && names_in(top + "\\new") == in_new &&
                   names_in(top + "\\ref") == in_reference,
               "a lock file or an output file left behind");
    os_change_directory(top.c_str());
    os_delete_file("ref\\car.veh");
    os_delete_file("new\\car.veh");
    os_remove_directory("new\\sub");
    os_remove_directory("new");
    os_remove_directory("ref");
}

static bool is_yes(std::string line)
{
    const char *blanks = " \t\r";
    size_t first = line.find_first_not_of(blanks);
    line = first == std::string::npos
               ? ""
               : line.substr(first, line.find_last_not_of(blanks) - first + 1);
    for (char &c : line)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return line == "y" || line == "yes";
}

static void check_yes(const std::string &answers)
{
    answer_with(answers);
    size_t at = 0;
    for (int call = 0; call < CALLS_MAX && at <= answers.size(); call++) {
        size_t end = answers.find('\n', at);
        if (end == std::string::npos)
            end = answers.size();
        bool yes = answer_is_yes() == 1;
        fuzz_check(yes == is_yes(as_given(answers.substr(at, end - at))), "a yes told otherwise");
        at = end + 1;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    int mode = take_byte(&input) % 3;
    std::string answers = take_rest(&input);
    start_input_once();
    if (mode == 0)
        check_read_directory_name(answers);
    else if (mode == 1)
        check_dialogue(answers);
    else
        check_yes(answers);
    // What a run left unread would open the next input.
    while (os_read_input_char() != EOF) {
    }
    os_change_directory(scratch_folder().c_str());
    os_delete_file(ANSWERS);
    return 0;
}
