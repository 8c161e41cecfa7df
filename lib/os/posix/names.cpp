// Names without regard to case for the POSIX back end: the lookup that gives a path the case
// of existing entries, over a few cached folder listings that stay valid while the folder's
// identity and modification time are unchanged and follow the layer's own changes; and the
// order in which a folder is listed.
#include "names.h"
#include "os.h"
#include "os_common.h"

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

enum {
    CACHED_FOLDERS = 8,
    FOLDER_NAMES_MAX = 1 << 17, // a folder with more entries is read at every lookup
    FOLDER_TEXT_MAX = 4 << 20,  // bytes of names kept for one folder
    TABLE_START = 256           // slots of a new table, a power of two
};

// A table slot: the folded name's hash and where the name starts in the folder's text.
struct NameSlot {
    uint32_t hash;
    uint32_t offset; // SLOT_EMPTY, SLOT_REMOVED, or an offset of at least 1
};

static const uint32_t SLOT_EMPTY = 0;
static const uint32_t SLOT_REMOVED = UINT32_MAX;

struct CachedFolder {
    char path[NATIVE_PATH_SIZE]; // the folder as looked up; "" when the entry is free
    dev_t device;
    ino_t inode;
    struct timespec modified;
    int racy;           // listed while its time was as new as the clock: read again at next use
    int in_step;        // checked just before the layer's own change, so it may take it
    uint64_t used;      // when last used, to replace the least recently used
    uint64_t validated; // the lookup that last found it current
    NameSlot *table;    // open addressing, linear probing
    uint32_t capacity, count, removed;
    char *text; // the names, each terminated; offset 0 unused
    uint32_t text_used, text_size;
};

static CachedFolder folders[CACHED_FOLDERS];
static uint64_t use_clock;
static uint64_t lookup_count;

// ---- Folded names ------------------------------------------------------------------------

// FNV-1a over the upper-case forms of the characters, by which os_compare_names compares.
static uint32_t hash_folded(const char *name)
{
    int utf8 = os_is_utf8(name);
    uint32_t hash = 2166136261u;
    while (*name) {
        hash ^= os_next_upper(&name, utf8);
        hash *= 16777619u;
    }
    return hash;
}

// Keeps in best (OS_NAME_SIZE bytes) the lower in byte order of best and name.
static void keep_lowest(char *best, const char *name)
{
    if (best[0] == '\0' || strcmp(name, best) < 0)
        snprintf(best, OS_NAME_SIZE, "%s", name);
}

// ---- One folder's table --------------------------------------------------------------------

static void folder_clear(CachedFolder *folder)
{
    free(folder->table);
    free(folder->text);
    memset(folder, 0, sizeof *folder);
}

static void table_place(NameSlot *table, uint32_t capacity, uint32_t hash, uint32_t offset)
{
    uint32_t i = hash & (capacity - 1);
    while (table[i].offset != SLOT_EMPTY && table[i].offset != SLOT_REMOVED)
        i = (i + 1) & (capacity - 1);
    table[i].hash = hash;
    table[i].offset = offset;
}

// Rebuilds the table with room for one more name, dropping removed slots and their text.
// 0, or -1 when memory runs out (the folder is unchanged then).
static int table_rebuild(CachedFolder *folder)
{
    uint32_t capacity = TABLE_START;
    if (folder->capacity)
        capacity = folder->capacity;
    while ((folder->count + 1) * 4 > capacity * 3)
        capacity *= 2;
    uint32_t text_size = 16 * TABLE_START;
    if (folder->text_size)
        text_size = folder->text_size;
    NameSlot *table = static_cast<NameSlot *>(calloc(capacity, sizeof(NameSlot)));
    char *text = static_cast<char *>(malloc(text_size));
    if (!table || !text) {
        free(table);
        free(text);
        return -1;
    }
    uint32_t used = 1;
    for (uint32_t i = 0; i < folder->capacity; i++) {
        NameSlot slot = folder->table[i];
        if (slot.offset == SLOT_EMPTY || slot.offset == SLOT_REMOVED)
            continue;
        size_t length = strlen(folder->text + slot.offset) + 1;
        memcpy(text + used, folder->text + slot.offset, length);
        table_place(table, capacity, slot.hash, used);
        used += static_cast<uint32_t>(length);
    }
    free(folder->table);
    free(folder->text);
    folder->table = table;
    folder->capacity = capacity;
    folder->removed = 0;
    folder->text = text;
    folder->text_used = used;
    folder->text_size = text_size;
    return 0;
}

