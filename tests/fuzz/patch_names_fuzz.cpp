// Fuzz target for patch_names on a fuzzed file with fuzzed name tables: the file keeps its
// size, every byte before its last 300 and every NUL byte, and a changed byte lies in a text
// that equalled an old name.
//
// Input: the number of pairs (one byte), then that many old and new names as NUL-separated
// texts (each cut to 31 characters), and the rest is the file.
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "os.h"
#include "patch.h"

enum { WINDOW = 300 };

typedef char Table[NAME_TABLE_ENTRIES][NAME_SIZE];

static void fill_tables(FuzzInput *input, Table old_names, Table new_names)
{
    memset(old_names, 0, sizeof(Table));
    memset(new_names, 0, sizeof(Table));
    int pairs = take_byte(input) % (NAME_TABLE_ENTRIES + 1);
    for (int k = 0; k < pairs; k++) {
        std::string old_name = take_text(input, NAME_SIZE - 1);
        std::string new_name = take_text(input, NAME_SIZE - 1);
        memcpy(old_names[k], old_name.c_str(), old_name.size() + 1);
        memcpy(new_names[k], new_name.c_str(), new_name.size() + 1);
    }
}

static bool is_old_name(const std::string &text, Table old_names)
{
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++)
        if (text == old_names[k])
            return true;
    return false;
}

// Every byte that changed lies in a NUL-closed text of the window that equals an old name.
static void check_changes(const std::string &before, const std::string &after, Table old_names)
{
    size_t start = before.size() > WINDOW ? before.size() - WINDOW : 0;
    fuzz_check(before.compare(0, start, after, 0, start) == 0,
               "patch_names changed a byte before the last 300");
    size_t text_start = start;
    for (size_t at = start; at < before.size(); at++) {
        if (before[at] == '\0') {
            fuzz_check(after[at] == '\0', "patch_names overwrote a NUL byte");
            std::string text = before.substr(text_start, at - text_start);
            bool changed = text != after.substr(text_start, at - text_start);
            fuzz_check(!changed || is_old_name(text, old_names),
                       "patch_names changed a text that is no old name");
            text_start = at + 1;
        }
    }
    fuzz_check(
        before.compare(text_start, std::string::npos, after, text_start, std::string::npos) == 0,
        "patch_names changed a text that no NUL closes");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    static Table old_names, new_names;
    fill_tables(&input, old_names, new_names);
    std::string before = take_rest(&input);

    std::string path = scratch_folder() + "\\CAR.VRL";
    fuzz_check(write_bytes(path, before), "cannot write the file");
    patch_names(path.c_str(), old_names, new_names);
    std::string after;
    fuzz_check(read_bytes(path, &after), "cannot read the file back");
    fuzz_check(after.size() == before.size(), "patch_names changed the file's size");
    check_changes(before, after, old_names);
    os_delete_file(path.c_str());
    return 0;
}
