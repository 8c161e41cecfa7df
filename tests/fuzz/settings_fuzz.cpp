// Fuzz target for settings files: read_settings on a fuzzed file in text or binary mode with
// fuzzed names and letters, then remove_setting and replace_setting on the same file.
//
// Input: flags (bit 0: binary mode), up to four letters, then NUL-separated texts: the name
// list, the key, the value, and the rest is the file.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "os.h"
#include "stream.h"
#include "textfiles.h"

enum { SLOTS = 4, SLOT_SIZE = 256 };

// The storage behind one letter: room for an "s" text, an int or a "p" pointer.
union Slot {
    char text[SLOT_SIZE];
    int number;
    char *copy;
};

static const char letters[] = {'i', 's', 'p', 'x'};

static std::vector<std::string> names_of(const std::string &list)
{
    std::vector<std::string> names;
    size_t at = 0;
    while ((at = list.find_first_not_of(' ', at)) != std::string::npos) {
        size_t end = list.find(' ', at);
        names.push_back(list.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return names;
}

static size_t occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        count++;
    return count;
}

// A "p" letter gets a new copy for every line of its key, and the earlier copies cannot be
// freed; one is taken only for a name that occurs at most once in the whole file, counted
// with the CRs that text mode drops left out, since "wi\rdth" reads as "width" there.
static std::string choose_types(FuzzInput *input, const std::string &names, const std::string &file)
{
    std::string without_cr;
    for (char c : file)
        if (c != '\r')
            without_cr += c;
    std::vector<std::string> list = names_of(names);
    std::string types;
    uint8_t count = take_byte(input) % (SLOTS + 1);
    for (uint8_t k = 0; k < count; k++) {
        char letter = letters[take_byte(input) % sizeof letters];
        if (letter == 'p' && (k >= list.size() || occurrences(without_cr, list[k]) > 1))
            letter = 's';
        types += letter;
    }
    return types;
}

static void check_read(const std::string &path, const std::string &names, const std::string &types,
                       bool binary)
{
    Stream *stream = stream_open(path.c_str(), binary ? "rb" : "r");
    fuzz_check(stream != nullptr, "cannot open the settings file");
    Slot *slots = static_cast<Slot *>(calloc(SLOTS, sizeof(Slot)));
    for (int k = 0; k < SLOTS; k++)
        slots[k].text[SLOT_SIZE - 1] = '\0';
    int8_t result = read_settings(stream, names.c_str(), types.c_str(), &slots[0], &slots[1],
                                  &slots[2], &slots[3]);
    fuzz_check(result == 0 || result == -1, "read_settings gave neither 0 nor -1");
    for (size_t k = 0; k < types.size(); k++) {
        if (types[k] == 's')
            fuzz_check(is_terminated_within(slots[k].text, SLOT_SIZE), "an s value overran");
        if (types[k] == 'p')
            free(slots[k].copy);
    }
    free(slots);
    stream_close(stream);
}

// The bytes of part are those of whole with some left out, in their order.
static bool is_subsequence(const std::string &part, const std::string &whole)
{
    size_t at = 0;
    for (char c : whole)
        if (at < part.size() && part[at] == c)
            at++;
    return at == part.size();
}

static void check_edits(const std::string &path, const std::string &key, const std::string &value,
                        const std::string &file)
{
    std::string out = scratch_folder() + "\\out.ini";
    std::string written;
    int8_t removed = remove_setting(path.c_str(), out.c_str(), key.c_str());
    fuzz_check(removed == 0 || removed == 1, "remove_setting gave neither 0 nor 1");
    fuzz_check(read_bytes(out, &written), "remove_setting made no destination");
    fuzz_check(is_subsequence(written, file), "remove_setting wrote bytes not in the file");
    os_delete_file(out.c_str());

    int8_t replaced = replace_setting(path.c_str(), out.c_str(), key.c_str(), value.c_str());
    fuzz_check(replaced == 0 || replaced == 1, "replace_setting gave neither 0 nor 1");
    if (read_bytes(out, &written) && replaced == 0)
        fuzz_check(written.find(key + "=" + value) != std::string::npos,
                   "replace_setting replaced without writing the setting");
    fuzz_check(replaced == 1 || !written.empty(), "replace_setting replaced into nothing");
    os_delete_file(out.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    uint8_t flags = take_byte(&input);
    FuzzInput letters_part = {input.data, input.size < 5 ? input.size : 5};
    take_bytes(&input, 5);
    std::string names = take_text(&input, 200);
    std::string key = take_text(&input, 100);
    std::string value = take_text(&input, 300);
    std::string file = take_rest(&input);
    std::string types = choose_types(&letters_part, names, file);

    std::string path = scratch_folder() + "\\settings.ini";
    fuzz_check(write_bytes(path, file), "cannot write the settings file");
    check_read(path, names, types, (flags & 1) != 0);
    check_edits(path, key, value, file);
    os_delete_file(path.c_str());
    return 0;
}
