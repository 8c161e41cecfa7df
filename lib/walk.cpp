// Directory walking over the OS layer's folder listing: the walk with its callback record,
// the tree copy and tree removal built on it, and sorted filtered listings.
#include "walk.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "filecopy.h"
#include "os.h"
#include "paths.h"

enum {
    // A walk path, "\\" and a listed name.
    JOINED_SIZE = PATH_BUFFER_SIZE + 1 + OS_NAME_SIZE,
    SUBDIRECTORY_STEP = 32, // growth of the walk's subfolder list
    LISTING_STEP = 128,     // growth of list_directory's array
    NUMBER_TEXT_SIZE = 12   // "%d" of any 32-bit value and the NUL
};

// The length of the source folder of the copy_tree under way, read by copy_entry.
static size_t source_prefix_length;

// ---- Name lists: a growable array of copied names that always ends with a null pointer ---

struct NameList {
    char **names;
    uint32_t count;
    uint32_t capacity;
};

// Allocates room for step pointers holding the null pointer only. 0, or -1.
static int name_list_start(NameList *list, uint32_t step)
{
    list->names = static_cast<char **>(malloc(step * sizeof(char *)));
    list->count = 0;
    list->capacity = list->names ? step : 0;
    if (!list->names)
        return -1;
    list->names[0] = nullptr;
    return 0;
}

// Appends a copy of name, growing by step pointers so that the null pointer always fits.
// 0, or -1 when memory runs out (the list is unchanged then).
static int name_list_append(NameList *list, const char *name, uint32_t step)
{
    if (list->count + 1 >= list->capacity) {
        size_t bytes = (list->capacity + step) * sizeof(char *);
        char **grown = static_cast<char **>(realloc(list->names, bytes));
        if (!grown)
            return -1;
        list->names = grown;
        list->capacity += step;
    }
    size_t length = strlen(name);
    char *copy = static_cast<char *>(malloc(length + 1));
    if (!copy)
        return -1;
    memcpy(copy, name, length + 1);
    list->names[list->count++] = copy;
    list->names[list->count] = nullptr;
    return 0;
}

static void name_list_free(NameList *list)
{
    for (uint32_t i = 0; i < list->count; i++)
        free(list->names[i]);
    free(list->names);
    list->names = nullptr;
    list->count = list->capacity = 0;
}

// ---- The walk ---------------------------------------------------------------------------

static int is_dot_entry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

static int32_t mode_of(const OsDirEntry *entry)
{
    if (entry->attributes & (OS_ATTR_HIDDEN | OS_ATTR_SYSTEM))
        return 0111;
    if (entry->attributes & OS_ATTR_READONLY)
        return 0555;
    return 0777;
}

// Reports every file of the current folder (path) and, when subdirectories is not null,
// records its subfolders there. 0, or -1 when memory runs out for the record.
static int report_files(char *path, WalkCallback callback, void *argument, NameList *subdirectories)
{
    OsDirList *listing = os_list_open(".");
    if (!listing)
        return 0;
    OsDirEntry found;
    int result = 0;
    while (result == 0 && os_list_next(listing, &found)) {
        if (is_dot_entry(found.name))
            continue;
        if (found.attributes & OS_ATTR_DIRECTORY) {
            if (subdirectories)
                result = name_list_append(subdirectories, found.name, SUBDIRECTORY_STEP);
            continue;
        }
        WalkEntry entry;
        entry.name = found.name;
        entry.directory = path;
        entry.size = found.size > 0x7FFFFFFFu ? -1 : static_cast<int32_t>(found.size);
        entry.mode = mode_of(&found);
        entry.argument = argument;
        callback(&entry);
    }
    os_list_close(listing);
    return result;
}