// Room for a name of length bytes in the text. 0, or -1 past the folder's limit.
static int text_reserve(CachedFolder *folder, uint32_t length)
{
    if (folder->text_used + length <= folder->text_size)
        return 0;
    uint32_t size = folder->text_size * 2;
    while (folder->text_used + length > size)
        size *= 2;
    if (size > FOLDER_TEXT_MAX)
        return -1;
    char *grown = static_cast<char *>(realloc(folder->text, size));
    if (!grown)
        return -1;
    folder->text = grown;
    folder->text_size = size;
    return 0;
}

// The slot holding exactly name, or null.
static NameSlot *table_find_exact(CachedFolder *folder, const char *name, uint32_t hash)
{
    if (folder->capacity == 0)
        return nullptr;
    for (uint32_t i = hash & (folder->capacity - 1); folder->table[i].offset != SLOT_EMPTY;
         i = (i + 1) & (folder->capacity - 1)) {
        NameSlot *slot = &folder->table[i];
        if (slot->offset != SLOT_REMOVED && slot->hash == hash &&
            strcmp(folder->text + slot->offset, name) == 0)
            return slot;
    }
    return nullptr;
}

// Adds name unless it is there already. 0, or -1 past the folder's limits or out of memory.
static int folder_add(CachedFolder *folder, const char *name)
{
    uint32_t hash = hash_folded(name);
    if (table_find_exact(folder, name, hash))
        return 0;
    if (folder->count >= FOLDER_NAMES_MAX)
        return -1;
    if ((folder->count + folder->removed + 1) * 4 > folder->capacity * 3 &&
        table_rebuild(folder) != 0)
        return -1;
    uint32_t length = static_cast<uint32_t>(strlen(name)) + 1;
    if (text_reserve(folder, length) != 0)
        return -1;
    memcpy(folder->text + folder->text_used, name, length);
    table_place(folder->table, folder->capacity, hash, folder->text_used);
    folder->text_used += length;
    folder->count++;
    return 0;
}

static void folder_remove(CachedFolder *folder, const char *name)
{
    NameSlot *slot = table_find_exact(folder, name, hash_folded(name));
    if (!slot)
        return;
    slot->offset = SLOT_REMOVED;
    folder->count--;
    folder->removed++;
}

// Writes into best (OS_NAME_SIZE bytes) the lowest name that folds like name; "" when none does.
static void folder_match(const CachedFolder *folder, const char *name, char *best)
{
    best[0] = '\0';
    uint32_t hash = hash_folded(name);
    for (uint32_t i = hash & (folder->capacity - 1); folder->table[i].offset != SLOT_EMPTY;
         i = (i + 1) & (folder->capacity - 1)) {
        NameSlot slot = folder->table[i];
        if (slot.offset != SLOT_REMOVED && slot.hash == hash &&
            os_equal_folded(folder->text + slot.offset, name))
            keep_lowest(best, folder->text + slot.offset);
    }
}

// ---- The cache of folders ------------------------------------------------------------------

static int time_before(const struct timespec *a, const struct timespec *b)
{
    return a->tv_sec < b->tv_sec || (a->tv_sec == b->tv_sec && a->tv_nsec < b->tv_nsec);
}

static int same_status(const CachedFolder *folder, const struct stat *st)
{
    return folder->device == st->st_dev && folder->inode == st->st_ino &&
           folder->modified.tv_sec == st->st_mtim.tv_sec &&
           folder->modified.tv_nsec == st->st_mtim.tv_nsec;
}

static void take_status(CachedFolder *folder, const struct stat *st)
{
    folder->device = st->st_dev;
    folder->inode = st->st_ino;
    folder->modified = st->st_mtim;
}

