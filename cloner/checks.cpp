// The checks a job makes before it changes anything: archive names, folders, bitmap pairs,
// and whether the unpacked archive holds the .VRL files its name leads to.
#include "checks.h"

#include <stdio.h>
#include <string.h>

#include "filecopy.h"
#include "os.h"
#include "paths.h"
#include "strings.h"
#include "workfolder.h"

static void append_names(LeftOut *left_out, const char *names)
{
    size_t used = strlen(left_out->names);
    if (used >= 4 && strcmp(left_out->names + used - 4, " ...") == 0)
        return;
    const char *comma = used > 0 ? ", " : "";
    int written =
        snprintf(left_out->names + used, sizeof left_out->names - used, "%s%s", comma, names);
    if (written < 0 || (size_t)written >= sizeof left_out->names - used) {
        // Cut where " ..." still fits, so the line says that names are missing.
        size_t end = sizeof left_out->names - 5;
        snprintf(left_out->names + end, 5, "%s", " ...");
    }
}

void note_left_out(LeftOut *left_out, const char *name)
{
    left_out->count++;
    append_names(left_out, name);
}

static const char *skip_blanks(const char *text)
{
    while (*text == ' ')
        text++;
    return text;
}

// The blank-separated name that list starts with, in name (PATH_BUFFER_SIZE bytes), with
// "\" for "/", for a message; "" when it is longer than that holds.
static const char *first_name(char *name, const char *list)
{
    get_field(name, list, PATH_BUFFER_SIZE, ' ');
    to_backslashes(name);
    return name;
}

// Notes every pair from old_next and new_next on as left out: by its old name, or by its
// new name once the old list has ended.
static void leave_out_rest(const char *old_next, const char *new_next, LeftOut *left_out)
{
    char name[PATH_BUFFER_SIZE];
    old_next = skip_blanks(old_next);
    new_next = skip_blanks(new_next);
    while (*old_next || *new_next) {
        note_left_out(left_out, first_name(name, *old_next ? old_next : new_next));
        if (*old_next)
            old_next = skip_blanks(get_field(name, old_next, sizeof name, ' '));
        if (*new_next)
            new_next = skip_blanks(get_field(name, new_next, sizeof name, ' '));
    }
}

// Takes the blank-separated name that list starts with into entry (NAME_SIZE bytes), with
// "\\" for "/": "" when it is longer than NAME_MAX for the archive tool. Result: the next name.
static const char *take_name(char *entry, const char *list)
{
    const char *next = get_field(entry, list, NAME_SIZE, ' ');
    to_backslashes(entry);
    if (tool_name_length(entry) > NAME_MAX)
        entry[0] = '\0';
    return skip_blanks(next);
}

int fill_name_tables(const char *old_list, const char *new_list, char old_names[][NAME_SIZE],
                     char new_names[][NAME_SIZE], LeftOut *left_out)
{
    memset(old_names, 0, NAME_TABLE_ENTRIES * NAME_SIZE);
    memset(new_names, 0, NAME_TABLE_ENTRIES * NAME_SIZE);
    const char *old_next = skip_blanks(old_list);
    const char *new_next = skip_blanks(new_list);
    int count = 0;
    char name[PATH_BUFFER_SIZE];
    while (*old_next && *new_next && count < NAME_TABLE_ENTRIES - 1) {
        const char *old_name = old_next, *new_name = new_next;
        old_next = take_name(old_names[count], old_next);
        new_next = take_name(new_names[count], new_next);
        if (old_names[count][0] == '\0') {
            new_names[count][0] = '\0';
            os_print("Old bitmap name too long (%d characters at most), it and the pairs after it "
                     "are skipped: %s\n",
                     NAME_MAX, shown(first_name(name, old_name)));
            leave_out_rest(old_name, new_name, left_out);
            return count;
        }
        count++;
    }
    if (*old_next && *new_next) {
        os_print("More than %d bitmap pairs, the pairs from %s on are skipped\n", count,
               shown(first_name(name, old_next)));
        leave_out_rest(old_next, new_next, left_out);
        return count;
    }
    LeftOut unpaired = {0, ""};
    leave_out_rest(old_next, new_next, &unpaired);
    if (unpaired.count > 0) {
        os_print("Bitmap names without a partner in the other list, left out: %s\n",
               shown(unpaired.names));
        left_out->count += unpaired.count;
        append_names(left_out, unpaired.names);
    }
    return count;
}

