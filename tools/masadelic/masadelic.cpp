// MASadelic stand-in: a small archive tool that answers the command lines Zandrel gives the
// real tool (extract, create, add) and lists an archive, over an archive format of its own
// (tools/masadelic/README.md). It exists for the tests and the demo and is not shipped.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "os.h"
#include "utility.h"

enum { MAGIC_LENGTH = 10, HEADER_SIZE = 14, ENTRY_MIN_SIZE = 6, NAME_MAX_LENGTH = 255 };
enum { EXIT_USAGE = 1, EXIT_ARCHIVE = 2, EXIT_FILES = 3, EXIT_ON_REQUEST = 4 };
enum { FAIL_NONE = 0, FAIL_REFUSE = 1, FAIL_CRASH = 2 };
static const char ARCHIVE_MAGIC[MAGIC_LENGTH + 1] = "MASSTAND1\n";
static const char *const LEFTOVER_FILES[] = {"MASBODY.TMP", "MASHEAD.TMP"};

// Option letters in the order of Options.value.
static const char OPTION_LETTERS[] = "mfoi";
enum { OPT_ARCHIVE = 0, OPT_FILES = 1, OPT_OUTPUT = 2, OPT_INCLUDE = 3, OPTION_COUNT = 4 };

struct CommandRule {
    char command;         // upper-case letter after "-"
    const char *allowed;  // option letters the command takes
    const char *required; // option letters it cannot do without
};

static const CommandRule COMMAND_RULES[] = {
    {'E', "mfo", "mo"}, {'C', "m", "m"}, {'A', "mfi", "m"}, {'L', "m", "m"}};

struct Options {
    char command;                    // 'E', 'C', 'A' or 'L'
    const char *value[OPTION_COUNT]; // null when not given
    int crash;                       // 1 when the tests asked this call to crash half-way
};

struct ArchiveEntry {
    char name[NAME_MAX_LENGTH + 1];
    uint32_t size;   // bytes of content
    uint32_t offset; // position of the content in the archive file
};

struct ArchiveIndex {
    ArchiveEntry *entries; // heap, count entries
    uint32_t count;
};

struct NameList {
    char **names; // heap copies, sorted before use
    uint32_t count;
    uint32_t room;
};

// ---- Small helpers ---------------------------------------------------------------------

