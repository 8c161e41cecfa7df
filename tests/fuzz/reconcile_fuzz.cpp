// Fuzz target for Pelmora's per-file rewrite: reconcile_vehicle_file through a WalkEntry on
// a fuzzed reference file, new file and name, checked against a model written here on its own.
// The reference file never changes and no output file is left behind. When the name matches
// "*.veh", both texts are readable (no NUL before the first Ctrl-Z, nothing but Ctrl-Z after
// it) and the reference has a key line, the new file becomes exactly: its UTF-8 mark if it had
// one, the reference's key lines up to its first "DescClass=" line, then every other line of
// the new file, each whole and in order, with CR LF line ends. Otherwise it stays byte for byte
// as it was. With a leftover laid (flag bit 2), the output file holds the text made from the
// new file with an older reference, and the new file only its start (flag bits 3-7 tell how
// much): the run finishes the file from it and then updates it from the reference, or makes the
// output again, or leaves both as they are; a strict start finishes.
//
// Input: flags (bits 0-1: the suffix "", ".veh", ".VEH", ".Veh"; bit 2: a leftover; bits 3-7:
// the share of it the new file holds, in 31sts), the name as a NUL-closed
// text (characters no file system objects to are kept, others mapped onto them, bytes from 128
// on onto letters of other scripts), the reference
// file's length (2 bytes) and its bytes, and the rest is the new file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "os.h"
#include "paths.h"
#include "reconcile.h"
#include "strings.h"

enum { NAME_LENGTH = 40 };

static const char name_characters[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
// Bytes from 128 on stand for letters beyond ASCII, in UTF-8: cp932 gives 'カ' and 'ニ' one
// first byte and a second that is a capital or not, 'ソ' and '表' a second that is a backslash.
static const char *const wide_characters[] = {"\u30ab", "\u30cb", "\u30bd", "\u8868",
                                              "\u00fc", "\u00dc", "\u0413", "\u015b"};
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
    const size_t wide_count = sizeof wide_characters / sizeof wide_characters[0];
    for (unsigned char c : bytes)
        if (c >= 0x80)
            name += wide_characters[c % wide_count];
        else
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

// A file as the model reads it: its mark, and its lines with whether a line end closed each.
struct ModelText {
    bool readable;
    bool mark;
    std::vector<std::pair<std::string, bool>> lines;
};

static ModelText model_read(const std::string &bytes)
{
    ModelText text = {true, bytes.compare(0, 3, "\xEF\xBB\xBF") == 0, {}};
    std::string body = bytes.substr(text.mark ? 3 : 0);
    size_t ctrl_z = body.find('\x1a');
    if (ctrl_z != std::string::npos) {
        if (body.find_first_not_of('\x1a', ctrl_z) != std::string::npos)
            text.readable = false;
        body.resize(ctrl_z);
    }
    if (body.find('\0') != std::string::npos)
        text.readable = false;
    size_t at = 0;
    while (at < body.size()) {
        size_t end = body.find_first_of("\r\n", at);
        if (end == std::string::npos) {
            text.lines.push_back({body.substr(at), false});
            break;
        }
        text.lines.push_back({body.substr(at, end - at), true});
        if (body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n')
            end++;
        at = end + 1;
    }
    return text;
}

static bool is_key_line(const std::string &line)
{
    return line.find("DescFile=") != std::string::npos ||
           line.find("DescClass=") != std::string::npos;
}

// What the new file must hold after the run.
static std::string model_result(const std::string &name, const std::string &reference,
                                const std::string &current)
{
    ModelText keys = model_read(reference), own = model_read(current);
    if (match_wildcard(lower(name).c_str(), "*.veh") != 1 || !keys.readable || !own.readable)
        return current;
    std::string taken;
    for (const auto &line : keys.lines) {
        if (line.first.find("DescFile=") != std::string::npos)
            taken += line.first + "\r\n";
        if (line.first.find("DescClass=") != std::string::npos) {
            taken += line.first + "\r\n";
            break;
        }
    }
    if (taken.empty())
        return current;
    std::string result = (own.mark ? "\xEF\xBB\xBF" : "") + taken;
    for (const auto &line : own.lines)
        if (!is_key_line(line.first))
            result += line.first + (line.second ? "\r\n" : "");
    return result;
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
    std::string output_path = new_folder + "\\" + lower(name) + ".pelmora";
    const std::string older =
        model_result(name, "DescFile=older.txt\r\nDescClass=Old\r\n", current);
    const bool leftover = (flags & 4) != 0;
    const std::string cut = older.substr(0, older.size() * (flags >> 3) / 31);
    fuzz_check(write_bytes(ref_path, reference), "cannot write the reference file");
    fuzz_check(write_bytes(new_path, leftover ? cut : current), "cannot write the new file");
    fuzz_check(!leftover || write_bytes(output_path, older), "cannot write the leftover");
    // libFuzzer names its corpus and artifacts relative to the folder it started in.
    char previous[OS_PATH_SIZE];
    fuzz_check(os_get_current_directory(previous, sizeof previous) == 0,
               "cannot read the current folder");
    os_change_directory(new_folder.c_str());

    char directory[PATH_BUFFER_SIZE];
    char entry_name[OS_NAME_SIZE];
    snprintf(directory, sizeof directory, "%s", new_folder.c_str());
    snprintf(entry_name, sizeof entry_name, "%s", name.c_str());
    static char final[OS_PATH_SIZE];
    fuzz_check(final[0] || os_final_path(new_folder.c_str(), final, sizeof final) == 0,
               "cannot resolve the new folder");
    ReconcileRun run = {
        ref_folder.c_str(), final, nullptr, 0, nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr};
    WalkEntry entry = {entry_name, directory, static_cast<int32_t>(current.size()), 0777, &run};
    int8_t result = reconcile_vehicle_file(&entry);
    os_change_directory(previous);
    fuzz_check(result == 0, "reconcile_vehicle_file gave no 0");

    std::string after;
    fuzz_check(read_bytes(ref_path, &after) && after == reference, "the reference file changed");
    fuzz_check(read_bytes(new_path, &after), "the new file is gone");
    if (leftover) {
        std::string kept;
        bool output_kept = read_bytes(output_path, &kept);
        const std::string finished = model_result(name, reference, older);
        fuzz_check(!output_kept || kept == older, "the leftover changed");
        fuzz_check(output_kept ? after == cut
                               : after == finished || after == model_result(name, reference, cut),
                   "the new file is neither finished, made again nor left as it was");
        fuzz_check(!(model_result(name, reference, current) != current && !cut.empty() &&
                     cut.size() < older.size()) ||
                       (after == finished && !output_kept),
                   "a cut-short copy back was not finished and updated");
    } else {
        fuzz_check(!os_exists(output_path.c_str()), "an output file was left behind");
        fuzz_check(after == model_result(name, reference, current),
                   "the new file is not what the model makes of it");
    }
    fuzz_check(run.updated + run.unchanged <= 1, "one file counted twice");
    os_delete_file(output_path.c_str());
    os_delete_file(new_path.c_str());
    os_delete_file((new_folder + "\\" + lower(name)).c_str());
    os_delete_file(ref_path.c_str());
    return 0;
}