int is_plain_name(const char *name)
{
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return 0;
    return name[0] != '\0' && strpbrk(name, "\\/:") == nullptr;
}

int drop_foreign_names(char old_names[][NAME_SIZE], char new_names[][NAME_SIZE], LeftOut *left_out)
{
    int kept = 0;
    for (int k = 0; k < NAME_TABLE_ENTRIES && old_names[k][0] != '\0'; k++) {
        if (!is_plain_name(old_names[k])) {
            os_print("Old bitmap name is not a name inside the archive, pair skipped: %s\n",
                   shown(old_names[k]));
            note_left_out(left_out, old_names[k]);
            continue;
        }
        // The archive tool and the .VRL files take names in the ANSI code page only.
        const char *formless = os_ansi_length(old_names[k]) < 0   ? old_names[k]
                               : os_ansi_length(new_names[k]) < 0 ? new_names[k]
                                                                  : nullptr;
        if (formless) {
            os_print("Bitmap name has no form in this system's ANSI code page, pair left out: "
                     "%s\n",
                     shown(formless));
            note_left_out(left_out, old_names[k]);
            continue;
        }
        if (kept != k) {
            memcpy(old_names[kept], old_names[k], NAME_SIZE);
            memcpy(new_names[kept], new_names[k], NAME_SIZE);
        }
        kept++;
    }
    for (int k = kept; k < NAME_TABLE_ENTRIES; k++)
        old_names[k][0] = new_names[k][0] = '\0';
    return kept;
}

// Windows gives these names to devices in every folder, whatever their extension: no file
// of such a name can be made, and what is read from or written to it goes to the device.
static int is_device_part(const char *part, size_t size)
{
    static const char *const devices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    size_t base = strcspn(part, ".\\/");
    if (base > size)
        base = size;
    for (const char *device : devices)
        if (base == strlen(device) && same_ignoring_case(part, device, base))
            return 1;
    if ((base != 4 && base != 5) ||
        !(same_ignoring_case(part, "com", 3) || same_ignoring_case(part, "lpt", 3)))
        return 0;
    // The superscript one, two and three count as digits here: U+00B9, U+00B2 and U+00B3,
    // in UTF-8 or as the single bytes of code page 1252.
    unsigned char digit = (unsigned char)part[base - 1];
    int superscript = digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
    if (base == 5)
        return (unsigned char)part[3] == 0xC2 && superscript;
    return (digit >= '1' && digit <= '9') || superscript;
}

int names_a_device(const char *path)
{
    for (const char *part = path; *part;) {
        size_t size = strcspn(part, "\\/");
        if (is_device_part(part, size))
            return 1;
        part += size;
        if (*part)
            part++;
    }
    return 0;
}

int is_tool_safe_name(const char *name)
{
    if (name[0] == '\0')
        return 0;
    for (size_t i = 0; name[i] != '\0'; i++) {
        unsigned char c = (unsigned char)name[i];
        if (c < 32 || strchr(" \"<>|?*", c) != nullptr)
            return 0;
        // A drive's colon; anywhere else Windows takes it for a stream of a file.
        char drive = name[0];
        int is_letter = (drive >= 'a' && drive <= 'z') || (drive >= 'A' && drive <= 'Z');
        if (c == ':' && !(i == 1 && is_letter))
            return 0;
    }
    return 1;
}

int is_work_folder_archive(const char *name)
{
    size_t length = strlen(name);
    if (name[0] == '\\' || name[0] == '/' || strchr(name, ':') != nullptr || length < 4 ||
        !same_ignoring_case(name + length - 4, ".mas", 4) || names_a_device(name))
        return 0;
    int leading = 1;
    for (const char *part = name; *part;) {
        size_t size = strcspn(part, "\\/");
        // Windows drops the dots that end a component: "tmp." is "tmp", "..." climbs.
        size_t kept = size;
        while (kept > 0 && part[kept - 1] == '.')
            kept--;
        if (size >= 2 && kept == 0)
            return 0;
        if (leading && kept == 3 && same_ignoring_case(part, "tmp", 3))
            return 0;
        leading = leading && size == 1 && part[0] == '.';
        part += size;
        if (*part)
            part++;
    }
    return 1;
}