static int upper(int c)
{
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

static int lower(int c)
{
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

// 1 when the two names are equal, ASCII letters compared without case, else 0.
static int same_name(const char *a, const char *b)
{
    for (; *a && upper((unsigned char)*a) == upper((unsigned char)*b); a++, b++)
        ;
    return upper((unsigned char)*a) == upper((unsigned char)*b);
}

// Wildcard match without case: both texts are upper-cased into buffers first.
static int name_matches(const char *name, const char *pattern)
{
    char n[NAME_MAX_LENGTH + 1], p[NAME_MAX_LENGTH + 1];
    if (strlen(name) > NAME_MAX_LENGTH || strlen(pattern) > NAME_MAX_LENGTH)
        return 0;
    size_t i;
    for (i = 0; name[i]; i++)
        n[i] = (char)upper((unsigned char)name[i]);
    n[i] = '\0';
    for (i = 0; pattern[i]; i++)
        p[i] = (char)upper((unsigned char)pattern[i]);
    p[i] = '\0';
    return match_wildcard(n, p) == 1;
}

static void put_u32(unsigned char *bytes, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[i] = (unsigned char)(value >> (8 * i));
}

static uint32_t get_u32(const unsigned char *bytes)
{
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

// 0 when exactly count bytes were read, else -1.
static int read_exact(int fd, void *buffer, uint32_t count)
{
    return count == 0 || os_read(fd, buffer, count) == (int32_t)count ? 0 : -1;
}

static int write_exact(int fd, const void *buffer, uint32_t count)
{
    return count == 0 || os_write(fd, buffer, count) == (int32_t)count ? 0 : -1;
}

// A stored name is one path component: no separators, no drive, not "." or "..".
static int is_plain_name(const char *name)
{
    if (!name[0] || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return 0;
    return strpbrk(name, "\\/:") == NULL;
}

// ---- Command line ----------------------------------------------------------------------

static void print_usage(void)
{
    fprintf(stderr, "usage: MASadelic -E -m:ARCHIVE -f:PATTERN -o:FOLDER   extract\n"
                    "       MASadelic -C -m:ARCHIVE                        create empty\n"
                    "       MASadelic -A -m:ARCHIVE -f:PATTERN -i:PATTERN  add current folder\n"
                    "       MASadelic -L -m:ARCHIVE                        list\n");
}

static const CommandRule *find_rule(const char *argument)
{
    if (argument[0] != '-' || !argument[1] || argument[2])
        return NULL;
    for (const CommandRule &rule : COMMAND_RULES)
        if (rule.command == upper((unsigned char)argument[1]))
            return &rule;
    return NULL;
}

// Stores one "-x:VALUE" argument. 0, or -1 after a message.
static int take_option(const CommandRule *rule, const char *argument, Options *options)
{
    int well_formed = argument[0] == '-' && argument[1] && argument[2] == ':';
    char letter = well_formed ? (char)lower((unsigned char)argument[1]) : '\0';
    const char *slot = well_formed ? strchr(OPTION_LETTERS, letter) : NULL;
    if (!slot || !strchr(rule->allowed, letter)) {
        fprintf(stderr, "MASadelic: unknown option '%s' for -%c\n", argument, rule->command);
        return -1;
    }
    int index = (int)(slot - OPTION_LETTERS);
    if (options->value[index]) {
        fprintf(stderr, "MASadelic: option -%c: given twice\n", letter);
        return -1;
    }
    if (!argument[3]) {
        fprintf(stderr, "MASadelic: option -%c: needs a value\n", letter);
        return -1;
    }
    options->value[index] = argument + 3;
    return 0;
}

// Fills options from argv. 0, or -1 after a message.
static int parse_arguments(int argc, char **argv, Options *options)
{
    memset(options, 0, sizeof *options);
    const CommandRule *rule = argc > 1 ? find_rule(argv[1]) : NULL;
    if (!rule) {
        if (argc > 1)
            fprintf(stderr, "MASadelic: unknown command '%s'\n", argv[1]);
        print_usage();
        return -1;
    }
    options->command = rule->command;
    for (int i = 2; i < argc; i++)
        if (take_option(rule, argv[i], options) != 0)
            return -1;
    for (const char *r = rule->required; *r; r++)
        if (!options->value[strchr(OPTION_LETTERS, *r) - OPTION_LETTERS]) {
            fprintf(stderr, "MASadelic: -%c needs the option -%c:\n", rule->command, *r);
            return -1;
        }
    return 0;
}

// ---- Failing on request (tests only) ---------------------------------------------------

// How MASADELIC_FAIL ("E:refuse", "A:crash", ...) asks the call command to fail: FAIL_NONE
// when it is not set or names another call, -1 when its value is none of those.
static int requested_failure(char command)
{
    char value[16];
    if (os_get_environment("MASADELIC_FAIL", value, sizeof value) == -1)
        return FAIL_NONE;
    const char *how = value + 2;
    int well_formed = value[0] && strchr("ECA", upper((unsigned char)value[0])) &&
                      value[1] == ':' && (strcmp(how, "refuse") == 0 || strcmp(how, "crash") == 0);
    if (!well_formed) {
        fprintf(stderr, "MASadelic: MASADELIC_FAIL is E, C or A, then ':refuse' or ':crash'\n");
        return -1;
    }
    if (upper((unsigned char)value[0]) != command)
        return FAIL_NONE;
    return strcmp(how, "refuse") == 0 ? FAIL_REFUSE : FAIL_CRASH;
}

// Pauses for the milliseconds MASADELIC_SLOW gives (at most 10 seconds), so that tests can
// start or stop another program while this one works; nothing when it is not set.
static void pause_if_slow(void)
{
    char value[16];
    if (os_get_environment("MASADELIC_SLOW", value, sizeof value) <= 0)
        return;
    long milliseconds = strtol(value, NULL, 10);
    if (milliseconds > 0 && milliseconds <= 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Ends the tool the way a crash does: no clean-up, no exit status of its own choosing.
static void crash(void)
{
    fprintf(stderr, "MASadelic: crashing on request\n");
    fflush(stderr);
    abort();
}

// ---- Reading an archive ----------------------------------------------------------------

// Reads one entry header at the current position and skips its content. 0, or -1.
static int read_entry(int fd, uint32_t file_size, ArchiveEntry *entry)
{
    unsigned char length, size_bytes[4];
    if (read_exact(fd, &length, 1) != 0 || length == 0 ||
        read_exact(fd, entry->name, length) != 0 || read_exact(fd, size_bytes, 4) != 0)
        return -1;
    entry->name[length] = '\0';
    if (strlen(entry->name) != length || !is_plain_name(entry->name))
        return -1;
    entry->size = get_u32(size_bytes);
    int64_t position = os_seek(fd, 0, OS_SEEK_CUR);
    if (position < 0 || entry->size > file_size - (uint32_t)position)
        return -1;
    entry->offset = (uint32_t)position;
    return os_seek(fd, entry->size, OS_SEEK_CUR) < 0 ? -1 : 0;
}

// Reads the header and every entry header. 0, or -1 when the archive is malformed.
static int read_index(int fd, ArchiveIndex *index)
{
    unsigned char header[HEADER_SIZE];
    int64_t size = os_seek(fd, 0, OS_SEEK_END);
    if (size < HEADER_SIZE || size > 0x7FFFFFFF || os_seek(fd, 0, OS_SEEK_SET) != 0 ||
        read_exact(fd, header, HEADER_SIZE) != 0 ||
        memcmp(header, ARCHIVE_MAGIC, MAGIC_LENGTH) != 0)
        return -1;
    uint32_t count = get_u32(header + MAGIC_LENGTH);
    if (count > (uint32_t)(size - HEADER_SIZE) / ENTRY_MIN_SIZE)
        return -1;
    index->entries = (ArchiveEntry *)malloc(((size_t)count + 1) * sizeof(ArchiveEntry));
    if (!index->entries)
        return -1;
    for (index->count = 0; index->count < count; index->count++)
        if (read_entry(fd, (uint32_t)size, &index->entries[index->count]) != 0)
            return -1;
    return os_seek(fd, 0, OS_SEEK_CUR) == size ? 0 : -1;
}

// Opens an archive and reads its index. The descriptor, or -1 after a message.
static int open_archive(const char *path, ArchiveIndex *index)
{
    index->entries = NULL;
    index->count = 0;
    int fd = os_open(path, OS_OPEN_READ);
    if (fd < 0) {
        fprintf(stderr, "MASadelic: cannot open archive '%s'\n", path);
        return -1;
    }
    if (read_index(fd, index) != 0) {
        fprintf(stderr, "MASadelic: corrupt archive '%s'\n", path);
        free(index->entries);
        index->entries = NULL;
        os_close(fd);
        return -1;
    }
    return fd;
}

// ---- Writing an archive ----------------------------------------------------------------

static int write_header(int fd, uint32_t count)
{
    unsigned char header[HEADER_SIZE];
    memcpy(header, ARCHIVE_MAGIC, MAGIC_LENGTH);
    put_u32(header + MAGIC_LENGTH, count);
    return write_exact(fd, header, HEADER_SIZE);
}

// Writes one entry: name length, name, size, then bytes first..first+size of input.
static int write_entry(int fd, const char *name, int input, uint32_t first, uint32_t size)
{
    unsigned char length = (unsigned char)strlen(name), size_bytes[4];
    put_u32(size_bytes, size);
    if (write_exact(fd, &length, 1) != 0 || write_exact(fd, name, length) != 0 ||
        write_exact(fd, size_bytes, 4) != 0)
        return -1;
    if (size == 0)
        return 0;
    return copy_range(input, fd, first, first + size);
}

// Writes an empty archive (only half its header before a crash on request). 0, or -1 after
// a message.
static int create_archive(const char *path, int crash_now)
{
    int fd = os_open(path, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    if (fd >= 0 && crash_now) {
        write_exact(fd, ARCHIVE_MAGIC, HEADER_SIZE / 2);
        crash();
    }
    int result = fd < 0 ? -1 : write_header(fd, 0);
    if (fd >= 0 && os_close(fd) != 0)
        result = -1;
    if (result != 0)
        fprintf(stderr, "MASadelic: cannot write archive '%s'\n", path);
    return result;
}

// The real tool may leave its scratch files behind; so does this one, on purpose.
static void leave_scratch_files(void)
{
    static const char text[] = "MASadelic stand-in scratch file\r\n";
    for (const char *name : LEFTOVER_FILES) {
        int fd = os_open(name, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
        if (fd >= 0) {
            write_exact(fd, text, sizeof text - 1);
            os_close(fd);
        }
    }
}

// ---- Extract and list ------------------------------------------------------------------

static int make_folder(const char *folder)
{
    OsFileStatus status;
    if (os_file_status(folder, &status) == 0 ? status.is_directory : os_make_directory(folder) == 0)
        return 0;
    fprintf(stderr, "MASadelic: cannot make folder '%s'\n", folder);
    return -1;
}

static int extract_entry(int archive, const ArchiveEntry *entry, const char *folder)
{
    char path[256];
    int n = snprintf(path, sizeof path, "%s\\%s", folder, entry->name);
    int fd = n > 0 && n < (int)sizeof path
                 ? os_open(path, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE)
                 : -1;
    int result = fd < 0 ? -1 : 0;
    if (fd >= 0 && entry->size > 0)
        result = copy_range(archive, fd, entry->offset, entry->offset + entry->size);
    if (fd >= 0 && os_close(fd) != 0)
        result = -1;
    if (result != 0)
        fprintf(stderr, "MASadelic: cannot write '%s\\%s'\n", folder, entry->name);
    return result;
}

static int extract_archive(const Options *options)
{
    const char *pattern = options->value[OPT_FILES] ? options->value[OPT_FILES] : "*";
    ArchiveIndex index;
    int fd = open_archive(options->value[OPT_ARCHIVE], &index);
    if (fd < 0)
        return EXIT_ARCHIVE;
    int result = make_folder(options->value[OPT_OUTPUT]) == 0 ? 0 : EXIT_FILES;
    for (uint32_t i = 0; result == 0 && i < index.count; i++) {
        if (!name_matches(index.entries[i].name, pattern))
            continue;
        pause_if_slow();
        if (extract_entry(fd, &index.entries[i], options->value[OPT_OUTPUT]) != 0)
            result = EXIT_FILES;
        else if (options->crash)
            crash();
    }
    free(index.entries);
    os_close(fd);
    return result;
}

static int list_archive(const Options *options)
{
    ArchiveIndex index;
    int fd = open_archive(options->value[OPT_ARCHIVE], &index);
    if (fd < 0)
        return EXIT_ARCHIVE;
    for (uint32_t i = 0; i < index.count; i++)
        printf("%-16s %8u\n", index.entries[i].name, (unsigned)index.entries[i].size);
    free(index.entries);
    os_close(fd);
    return 0;
}

// ---- Add -------------------------------------------------------------------------------

static void free_names(NameList *list)
{
    for (uint32_t i = 0; i < list->count; i++)
        free(list->names[i]);
    free(list->names);
}

static int append_name(NameList *list, const char *name)
{
    if (list->count == list->room) {
        uint32_t room = list->room ? list->room * 2 : 16;
        char **grown = (char **)realloc(list->names, room * sizeof(char *));
        if (!grown)
            return -1;
        list->names = grown;
        list->room = room;
    }
    char *copy = (char *)malloc(strlen(name) + 1);
    if (!copy)
        return -1;
    strcpy(copy, name);
    list->names[list->count++] = copy;
    return 0;
}

// Whether a listed file goes into the archive: no folders, not the archive itself (when it
// lies in the current folder) nor its scratch copy, and both patterns must match.
static int is_wanted(const OsDirEntry *entry, const Options *options, const char *scratch)
{
    const char *archive = options->value[OPT_ARCHIVE];
    const char *files = options->value[OPT_FILES] ? options->value[OPT_FILES] : "*";
    const char *include = options->value[OPT_INCLUDE] ? options->value[OPT_INCLUDE] : "*";
    if (entry->attributes & OS_ATTR_DIRECTORY)
        return 0;
    if (is_plain_name(archive) &&
        (same_name(entry->name, archive) || same_name(entry->name, scratch)))
        return 0;
    return name_matches(entry->name, files) && name_matches(entry->name, include);
}

// Collects the wanted files of the current folder, sorted. 0, or -1 after a message.
static int list_current_folder(const Options *options, const char *scratch, NameList *list)
{
    OsDirList *folder = os_list_open(".");
    if (!folder) {
        fprintf(stderr, "MASadelic: cannot list the current folder\n");
        return -1;
    }
    OsDirEntry entry;
    int result = 0;
    while (result == 0 && os_list_next(folder, &entry)) {
        if (!is_wanted(&entry, options, scratch))
            continue;
        if (strlen(entry.name) > NAME_MAX_LENGTH) {
            fprintf(stderr, "MASadelic: file name too long: '%.40s...'\n", entry.name);
            result = -1;
        } else if (append_name(list, entry.name) != 0) {
            fprintf(stderr, "MASadelic: out of memory\n");
            result = -1;
        }
    }
    os_list_close(folder);
    if (result == 0)
        sort_strings(list->names, list->count);
    return result;
}

static int is_replaced(const char *name, const NameList *list)
{
    for (uint32_t i = 0; i < list->count; i++)
        if (same_name(name, list->names[i]))
            return 1;
    return 0;
}

// Stores one file of the current folder as an entry of the archive being written.
static int add_file(int fd, const char *name)
{
    int input = os_open(name, OS_OPEN_READ);
    int64_t size = input < 0 ? -1 : os_seek(input, 0, OS_SEEK_END);
    int result =
        size < 0 || size > 0x7FFFFFFF ? -1 : write_entry(fd, name, input, 0, (uint32_t)size);
    if (input >= 0)
        os_close(input);
    if (result != 0)
        fprintf(stderr, "MASadelic: cannot store '%s'\n", name);
    return result;
}

// Writes the kept entries of the old archive, then the new files, to the scratch path.
static int write_merged(int archive, const ArchiveIndex *index, const NameList *list,
                        const char *scratch)
{
    int fd = os_open(scratch, OS_OPEN_READ_WRITE | OS_OPEN_CREATE | OS_OPEN_TRUNCATE);
    if (fd < 0) {
        fprintf(stderr, "MASadelic: cannot write '%s'\n", scratch);
        return -1;
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < index->count; i++)
        kept += !is_replaced(index->entries[i].name, list);
    int result = write_header(fd, kept + list->count);
    for (uint32_t i = 0; result == 0 && i < index->count; i++) {
        const ArchiveEntry *e = &index->entries[i];
        if (!is_replaced(e->name, list))
            result = write_entry(fd, e->name, archive, e->offset, e->size);
    }
    for (uint32_t i = 0; result == 0 && i < list->count; i++) {
        pause_if_slow();
        result = add_file(fd, list->names[i]);
    }
    if (os_close(fd) != 0)
        result = -1;
    if (result != 0) {
        fprintf(stderr, "MASadelic: cannot write '%s'\n", scratch);
        os_delete_file(scratch);
    }
    return result;
}

// Puts the written scratch archive in the place of the old one.
static int replace_archive(const char *scratch, const char *path)
{
    if (os_delete_file(path) == 0 && os_rename_no_replace(scratch, path) == 0)
        return 0;
    fprintf(stderr, "MASadelic: cannot replace archive '%s'\n", path);
    return -1;
}

static int add_to_archive(const Options *options)
{
    const char *path = options->value[OPT_ARCHIVE];
    char scratch[256];
    int n = snprintf(scratch, sizeof scratch, "%s.new", path);
    if (n < 0 || n >= (int)sizeof scratch) {
        fprintf(stderr, "MASadelic: archive path too long: '%s'\n", path);
        return EXIT_USAGE;
    }
    ArchiveIndex index;
    int fd = open_archive(path, &index);
    if (fd < 0)
        return EXIT_ARCHIVE;
    NameList list = {NULL, 0, 0};
    if (options->crash) {
        // Cut the archive down to a header that counts entries it does not hold.
        uint32_t count = index.count;
        if (list_current_folder(options, scratch, &list) == 0)
            count += list.count;
        os_close(fd);
        int out = os_open(path, OS_OPEN_READ_WRITE | OS_OPEN_TRUNCATE);
        if (out >= 0)
            write_header(out, count);
        crash();
    }
    int result = list_current_folder(options, scratch, &list) == 0 &&
                         write_merged(fd, &index, &list, scratch) == 0
                     ? 0
                     : EXIT_FILES;
    os_close(fd);
    if (result == 0 && replace_archive(scratch, path) != 0)
        result = EXIT_FILES;
    free_names(&list);
    free(index.entries);
    return result;
}

// ---- Entry -----------------------------------------------------------------------------

// The arguments of an ANSI program come in the system's ANSI code page; the OS layer takes
// UTF-8 names. Each is copied into room enough for its UTF-8 form (never freed: they live as
// long as the program). 0, or -1 when memory runs out.
static int arguments_in_utf8(int argc, char **argv)
{
    for (int i = 0; i < argc; i++) {
        size_t room = strlen(argv[i]) * 3 + 1;
        char *copy = static_cast<char *>(malloc(room));
        if (!copy)
            return -1;
        snprintf(copy, room, "%s", argv[i]);
        if (os_ansi_to_utf8(copy, static_cast<uint32_t>(room)) != 0) {
            free(copy);
            return -1;
        }
        argv[i] = copy;
    }
    return 0;
}

int main(int argc, char **argv)
{
    Options options;
    if (arguments_in_utf8(argc, argv) != 0 || parse_arguments(argc, argv, &options) != 0)
        return EXIT_USAGE;
    int failure = requested_failure(options.command);
    if (failure < 0)
        return EXIT_USAGE;
    if (failure == FAIL_REFUSE) {
        fprintf(stderr, "MASadelic: failing on request\n");
        return EXIT_ON_REQUEST;
    }
    options.crash = failure == FAIL_CRASH;
    switch (options.command) {
    case 'E':
        return extract_archive(&options);
    case 'C':
        if (create_archive(options.value[OPT_ARCHIVE], options.crash) != 0)
            return EXIT_FILES;
        leave_scratch_files();
        return 0;
    case 'A':
        return add_to_archive(&options);
    default:
        return list_archive(&options);
    }
}