static CachedFolder *find_folder(const char *path)
{
    for (int i = 0; i < CACHED_FOLDERS; i++)
        if (folders[i].path[0] && strcmp(folders[i].path, path) == 0)
            return &folders[i];
    return nullptr;
}

// A free entry for path, the least recently used one emptied when none is free.
static CachedFolder *claim_folder(const char *path)
{
    CachedFolder *chosen = &folders[0];
    for (int i = 0; i < CACHED_FOLDERS; i++) {
        if (!folders[i].path[0]) {
            chosen = &folders[i];
            break;
        }
        if (folders[i].used < chosen->used)
            chosen = &folders[i];
    }
    folder_clear(chosen);
    snprintf(chosen->path, sizeof chosen->path, "%s", path);
    return chosen;
}

// Reads every name of the folder into its table. 0, or -1 when it cannot be read or held.
static int folder_fill(CachedFolder *folder)
{
    DIR *dir = OS_CALL(opendir(folder->path));
    if (!dir)
        return -1;
    int result = table_rebuild(folder);
    struct dirent *entry;
    while (result == 0 && (entry = readdir(dir)) != nullptr)
        result = folder_add(folder, entry->d_name);
    closedir(dir);
    return result;
}

// The old way, for a folder too large to hold: reads it for this one name.
static void scan_folder(const char *path, const char *name, char *best)
{
    best[0] = '\0';
    DIR *dir = opendir(path);
    if (!dir)
        return;
    struct dirent *entry;
    while ((entry = readdir(dir)) != nullptr)
        if (os_equal_folded(entry->d_name, name))
            keep_lowest(best, entry->d_name);
    closedir(dir);
}

// Lists the folder afresh. A listing taken while the folder's time is as new as the timestamp
// clock could miss a change made later within the same tick, which leaves that time as it is:
// such a listing is marked racy and read again at its next use. Null when it cannot be held.
static CachedFolder *list_folder(const char *path, const struct stat *st,
                                 const struct timespec *clock_at_start)
{
    CachedFolder *folder = find_folder(path);
    if (folder) {
        folder_clear(folder);
        snprintf(folder->path, sizeof folder->path, "%s", path);
    } else {
        folder = claim_folder(path);
    }
    if (folder_fill(folder) != 0) {
        folder_clear(folder);
        return nullptr;
    }
    take_status(folder, st);
    folder->racy = !time_before(&st->st_mtim, clock_at_start);
    return folder;
}

// The cached listing of the folder at path (whose status is st), current; null when the
// folder cannot be held, so that the caller reads it itself.
static CachedFolder *current_listing(const char *path, const struct stat *st,
                                     const struct timespec *clock_at_start)
{
    CachedFolder *folder = find_folder(path);
    if (!folder || folder->racy || !same_status(folder, st))
        folder = list_folder(path, st, clock_at_start);
    if (folder) {
        folder->used = ++use_clock;
        folder->validated = lookup_count;
        folder->in_step = 0;
    }
    return folder;
}

// ---- Lookups -------------------------------------------------------------------------------

// Writes the folder part of path[0..start) into folder: "." for a bare name, "/" for the root.
static void folder_of(const char *path, size_t start, char *folder)
{
    if (start == 0) {
        strcpy(folder, ".");
        return;
    }
    size_t length = start > 1 ? start - 1 : start;
    memcpy(folder, path, length);
    folder[length] = '\0';
}

// 1 with *st filled when folder_path holds an entry name, else 0.
static int entry_exists(const char *folder_path, const char *name, struct stat *st)
{
    char entry[NATIVE_PATH_SIZE];
    int length = snprintf(entry, sizeof entry, "%s/%s", folder_path, name);
    return length > 0 && length < NATIVE_PATH_SIZE && OS_CALL(lstat(entry, st)) == 0;
}

