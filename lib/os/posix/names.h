// Inside the POSIX back end only: names looked up without regard to case, as Windows
// finds them, with the listings of recently used folders kept so that a name that does not
// exist as written costs one status query of its folder instead of a read of the folder.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

enum { NATIVE_PATH_SIZE = 4096 };

enum {
    NAMES_MISSING = 0,  // the last component, or a folder before it, has no entry
    NAMES_EXISTS = 1,   // the path names an existing entry (its case now the entry's)
    NAMES_UNCHECKED = 2 // the last component was left as written (keep_last)
};

// Gives each component of the native path that does not exist as written the case of an
// existing entry (os_compare_names), from the first component on; the lowest such name in
// byte order when several fold alike. Stops at the first component with no match at all, so
// a name about to be created keeps its case as written. The last component is left alone
// when keep_last. Names alike have one length, so the path changes in place. When the path
// does not exist as written and its last component ends in dots or blanks, they are cut
// (as Windows cuts them) and the shorter path looked up instead. NAMES_* result; with
// NAMES_EXISTS, *st holds the entry's status as lstat gives it.
int names_resolve_case(char *path, int keep_last, struct stat *st);

// Brackets a change the layer itself makes to the entry at the native path (a create,
// delete, rename or folder creation or removal): the cached listing of its folder takes the
// change only when the folder was unchanged just before it, else the listing is dropped.
// names_after_change is called once the change succeeded; present is 1 when the entry now
// exists, 0 when it is gone.
void names_before_change(const char *path);
void names_after_change(const char *path, int present);

// For a create made without a lookup of its own, before it: 1 when the entry's folder has a
// cached listing that the last lookups used (names found in another case, as a folder of
// upper-case names needs at every file), which names_before_change and names_after_change
// then keep in step; else 0, and a cached listing of it is dropped, at no cost of a system
// call, to be read again when a lookup needs it.
int names_keep_in_step(const char *path);

// Drops every cached listing: after a started program ran, which may have changed any folder.
void names_forget_all(void);
// Drops the cached listings of the folder of that identity, whatever path it was looked up by.
void names_forget_folder(dev_t device, ino_t inode);

// Reads the rest of the open folder's names: "." and ".." first, then the others ordered by
// os_compare_names (alike ones in byte order), as Windows lists a folder on NTFS. One
// allocation, which the caller frees: an array of names ending with a null pointer. Null
// when memory runs out.
char **names_read_listing(DIR *dir);
