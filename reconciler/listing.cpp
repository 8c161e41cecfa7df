// The new folder's listing for Pelmora, and the fit of a car's paths.
#include "listing.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "os.h"
#include "utility.h"

int fits_path(const char *path, int length)
{
    return length >= 0 && length < PATH_BUFFER_SIZE && os_utf16_length(path) <= VEH_PATH_UNITS;
}

// Names alike but for case are one name here, as to Windows.
static int compare_names(const void *first, const void *second)
{
    return os_compare_names(*static_cast<const char *const *>(first),
                            *static_cast<const char *const *>(second));
}

int32_t find_listed(const ReconcileRun *run, const char *name)
{
    int32_t low = 0, high = run->sorted ? run->sorted_count : 0;
    while (low < high) {
        int32_t middle = low + (high - low) / 2;
        if (os_compare_names(run->sorted[middle], name) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low < run->sorted_count && os_compare_names(run->sorted[low], name) == 0 ? low : -1;
}

int is_case_twin(const ReconcileRun *run, const char *name)
{
    if (!(run->kinds & LISTED_TWINS))
        return 0;
    int32_t at = find_listed(run, name);
    return at >= 0 && at + 1 < run->sorted_count &&
           os_compare_names(run->sorted[at + 1], name) == 0;
}

void mark_named(const ReconcileRun *run, const char *name)
{
    if (!(run->kinds & LISTED_OUTPUTS))
        return;
    int32_t at = find_listed(run, name);
    if (at >= 0 && run->named)
        run->named[at] = 1;
}

// The LISTED_* bit a name brings (twins aside).
static int32_t kind_of(const char *name)
{
    char lower[OS_NAME_SIZE];
    snprintf(lower, sizeof lower, "%s", name);
    set_ascii_case(lower, ASCII_LOWER);
    size_t length = strlen(lower), suffix = sizeof OUTPUT_SUFFIX - 1;
    int32_t kind =
        length > suffix && strcmp(lower + length - suffix, OUTPUT_SUFFIX) == 0 ? LISTED_OUTPUTS : 0;
    return kind | (strncmp(lower, "new_", 4) == 0 ? LISTED_NEW_NAMES : 0);
}

// Sorts the names unless the listing gave them sorted already (as NTFS and the POSIX back end
// list), and notes whether two of them differ only in case.
static void sort_listed(Listing *listing)
{
    int twins = 0;
    for (int32_t at = 1; at < listing->count; at++) {
        int order = os_compare_names(listing->sorted[at - 1], listing->sorted[at]);
        twins |= order == 0;
        if (order > 0) {
            qsort(listing->sorted, static_cast<size_t>(listing->count), sizeof(char *),
                  compare_names);
            twins = 0;
            for (at = 1; at < listing->count; at++)
                twins |= os_compare_names(listing->sorted[at - 1], listing->sorted[at]) == 0;
        }
    }
    if (twins)
        listing->kinds |= LISTED_TWINS;
}

void free_listing(Listing *listing)
{
    free(listing->text);
    free(listing->order);
    free(listing->sorted);
    free(listing->named);
}

// Appends name. 0, or -1 when memory runs out.
static int add_name(Listing *listing, const char *name)
{
    uint32_t length = static_cast<uint32_t>(strlen(name)) + 1;
    if (listing->used + length > listing->size) {
        uint32_t size = listing->size ? listing->size * 2 : 4096;
        void *grown = realloc(listing->text, size);
        if (!grown)
            return -1;
        listing->text = static_cast<char *>(grown);
        listing->size = size;
    }
    if (listing->count == listing->capacity) {
        int32_t capacity = listing->capacity ? listing->capacity * 2 : 256;
        void *grown = realloc(listing->order, static_cast<size_t>(capacity) * sizeof(char *));
        if (!grown)
            return -1;
        listing->order = static_cast<char **>(grown);
        listing->capacity = capacity;
    }
    listing->kinds |= kind_of(name);
    memcpy(listing->text + listing->used, name, length);
    // Offsets until the text stops moving; made pointers in list_files.
    listing->order[listing->count++] =
        reinterpret_cast<char *>(static_cast<uintptr_t>(listing->used));
    listing->used += length;
    return 0;
}

int list_files(const char *folder, Listing *listing)
{
    memset(listing, 0, sizeof *listing);
    OsDirList *list = os_list_open(folder);
    if (!list)
        return -1;
    OsDirEntry entry;
    int result = 0;
    while (result == 0 && os_list_next(list, &entry))
        if (!(entry.attributes & OS_ATTR_DIRECTORY))
            result = add_name(listing, entry.name);
    os_list_close(list);
    size_t bytes = static_cast<size_t>(listing->count) * sizeof(char *);
    listing->sorted = static_cast<char **>(malloc(bytes + 1));
    listing->named = static_cast<int8_t *>(calloc(static_cast<size_t>(listing->count) + 1, 1));
    if (result != 0 || !listing->sorted || !listing->named)
        return -1;
    for (int32_t at = 0; at < listing->count; at++)
        listing->order[at] = listing->text + reinterpret_cast<uintptr_t>(listing->order[at]);
    if (listing->count > 0)
        memcpy(listing->sorted, listing->order, bytes);
    sort_listed(listing);
    return 0;
}

int32_t count_vehicle_files(const char *new_folder, const char *reference_folder)
{
    OsDirList *list = os_list_open(new_folder);
    if (!list)
        return -1;
    int32_t count = 0;
    OsDirEntry entry;
    while (os_list_next(list, &entry)) {
        if (entry.attributes & OS_ATTR_DIRECTORY)
            continue;
        set_ascii_case(entry.name, ASCII_LOWER);
        char reference[PATH_BUFFER_SIZE];
        OsFileStatus status;
        if (match_wildcard(entry.name, "*.veh") != 1)
            continue;
        int length = snprintf(reference, sizeof reference, "%s%c%s", reference_folder, SEPARATOR,
                              entry.name);
        if (fits_path(reference, length) && os_file_status(reference, &status) == 0 &&
            !status.is_directory)
            count++;
    }
    os_list_close(list);
    return count;
}