// Replaces the component path[start..] (terminated) by the lowest name of its folder's entries
// that equals it without regard to case. 1 with *found holding the entry's lstat when one
// was, 0 when none was, -1 when the folder itself does not exist as written.
static int match_in_folder(char *path, size_t start, struct stat *found)
{
    char folder_path[NATIVE_PATH_SIZE];
    folder_of(path, start, folder_path);
    struct timespec now;
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    struct stat st;
    if (OS_CALL(stat(folder_path, &st)) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode))
        return 0;
    char best[OS_NAME_SIZE];
    CachedFolder *folder = current_listing(folder_path, &st, &now);
    if (folder)
        folder_match(folder, path + start, best);
    else
        scan_folder(folder_path, path + start, best);
    if (best[0] == '\0' || strlen(best) != strlen(path + start))
        return 0;
    // A name found in another case is checked, so that a listing gone stale never leads to
    // an entry that is not there.
    if (!entry_exists(folder_path, best, found)) {
        if (!folder)
            return 0;
        folder_clear(folder);
        scan_folder(folder_path, path + start, best);
        if (best[0] == '\0' || !entry_exists(folder_path, best, found))
            return 0;
    }
    memcpy(path + start, best, strlen(best));
    return 1;
}

// The component by component lookup, for a path whose folder does not exist as written.
// *st receives the lstat of the whole path when it exists.
static int resolve_components(char *path, int keep_last, struct stat *st)
{
    size_t start = path[0] == '/' ? 1 : 0;
    while (path[start]) {
        size_t end = start;
        while (path[end] && path[end] != '/')
            end++;
        if (keep_last && !path[end])
            return NAMES_UNCHECKED;
        if (end > start) {
            char saved = path[end];
            path[end] = '\0';
            int found = OS_CALL(lstat(path, st)) == 0 || match_in_folder(path, start, st) == 1;
            path[end] = saved;
            if (!found)
                return NAMES_MISSING;
        }
        if (!path[end])
            return NAMES_EXISTS;
        start = end + 1;
    }
    if (keep_last)
        return NAMES_UNCHECKED;
    return OS_CALL(lstat(path, st)) == 0 ? NAMES_EXISTS : NAMES_MISSING;
}