// Walks each recorded subfolder of the folder in path, then reports its directory-done
// event while the parent is current. A subfolder whose path would be longer than
// PATH_UNITS_MAX is skipped.
static void walk_subdirectories(char *path, WalkCallback callback, void *argument,
                                const NameList *subdirectories)
{
    size_t parent_length = strlen(path);
    uint32_t parent_units = os_utf16_length(path);
    // A root such as 'C:\' already ends with the separator.
    size_t separator = parent_length > 0 && path[parent_length - 1] != '\\' ? 1 : 0;
    for (uint32_t i = 0; i < subdirectories->count; i++) {
        const char *name = subdirectories->names[i];
        size_t name_length = strlen(name);
        if (parent_length + separator + name_length >= PATH_BUFFER_SIZE ||
            parent_units + separator + os_utf16_length(name) > PATH_UNITS_MAX)
            continue;
        if (separator)
            path[parent_length] = '\\';
        memcpy(path + parent_length + separator, name, name_length + 1);
        walk_directory(path, callback, argument, 1);
        char saved = path[parent_length];
        path[parent_length] = '\0';
        os_change_directory(path);
        path[parent_length] = saved;
        char empty_name[1] = {'\0'};
        WalkEntry entry = {empty_name, path, 0, 0, argument};
        callback(&entry);
        path[parent_length] = '\0';
    }
}

int walk_directory(char *path, WalkCallback callback, void *argument, int8_t recurse)
{
    if (os_change_directory(path) != 0)
        return -1;
    if (!recurse)
        return report_files(path, callback, argument, nullptr);
    NameList subdirectories;
    if (name_list_start(&subdirectories, SUBDIRECTORY_STEP) != 0)
        return -1;
    if (report_files(path, callback, argument, &subdirectories) != 0) {
        name_list_free(&subdirectories);
        return -1;
    }
    walk_subdirectories(path, callback, argument, &subdirectories);
    name_list_free(&subdirectories);
    return 0;
}

// ---- Callbacks ----------------------------------------------------------------------------

int8_t copy_entry(WalkEntry *entry)
{
    const char *root = static_cast<const char *>(entry->argument);
    size_t directory_length = strlen(entry->directory);
    const char *relative =
        entry->directory +
        (source_prefix_length < directory_length ? source_prefix_length : directory_length);
    size_t root_length = strlen(root);
    size_t relative_length = strlen(relative);
    size_t name_length = strlen(entry->name);
    size_t needed = root_length + relative_length + (name_length ? 1 + name_length : 0);
    uint32_t units = os_utf16_length(root) + os_utf16_length(relative) +
                     (name_length ? 1 + os_utf16_length(entry->name) : 0);
    if (needed >= PATH_BUFFER_SIZE || units > PATH_UNITS_MAX)
        return 0;
    char target[PATH_BUFFER_SIZE];
    memcpy(target, root, root_length + 1);
    size_t length = root_length;
    // Each level is created before the separator that leads below it, the destination
    // root first.
    for (const char *c = relative; *c; c++) {
        if (*c == '\\')
            os_make_directory(target);
        target[length++] = *c;
        target[length] = '\0';
    }
    os_make_directory(target);
    if (name_length) {
        target[length] = '\\';
        memcpy(target + length + 1, entry->name, name_length + 1);
        copy_file(entry->name, target);
    }
    return 0;
}

// Writes the entry's directory, "\\" and its name into path (JOINED_SIZE bytes). 0, or -1
// when it does not fit.
static int entry_path(char *path, const WalkEntry *entry)
{
    int written = snprintf(path, JOINED_SIZE, "%s\\%s", entry->directory, entry->name);
    return written >= 0 && written < JOINED_SIZE ? 0 : -1;
}

int8_t add_file_size(WalkEntry *entry)
{
    if (entry->name[0] == '\0')
        return 0;
    char path[JOINED_SIZE];
    char *total_text = static_cast<char *>(entry->argument);
    long long total = atoll(total_text) + (entry_path(path, entry) == 0 ? file_size(path) : -1);
    if (total > 0x7FFFFFFFLL)
        total = 0x7FFFFFFFLL;
    if (total < -0x7FFFFFFFLL - 1)
        total = -0x7FFFFFFFLL - 1;
    snprintf(total_text, NUMBER_TEXT_SIZE, "%d", static_cast<int>(total));
    return 0;
}