int archive_names_refused(const char *old_mas, const char *new_mas)
{
    const char *names[2] = {old_mas, new_mas};
    for (const char *name : names)
        if (os_ansi_length(name) < 0) {
            os_print("%s not made: %s has no form in this system's ANSI code page\n",
                     shown(new_mas), shown(name));
            return 1;
        }
    for (const char *name : names)
        if (tool_name_length(name) > ARCHIVE_NAME_MAX) {
            os_print("%s not made: archive name too long (%d characters at most): %s\n",
                   shown(new_mas), ARCHIVE_NAME_MAX, shown(name));
            return 1;
        }
    for (const char *name : names)
        if (names_a_device(name)) {
            os_print("%s not made: '%s' is the name of a Windows device, not of a file\n",
                   shown(new_mas), shown(name));
            return 1;
        }
    for (const char *name : names)
        if (!is_tool_safe_name(name)) {
            os_print("%s not made: '%s' holds a blank, a quote or a character a file name cannot "
                   "hold\n",
                   shown(new_mas), shown(name));
            return 1;
        }
    if (!is_work_folder_archive(new_mas)) {
        say_not_made(new_mas, "a new archive must be a .mas file inside the work folder");
        return 1;
    }
    return 0;
}

// 1 when the folder of new_mas is a link that leads nowhere yet: it may lead into the
// scratch folder, which the job has not made yet.
static int folder_link_dangles(const char *new_mas)
{
    char copy[PATH_BUFFER_SIZE], folder[PATH_BUFFER_SIZE], resolved[OS_PATH_SIZE];
    snprintf(copy, sizeof copy, "%s", new_mas);
    directory_of(folder, copy);
    return os_is_link(folder) == 1 && os_final_path(folder, resolved, sizeof resolved) != 0;
}

// 1 when the new archive has no place to go: its folder is missing, or it names a folder.
static int new_archive_misplaced(const char *new_mas)
{
    char copy[PATH_BUFFER_SIZE], folder[PATH_BUFFER_SIZE];
    snprintf(copy, sizeof copy, "%s", new_mas);
    to_backslashes(copy);
    directory_of(folder, copy);
    OsFileStatus status;
    if (os_file_status(folder, &status) != 0 || !status.is_directory) {
        os_print("%s not made: the folder %s does not exist\n", shown(new_mas), shown(folder));
        return 1;
    }
    if (os_file_status(new_mas, &status) == 0 && status.is_directory) {
        say_not_made(new_mas, "a folder of that name is in the way");
        return 1;
    }
    return 0;
}

// 1 when a link would take the job outside the work folder, having said so in one line:
// "tmp" is a symbolic link or a junction (the tool would write where it leads), or
// new_mas's folder, resolved, lies outside the work folder, resolved.
static int leads_elsewhere(const char *new_mas)
{
    if (os_is_link("tmp") == 1) {
        os_print("%s not made: the scratch folder '%s\\tmp' is a link or junction: remove it\n",
               shown(new_mas), shown(work_folder));
        return 1;
    }
    char copy[PATH_BUFFER_SIZE], folder[PATH_BUFFER_SIZE], resolved[OS_PATH_SIZE];
    snprintf(copy, sizeof copy, "%s", new_mas);
    directory_of(folder, copy);
    if (os_lies_inside(folder, "tmp")) {
        say_not_made(new_mas, "its folder leads into the scratch folder tmp, which the job "
                              "empties and removes");
        return 1;
    }
    if (os_lies_inside(folder, work_folder))
        return 0;
    if (os_final_path(folder, resolved, sizeof resolved) != 0)
        snprintf(resolved, sizeof resolved, "%s", folder);
    os_print("%s not made: its folder leads to %s, outside the work folder\n", shown(new_mas),
           shown(resolved));
    return 1;
}

int holds_entries(const char *folder)
{
    int found = 0;
    OsDirList *list = os_list_open(folder);
    OsDirEntry entry;
    while (list && !found && os_list_next(list, &entry))
        found = strcmp(entry.name, ".") != 0 && strcmp(entry.name, "..") != 0;
    if (list)
        os_list_close(list);
    return found;
}

static int scratch_folder_in_use(void)
{
    OsFileStatus status;
    if (os_file_status("tmp", &status) != 0)
        return 0;
    if (!status.is_directory) {
        os_print("'%s\\tmp' is a file: move it away, job skipped\n", shown(work_folder));
        return 1;
    }
    if (!holds_entries("tmp"))
        return 0;
    os_print("Folder '%s\\tmp' is not empty: move it away, job skipped\n", shown(work_folder));
    return 1;
}