// Where the last component of path starts; the length of path when it ends with a slash.
static size_t last_component(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// Cuts the dots and blanks that end the last component of a native path, as Windows drops
// them from every name it is given. A component made only of dots and blanks (".", "..")
// stays. 1 when something was cut, else 0.
static int cut_trailing_dots(char *path)
{
    char *name = path + last_component(path);
    size_t length = strlen(name), kept = length;
    while (kept > 0 && (name[kept - 1] == '.' || name[kept - 1] == ' '))
        kept--;
    if (kept == 0 || kept == length)
        return 0;
    name[kept] = '\0';
    return 1;
}

// names_resolve_case for the path as written.
static int resolve_as_written(char *path, int keep_last, struct stat *st)
{
    if (!keep_last && OS_CALL(lstat(path, st)) == 0)
        return NAMES_EXISTS;
    // Mostly only the last name differs from what exists: its folder, looked up as written,
    // answers at once.
    size_t start = last_component(path);
    if (!keep_last && path[start] && strcmp(path + start, ".") != 0 &&
        strcmp(path + start, "..") != 0) {
        int matched = match_in_folder(path, start, st);
        if (matched >= 0)
            return matched == 1 ? NAMES_EXISTS : NAMES_MISSING;
    }
    return resolve_components(path, keep_last, st);
}

int names_resolve_case(char *path, int keep_last, struct stat *st)
{
    lookup_count++;
    int found = resolve_as_written(path, keep_last, st);
    if (found != NAMES_EXISTS && cut_trailing_dots(path))
        found = resolve_as_written(path, keep_last, st);
    return found;
}

// ---- The layer's own changes ---------------------------------------------------------------

// The cached folder holding the entry at path (its folder part in folder_path), or null;
// null too for a path that ends in "/", "." or "..", which names no entry of that folder.
static CachedFolder *folder_of_entry(const char *path, char *folder_path)
{
    size_t start = last_component(path);
    const char *name = path + start;
    if (!name[0] || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return nullptr;
    folder_of(path, start, folder_path);
    return find_folder(folder_path);
}

void names_before_change(const char *path)
{
    char folder_path[NATIVE_PATH_SIZE];
    CachedFolder *folder = folder_of_entry(path, folder_path);
    if (!folder)
        return;
    // The lookup of this very call found it current (or listed it) a moment ago.
    if (folder->validated == lookup_count) {
        folder->in_step = 1;
        return;
    }
    struct stat st;
    if (OS_CALL(stat(folder_path, &st)) != 0 || folder->racy || !same_status(folder, &st)) {
        folder_clear(folder);
        return;
    }
    folder->in_step = 1;
}

void names_after_change(const char *path, int present)
{
    char folder_path[NATIVE_PATH_SIZE];
    CachedFolder *folder = folder_of_entry(path, folder_path);
    if (!folder)
        return;
    struct stat st;
    const char *name = path + last_component(path);
    if (!folder->in_step || OS_CALL(stat(folder_path, &st)) != 0) {
        folder_clear(folder);
        return;
    }
    if (present && folder_add(folder, name) != 0) {
        folder_clear(folder);
        return;
    }
    if (!present)
        folder_remove(folder, name);
    // What the folder holds is now known from the listing and the layer's own changes; its
    // new time cannot tell a change another program made in the same tick (see os.h).
    take_status(folder, &st);
    folder->racy = 0;
}

int names_keep_in_step(const char *path)
{
    char folder_path[NATIVE_PATH_SIZE];
    CachedFolder *folder = folder_of_entry(path, folder_path);
    if (!folder)
        return 0;
    if (lookup_count - folder->validated <= 2)
        return 1;
    folder_clear(folder);
    return 0;
}

void names_forget_all(void)
{
    for (int i = 0; i < CACHED_FOLDERS; i++)
        if (folders[i].path[0] != '\0' || folders[i].table || folders[i].text)
            folder_clear(&folders[i]);
}

void names_forget_folder(dev_t device, ino_t inode)
{
    for (int i = 0; i < CACHED_FOLDERS; i++)
        if (folders[i].path[0] != '\0' && folders[i].device == device &&
            folders[i].inode == inode)
            folder_clear(&folders[i]);
}

// ---- Listing order -------------------------------------------------------------------------

// "." and ".." first, as Windows lists them; then os_compare_names order, and byte order
// among names alike but for case, which only POSIX can hold.
static int listing_order(const void *first, const void *second)
{
    const char *a = *static_cast<char *const *>(first);
    const char *b = *static_cast<char *const *>(second);
    int a_rank = strcmp(a, ".") == 0 ? 0 : strcmp(a, "..") == 0 ? 1 : 2;
    int b_rank = strcmp(b, ".") == 0 ? 0 : strcmp(b, "..") == 0 ? 1 : 2;
    if (a_rank != b_rank || a_rank < 2)
        return a_rank - b_rank;
    int order = os_compare_names(a, b);
    return order != 0 ? order : strcmp(a, b);
}

// Every name of the folder, terminated one after another in *text (of *used bytes). The
// count, or -1 when memory runs out (*text then freed).
static long read_names(DIR *dir, char **text, size_t *used)
{
    size_t size = 0;
    long count = 0;
    *text = nullptr;
    *used = 0;
    struct dirent *entry;
    while ((entry = readdir(dir)) != nullptr) {
        size_t length = strlen(entry->d_name) + 1;
        if (*used + length > size) {
            size_t larger = size ? size * 2 : 4096;
            while (*used + length > larger)
                larger *= 2;
            char *grown = static_cast<char *>(realloc(*text, larger));
            if (!grown) {
                free(*text);
                return -1;
            }
            *text = grown;
            size = larger;
        }
        memcpy(*text + *used, entry->d_name, length);
        *used += length;
        count++;
    }
    return count;
}

char **names_read_listing(DIR *dir)
{
    char *text;
    size_t used;
    long count = read_names(dir, &text, &used);
    if (count < 0)
        return nullptr;
    size_t pointers = (static_cast<size_t>(count) + 1) * sizeof(char *);
    char **names = static_cast<char **>(malloc(pointers + used));
    if (names) {
        char *copy = reinterpret_cast<char *>(names) + pointers;
        if (used)
            memcpy(copy, text, used);
        for (long i = 0; i < count; i++) {
            names[i] = copy;
            copy += strlen(copy) + 1;
        }
        names[count] = nullptr;
        qsort(names, static_cast<size_t>(count), sizeof(char *), listing_order);
    }
    free(text);
    return names;
}
