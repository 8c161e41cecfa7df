// Directory walking: a walk over a folder (and, on request, its subfolders) that hands each
// file to a callback, the tree copy and tree removal built on it, and sorted filtered listings.
// The walk and the listings change the process's current folder: they make each folder
// current before they report or filter its entries, so callbacks reach an entry by its bare
// name. None of them may run beside other code that relies on relative paths.
// Path lengths count UTF-16 units, as in paths.h: "255 characters" is PATH_UNITS_MAX units,
// and a path buffer holds PATH_BUFFER_SIZE bytes.
#pragma once

#include <stdint.h>

#include "strings.h"

// The record a walk passes to its callback. It, the name and the directory text belong to
// the walk and are valid only during the callback. A callback may change the fields and the
// name text in place, never the directory text, and keeps no pointer to any of them.
struct WalkEntry {
    char *name;      // the file's name; "" for a directory-done event
    char *directory; // the walk's path buffer: a file's folder, or the finished subfolder
    int32_t size;    // the file's size in bytes (files of 2 GiB and more: -1); undefined
                     // for a directory-done event
    int32_t mode;    // 0777 ordinary, 0555 read-only, 0111 hidden or system (hidden or
                     // system wins); undefined for a directory-done event
    void *argument;  // the walk's argument, untouched
};

// A walk callback; the walk ignores its result. The callbacks here all return 0.
typedef int8_t (*WalkCallback)(WalkEntry *entry);

// Walks the folder in path, a modifiable PATH_BUFFER_SIZE buffer, and calls callback for
// each file, in the platform's listing order, while that file's folder is current. With
// recurse set, then walks each subfolder in listing order (appending "\\" and its name to
// path, cutting it back afterwards) and, after each subfolder's tree, reports a
// directory-done event (name "", directory the finished subfolder) while its parent is
// current. The start folder gets no directory-done event. A subfolder whose path would be
// longer than 255 characters is skipped with no event; one that cannot be entered reports
// nothing but its directory-done event. Recursive walks need an absolute start folder. On
// return path holds the start folder again, and the start folder is current when it could
// be entered.
// Result: 0, or -1 when the start folder cannot be made current or memory runs out for the
// subfolder list (nothing more is reported then).
int walk_directory(char *path, WalkCallback callback, void *argument, int8_t recurse);

// Callback of copy_tree; the argument is the destination root (text). Recreates the event's
// folder below the destination root and copies the file into it. An entry whose destination
// path would be longer than 255 characters is skipped. Result: 0.
int8_t copy_entry(WalkEntry *entry);

// Callback that adds the size of each file to the decimal number in the argument, a
// modifiable text buffer of at least 12 bytes (the sum is written back with "%d"; a file
// that cannot be opened adds -1). Result: 0.
int8_t add_file_size(WalkEntry *entry);

// Copies a file or a whole folder. A folder is copied under its own name into destination
// ('C:\src\car' to 'C:\dst' gives 'C:\dst\car'), printing the source folder on a line of its
// own; a file goes into destination when that is a folder, else to destination itself.
// Both paths should be absolute; a trailing backslash on a source folder is ignored.
// Result: 0; -1 when the source is missing, when it or the target path would be longer
// than 255 characters, when the source folder or the destination cannot be made current
// (the current folder then stays changed), or when the folder current before cannot be
// read or restored. Refused with -1 before any file is written: a file whose target is
// the file itself; a folder whose destination is the folder itself or lies inside it, or
// whose target (destination and the folder's name) already holds it or is it. A
// destination folder made for a refused copy is removed again.
int8_t copy_tree(const char *source, const char *destination);

// Deletes a file (whatever the pattern), or, for a folder, every file below it whose name
// matches the pattern and every subfolder that is empty after that. The emptied top folder
// stays (it is current afterwards, and the current folder cannot be removed); the caller
// moves away and removes it. A symbolic link or junction is removed itself, as a file is,
// and never entered, whether it is the path or lies below it: what it leads to stays whole.
// The removal holds each folder it empties and works through that hold (lib/os.h), so that
// a folder renamed or swapped for a link meanwhile cannot send it elsewhere; it does not go
// through the walk. Whatever cannot be removed (a read-only file, a file open in another
// program, a link the system shows as what it leads to) stays, and so do the folders that
// hold it: the caller tells by looking whether the folder is gone. Path should be absolute.
// Result: 0; -1 when the path names nothing or a folder path is longer than 255 characters.
int8_t remove_tree(const char *path, const char *pattern);

// The names in directory (subfolders included, "." and ".." never) for which
// filter(name, argument) gives exactly 1, sorted with sort_strings and ended by a null
// pointer. The filter runs while directory is current. The caller frees every name and
// then the array. Null when directory cannot be made current, memory runs out, or the folder
// current before cannot be read or restored.
char **list_directory(NameFilter filter, const char *directory, const char *argument);

// Prints the names in directory that match the wildcard pattern, sorted, one per line
// ("%s\n"). Prints nothing when the folder cannot be listed. Result: 0.
int8_t print_directory_list(const char *directory, const char *pattern);