int new_folder_refused(const char *new_mas, int scratch_made)
{
    if (!scratch_made && folder_link_dangles(new_mas))
        return 0;
    return new_archive_misplaced(new_mas) || leads_elsewhere(new_mas);
}

int job_refused(const char *old_mas, const char *new_mas)
{
    if (os_utf16_length(work_folder) > WORK_FOLDER_MAX) {
        os_print("Work folder too long (%d characters at most): %s\n", WORK_FOLDER_MAX,
               shown(work_folder));
        say_not_made(new_mas, "the work folder's path is too long");
        return 1;
    }
    if (archive_names_refused(old_mas, new_mas))
        return 1;
    if (!file_exists(old_mas)) {
        os_print("File not found: %s\n", shown(old_mas));
        os_print("%s not made: %s is missing\n", shown(new_mas), shown(old_mas));
        return 1;
    }
    if (new_folder_refused(new_mas, 0))
        return 1;
    if (scratch_folder_in_use()) {
        say_not_made(new_mas, "the scratch folder tmp is in the way");
        return 1;
    }
    return 0;
}

// 1 when "tmp" holds a .VRL file of prefix and one of the suffixes.
static int holds_vrl_of(const char *prefix, const char *const *suffixes, int count)
{
    for (int k = 0; k < count; k++) {
        char path[PATH_BUFFER_SIZE];
        snprintf(path, sizeof path, "tmp\\%s%s.VRL", prefix, suffixes[k]);
        if (file_exists(path))
            return 1;
    }
    return 0;
}

// The number of characters (os_char_length) in the first length bytes of text.
static size_t characters_in(const char *text, size_t length)
{
    size_t count = 0;
    for (size_t at = 0; at < length; count++)
        at += (size_t)os_char_length(text, (uint32_t)at);
    return count;
}

// When name is "<prefix><suffix>.VRL" for one of the suffixes with a prefix of 1 to 4
// characters, keeps that prefix, upper-cased, in found (PREFIX_SIZE bytes) if it is lower in
// byte order than the one there, so that the listing order does not matter.
static void note_other_prefix(const char *name, const char *const *suffixes, int count, char *found)
{
    size_t length = strlen(name);
    if (length <= 4 || !same_ignoring_case(name + length - 4, ".VRL", 4))
        return;
    size_t stem = length - 4;
    for (int k = 0; k < count; k++) {
        size_t suffix = strlen(suffixes[k]);
        if (stem <= suffix || stem - suffix >= PREFIX_SIZE ||
            characters_in(name, stem - suffix) > 4 ||
            !same_ignoring_case(name + stem - suffix, suffixes[k], suffix))
            continue;
        char prefix[PREFIX_SIZE];
        memcpy(prefix, name, stem - suffix);
        prefix[stem - suffix] = '\0';
        set_ascii_case(prefix, ASCII_UPPER);
        if (found[0] == '\0' || strcmp(prefix, found) < 0)
            memcpy(found, prefix, sizeof prefix);
    }
}

int old_prefixes_missing(const char *old_mas)
{
    char first[PREFIX_SIZE], second[PREFIX_SIZE];
    form_prefixes(old_mas, first, second);
    if (holds_vrl_of(first, vrl_suffixes_first, 6) || holds_vrl_of(second, vrl_suffixes_second, 14))
        return 0;
    char other_first[PREFIX_SIZE] = "", other_second[PREFIX_SIZE] = "";
    OsDirList *list = os_list_open("tmp");
    OsDirEntry entry;
    while (list && os_list_next(list, &entry)) {
        note_other_prefix(entry.name, vrl_suffixes_first, 6, other_first);
        note_other_prefix(entry.name, vrl_suffixes_second, 14, other_second);
    }
    if (list)
        os_list_close(list);
    os_print("%s holds no .VRL file of its name's prefixes %s and %s", shown(old_mas), shown(first),
           shown(second));
    if (other_first[0] != '\0' || other_second[0] != '\0')
        os_print("; its .VRL files carry %s%s%s: give the archive the name they were made for",
               shown(other_first), other_first[0] && other_second[0] ? " and " : "",
               shown(other_second));
    os_print("\n");
    return 1;
}
