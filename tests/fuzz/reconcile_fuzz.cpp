// Fuzz target for Pelmora's per-file rewrite: reconcile_vehicle_file through a WalkEntry on
// a fuzzed reference file, new file and name. The reference file never changes, no output
// file is left behind, a new file is left byte for byte as it was when either text holds a
// NUL byte, and a rewritten new file holds no line that neither input held.
//
// Input: flags (bits 0-1: the suffix "", ".veh", ".VEH", ".Veh"), the name as a NUL-closed
// text (characters no file system objects to are kept, others mapped onto them), the reference
// file's length (2 bytes) and its bytes, and the rest is the new file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

#include "fuzz_support.h"
#include "os.h"
#include "paths.h"
#include "reconcile.h"

enum { NAME_LENGTH = 40, LONGEST_WHOLE_LINE = 254 };

static const char name_characters[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
static const char *const suffixes[] = {"", ".veh", ".VEH", ".Veh"};

static std::string upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

static std::string lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Windows gives CON, NUL, COM1 and the like, with any extension, to its devices.
static bool is_device_name(const std::string &name)
{
    std::string base = upper(name.substr(0, name.find('.')));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
}

static std::string make_name(const std::string &bytes, uint8_t flags)
{
    std::string name;
    for (unsigned char c : bytes)
        name += c != '\0' && strchr(name_characters, c)
                    ? static_cast<char>(c)
                    : name_characters[c % (sizeof name_characters - 1)];
    name += suffixes[flags & 3];
    // Windows drops trailing dots, and a name of dots alone names a folder.
    if (name.find_first_not_of('.') == std::string::npos || name.back() == '.')
        name += 'v';
    if (is_device_name(name))
        name = "v" + name;
    return name;
}

// The text as text mode reads it: every CR dropped, nothing from a Ctrl-Z on.
static std::string as_read(const std::string &bytes)
{
    std::string text;
    for (char c : bytes) {
        if (c == 26)
            break;
        if (c != '\r')
            text += c;
    }
    return text;
}

// The lines of a text, without their LF; *longest is the length of the longest.
static void add_lines(const std::string &text, std::set<std::string> *lines, size_t *longest)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines->insert(text.substr(at, end - at));
        if (end - at > *longest)
            *longest = end - at;
        at = end + 1;
    }
}

// Lines longer than a line piece are written piece by piece, each judged on its own, so the
// line check holds only for inputs whose lines all fit one piece.
static void check_lines(const std::string &reference, const std::string &current,
                        const std::string &rewritten)
{
    // A NUL would cut a piece short, so such a file is no text to rewrite.
    if (as_read(reference).find('\0') != std::string::npos ||
        as_read(current).find('\0') != std::string::npos) {
        fuzz_check(rewritten == current, "a file holding a NUL byte was changed");
        return;
    }
    std::set<std::string> lines;
    size_t longest = 0;
    add_lines(as_read(reference), &lines, &longest);
    add_lines(as_read(current), &lines, &longest);
    if (longest > LONGEST_WHOLE_LINE)
        return;
    std::set<std::string> written;
    size_t ignored = 0;
    add_lines(as_read(rewritten), &written, &ignored);
    for (const std::string &line : written)
        fuzz_check(lines.count(line) == 1, "the rewritten file holds a line of neither input");
}

static const std::string &folder_below(const char *name)
{
    static std::string folders[2];
    std::string &folder = folders[name[0] == 'r' ? 0 : 1];
    if (folder.empty()) {
        folder = scratch_folder() + "\\" + name;
        fuzz_check(os_make_directory(folder.c_str()) == 0, "cannot make a scratch subfolder");
    }
    return folder;
}

static void remove_subfolders()
{
    os_remove_directory(folder_below("ref").c_str());
    os_remove_directory(folder_below("new").c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    uint8_t flags = take_byte(&input);
    std::string name = make_name(take_text(&input, NAME_LENGTH), flags);
    std::string reference = take_bytes(&input, take_u16(&input));
    std::string current = take_rest(&input);

    static bool prepared = false;
    if (!prepared) {
        scratch_folder();
        folder_below("ref");
        folder_below("new");
        atexit(remove_subfolders);
        prepared = true;
    }
    const std::string &ref_folder = folder_below("ref");
    const std::string &new_folder = folder_below("new");
    std::string ref_path = ref_folder + "\\" + lower(name);
    std::string new_path = new_folder + "\\" + name;
    std::string output_path = new_folder + "\\new_" + lower(name);
    fuzz_check(write_bytes(ref_path, reference), "cannot write the reference file");
    fuzz_check(write_bytes(new_path, current), "cannot write the new file");
    // libFuzzer names its corpus and artifacts relative to the folder it started in.
    char previous[PATH_BUFFER_SIZE];
    fuzz_check(os_get_current_directory(previous, sizeof previous) == 0,
               "cannot read the current folder");
    os_change_directory(new_folder.c_str());

    char directory[PATH_BUFFER_SIZE];
    char entry_name[PATH_BUFFER_SIZE];
    snprintf(directory, sizeof directory, "%s", new_folder.c_str());
    snprintf(entry_name, sizeof entry_name, "%s", name.c_str());
    WalkEntry entry = {entry_name, directory, static_cast<int32_t>(current.size()), 0777,
                       const_cast<char *>(ref_folder.c_str())};
    int8_t result = reconcile_vehicle_file(&entry);
    os_change_directory(previous);
    fuzz_check(result == 0, "reconcile_vehicle_file gave no 0");

    std::string after;
    fuzz_check(read_bytes(ref_path, &after) && after == reference, "the reference file changed");
    fuzz_check(!os_exists(output_path.c_str()), "an output file was left behind");
    fuzz_check(read_bytes(new_path, &after), "the new file is gone");
    if (after != current)
        check_lines(reference, current, after);
    os_delete_file(output_path.c_str());
    os_delete_file(new_path.c_str());
    os_delete_file((new_folder + "\\" + lower(name)).c_str());
    os_delete_file(ref_path.c_str());
    return 0;
}
