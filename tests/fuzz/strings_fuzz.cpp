// Fuzz target for the string routines that parse: get_field (separate and overlapping
// destination), match_wildcard, copy_line, delete_chars and set_ascii_case, each held to its
// header, and the byte routines to leaving every UTF-8 character whole.
//
// Input: size (2 bytes), separator, copy_line count (2 bytes), delete position (2 bytes),
// delete count (2 bytes), then NUL-separated texts: field source, name, pattern, copy_line
// source, delete_chars text.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "os.h"
#include "strings.h"

// 1 when text is ASCII or well-formed UTF-8.
static bool is_whole_utf8(const char *text)
{
    for (const char *c = text; *c; c++)
        if (static_cast<unsigned char>(*c) >= 0x80)
            return os_text_is_utf8(text) == 1;
    return true;
}

// get_field as its header states it, on a std::string: the field and the offset of the
// next field.
static std::string model_field(const std::string &source, int32_t size, char separator,
                               size_t *next)
{
    size_t start = source.find_first_not_of(separator);
    if (start == std::string::npos)
        start = source.size();
    size_t end = source.find(separator, start);
    if (end == std::string::npos)
        end = source.size();
    size_t after = source.find_first_not_of(separator, end);
    *next = after == std::string::npos ? source.size() : after;
    size_t length = end - start;
    return static_cast<int64_t>(length) < size ? source.substr(start, length) : std::string();
}

static void check_get_field(const std::string &source, int32_t size, char separator)
{
    size_t model_next;
    std::string expected = model_field(source, size, separator, &model_next);
    // A destination of exactly size bytes, so that the sanitizer sees any write beyond it.
    size_t room = size > 0 ? static_cast<size_t>(size) : 1;
    char *dest = static_cast<char *>(malloc(room));
    dest[0] = 'X';
    const char *next = get_field(dest, source.c_str(), size, separator);
    fuzz_check(next != nullptr, "get_field gave null");
    fuzz_check(next == source.c_str() + model_next, "get_field's next field is misplaced");
    if (size > 0) {
        fuzz_check(is_terminated_within(dest, room), "get_field left dest unterminated");
        fuzz_check(expected == dest, "get_field copied another field");
        if (static_cast<unsigned char>(separator) < 0x80 && is_whole_utf8(source.c_str()))
            fuzz_check(is_whole_utf8(dest), "get_field cut a UTF-8 character");
    } else {
        fuzz_check(dest[0] == 'X', "get_field wrote with a size of 0 or less");
    }
    free(dest);

    // dest == source: the same field, the same next position.
    if (size <= 0)
        return;
    char *shared = static_cast<char *>(malloc(source.size() + 1));
    memcpy(shared, source.c_str(), source.size() + 1);
    const char *shared_next = get_field(shared, shared, size, separator);
    fuzz_check(shared_next == shared + model_next, "get_field in place moved the next field");
    fuzz_check(expected == shared, "get_field in place copied another field");
    free(shared);
}

static bool has_wildcards(const std::string &pattern)
{
    return pattern.find_first_of("*?\\") != std::string::npos;
}

static void check_match_wildcard(const std::string &name, const std::string &pattern)
{
    int8_t result = match_wildcard(name.c_str(), pattern.c_str());
    fuzz_check(result == 0 || result == 1, "match_wildcard gave neither 0 nor 1");
    if (!has_wildcards(pattern))
        fuzz_check(result == (name == pattern), "a plain pattern did not match as equality");
    if (!name.empty() && !has_wildcards(name))
        fuzz_check(match_wildcard(name.c_str(), name.c_str()) == 1,
                   "a plain name did not match itself");
}

static void check_copy_line(const std::string &source, uint32_t max_count)
{
    char *dest = static_cast<char *>(malloc(max_count + 1));
    const char *after = copy_line(dest, max_count, source.c_str());
    if (after) {
        size_t taken = after - source.c_str();
        fuzz_check(taken >= 1 && taken <= max_count, "copy_line went past max_count");
        fuzz_check(is_terminated_within(dest, max_count + 1), "copy_line left dest unterminated");
        std::string line = dest;
        fuzz_check(line.size() == taken, "copy_line's line and position disagree");
        fuzz_check(line.back() == '\n', "copy_line's line does not end in LF");
        char end = source[taken - 1];
        fuzz_check(end == '\n' || end == '\r', "copy_line stopped on no line end");
        fuzz_check(line.compare(0, taken - 1, source, 0, taken - 1) == 0,
                   "copy_line changed the line's text");
        fuzz_check(line.find_first_of("\r\n") == taken - 1, "copy_line passed a line end");
    }
    free(dest);
}

static void check_delete_chars(const std::string &text, size_t position, size_t count)
{
    std::string expected = text;
    if (position < text.size())
        expected.erase(position, count);
    char *s = static_cast<char *>(malloc(text.size() + 1));
    memcpy(s, text.c_str(), text.size() + 1);
    fuzz_check(delete_chars(s, position, count) == s, "delete_chars gave another pointer");
    fuzz_check(expected == s, "delete_chars removed other characters");
    free(s);
}

// set_ascii_case changes a to z or A to Z only, every other byte (UTF-8 ones among them)
// stays.
static void check_ascii_case(const std::string &text)
{
    for (AsciiCase to : {ASCII_UPPER, ASCII_LOWER}) {
        std::string expected = text;
        for (char &c : expected) {
            if (to == ASCII_UPPER && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            if (to == ASCII_LOWER && c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        std::string changed = text;
        fuzz_check(set_ascii_case(&changed[0], to) == &changed[0],
                   "set_ascii_case gave another pointer");
        fuzz_check(changed == expected, "set_ascii_case changed a byte that is no ASCII letter");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    int32_t field_size = static_cast<int32_t>(take_u16(&input) % 300) - 2;
    char separator = static_cast<char>(take_byte(&input));
    if (separator == '\0')
        separator = ';';
    uint32_t line_count = take_u16(&input) % 400;
    size_t position = take_u16(&input);
    size_t count = take_u16(&input);
    // The top values stand for the extremes, which a caller may pass.
    if (position == 0xFFFF)
        position = static_cast<size_t>(-1);
    if (count == 0xFFFF)
        count = static_cast<size_t>(-1);
    std::string source = take_text(&input, 1000);
    std::string name = take_text(&input, 300);
    std::string pattern = take_text(&input, 300);
    std::string line_source = take_text(&input, 1000);
    std::string text = take_text(&input, 1000);

    check_get_field(source, field_size, separator);
    check_match_wildcard(name, pattern);
    check_copy_line(line_source, line_count);
    check_delete_chars(text, position, count);
    check_ascii_case(name);
    return 0;
}