// ---- Tree copy and removal ----------------------------------------------------------------

// Writes "%s%c%s" of folder, '\\' and the last component of path into target (PATH_BUFFER_SIZE
// bytes), as copy_tree names its target. 0, or -1 when it would be longer than
// PATH_UNITS_MAX.
static int target_in_folder(char *target, const char *folder, const char *path)
{
    char name_buffer[PATH_BUFFER_SIZE];
    int copied = snprintf(name_buffer, sizeof name_buffer, "%s", path);
    if (copied < 0 || copied >= PATH_BUFFER_SIZE)
        return -1;
    int written =
        snprintf(target, PATH_BUFFER_SIZE, "%s%c%s", folder, '\\', file_name_of(name_buffer));
    return written >= 0 && written < PATH_BUFFER_SIZE && path_fits(target) ? 0 : -1;
}

// 1 when folder is start or a folder above it, found by climbing ".." from start, which the
// system resolves (through links on POSIX) where the text would not; 0 when it is not or
// start cannot be entered; -1 when folder is too long or the current folder cannot be
// restored. Both paths resolve against the current folder of the call.
static int lies_within(const char *start, const char *folder)
{
    char saved[PATH_BUFFER_SIZE];
    char absolute[PATH_BUFFER_SIZE];
    if (os_get_current_directory(saved, sizeof saved) != 0 ||
        make_absolute_path(absolute, folder) == nullptr)
        return -1;
    int within = 0;
    if (os_change_directory(start) == 0) {
        // The root is its own parent.
        while (!(within = os_same_file(".", absolute)) && !os_same_file("..", ".") &&
               os_change_directory("..") == 0) {
        }
    }
    return os_change_directory(saved) == 0 ? within : -1;
}

// Copies the folder source under its own name into destination; leaves the current folder
// changed. 0, or -1. Overlapping trees are refused: a destination inside the source would
// receive copies of its own new folders without end, and a target that holds the source
// would overwrite the source's files with copies of other source files.
static int copy_directory(const char *source, const char *destination)
{
    char work[PATH_BUFFER_SIZE];
    if (!path_fits(source))
        return -1;
    size_t length = strlen(source);
    memcpy(work, source, length + 1);
    // A trailing backslash would cost the relative paths their first character; a root
    // such as 'C:\' keeps it.
    if (length > 1 && work[length - 1] == '\\' && work[length - 2] != ':')
        work[--length] = '\0';
    char target[PATH_BUFFER_SIZE];
    if (os_change_directory(work) != 0 || target_in_folder(target, destination, work) != 0)
        return -1;
    source_prefix_length = length;
    if (os_exists(target) && lies_within(work, target) != 0)
        return -1;
    int existed = os_exists(destination);
    os_make_directory(destination);
    if (lies_within(destination, work) != 0) {
        if (!existed)
            os_remove_directory(destination);
        return -1;
    }
    if (os_change_directory(destination) != 0)
        return -1;
    os_print("%s\n", work);
    walk_directory(work, copy_entry, target, 1);
    return 0;
}

// Copies the file source into the folder destination, or to the path destination.
static int copy_single_file(const char *source, const char *destination)
{
    char target[PATH_BUFFER_SIZE];
    OsFileStatus status;
    if (os_file_status(destination, &status) == 0 && status.is_directory) {
        if (target_in_folder(target, destination, source) != 0)
            return -1;
    } else {
        if (!path_fits(destination))
            return -1;
        snprintf(target, sizeof target, "%s", destination);
    }
    if (os_same_file(source, target))
        return -1;
    copy_file(source, target);
    return 0;
}

int8_t copy_tree(const char *source, const char *destination)
{
    OsFileStatus status;
    if (os_file_status(source, &status) != 0)
        return -1;
    char saved[PATH_BUFFER_SIZE];
    if (os_get_current_directory(saved, sizeof saved) != 0)
        return -1;
    int result = status.is_directory ? copy_directory(source, destination)
                                     : copy_single_file(source, destination);
    if (result != 0)
        return -1;
    return os_change_directory(saved) == 0 ? 0 : -1;
}

// Deletes the files (and links) of a held folder that match pattern and removes each
// subfolder that is empty afterwards, going no deeper than a path of units UTF-16 units
// would allow. A link or junction is an entry of its own, never entered.
static void empty_held_folder(OsHeldFolder *folder, const char *pattern, uint32_t units)
{
    OsDirEntry entry;
    while (os_held_next(folder, &entry)) {
        if (!(entry.attributes & OS_ATTR_DIRECTORY)) {
            if (match_wildcard(entry.name, pattern) == 1)
                os_held_delete(folder, entry.name);
            continue;
        }
        uint32_t below = units + 1 + os_utf16_length(entry.name);
        OsHeldFolder *subfolder =
            below <= PATH_UNITS_MAX ? os_hold_subfolder(folder, entry.name) : nullptr;
        if (!subfolder)
            continue;
        empty_held_folder(subfolder, pattern, below);
        os_release_folder(subfolder, 1);
    }
}

int8_t remove_tree(const char *path, const char *pattern)
{
    OsFileStatus status;
    size_t length = strlen(path);
    if (os_file_status(path, &status) != 0 || (status.is_directory && !path_fits(path)))
        return -1;
    // A file, or a link or junction to anything, goes itself: by its name without a trailing
    // backslash, which would stand for what a link leads to.
    OsHeldFolder *top = os_hold_folder(path);
    if (!top) {
        char name[PATH_BUFFER_SIZE];
        if (length < PATH_BUFFER_SIZE && length > 1 && path[length - 1] == '\\' &&
            path[length - 2] != ':') {
            memcpy(name, path, length - 1);
            name[length - 1] = '\0';
            path = name;
        }
        os_delete_file(path);
        return 0;
    }
    empty_held_folder(top, pattern, os_utf16_length(path));
    // The emptied folder stays current, as after a walk; the caller removes it.
    os_held_make_current(top);
    os_release_folder(top, 0);
    return 0;
}

// ---- Listings -----------------------------------------------------------------------------

// Adds the names of the current folder that pass the filter. 0, or -1 when memory runs out.
static int collect_names(NameList *list, NameFilter filter, const char *argument)
{
    OsDirList *listing = os_list_open(".");
    if (!listing)
        return 0;
    OsDirEntry found;
    int result = 0;
    while (result == 0 && os_list_next(listing, &found)) {
        if (!is_dot_entry(found.name) && filter(found.name, argument) == 1)
            result = name_list_append(list, found.name, LISTING_STEP);
    }
    os_list_close(listing);
    return result;
}

char **list_directory(NameFilter filter, const char *directory, const char *argument)
{
    char saved[PATH_BUFFER_SIZE];
    if (os_get_current_directory(saved, sizeof saved) != 0)
        return nullptr;
    if (os_change_directory(directory) != 0)
        return nullptr;
    NameList list;
    if (name_list_start(&list, LISTING_STEP) != 0) {
        os_change_directory(saved);
        return nullptr;
    }
    int result = collect_names(&list, filter, argument);
    sort_strings(list.names, list.count);
    if (os_change_directory(saved) != 0 || result != 0) {
        name_list_free(&list);
        return nullptr;
    }
    return list.names;
}

int8_t print_directory_list(const char *directory, const char *pattern)
{
    char **names = list_directory(match_wildcard, directory, pattern);
    if (!names)
        return 0;
    for (char **name = names; *name; name++) {
        os_print("%s\n", *name);
        free(*name);
    }
    free(names);
    return 0;
}
