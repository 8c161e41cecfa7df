// The one door to the operating system. Every path here is a Windows path (backslash
// separators, optional drive letter) on both targets; the POSIX back end translates it.
// Results follow the library's convention: 0 for success, -1 for failure, unless a routine
// says otherwise.
//
// Names are found without regard to case on both targets, as Windows finds them (on POSIX
// through os_compare_names): an existing entry's case wins (on POSIX the lowest in byte order
// when several fold alike), and a created name keeps its case as written. On POSIX, a name
// whose last part ends in dots or blanks and that does not exist as written is taken without
// them, as Windows takes every such name; an entry whose own name ends so is still found by
// that name. The POSIX back end keeps the listings of the last few folders it looked into, each
// trusted while the folder's device, inode and modification time (in nanoseconds) are
// unchanged, and updated by the layer's own creates, deletes, renames and folder changes; a
// started program may change any folder, so os_run_program drops them all. A name found in
// another case is checked to exist before it is used. What the layer cannot see: a change by
// another program that leaves the folder's modification time exactly as it was, as a file
// system with coarse timestamps does within one tick of its clock. A listing taken while the
// folder's time is as new as that clock is therefore read again at its next use (Git distrusts
// index entries as new as the index the same way); but a name another program creates or
// deletes in the same tick right after one of the layer's own changes to that folder stays
// unseen until the folder's time next moves. Kernels that give a folder a distinct fine-grained
// time once its time has been read (Linux 6.13 and later on ext4, XFS, Btrfs and tmpfs) leave
// only the instant between the layer's change and its reading of the time.
#pragma once

#include <stdint.h>
#include <stdio.h>

// ---- Sizes ----------------------------------------------------------------------------
//
// Windows limits a path in UTF-16 code units: MAX_PATH (260, NUL counted) for the programs'
// own paths, up to OS_PATH_UNITS here where the layer reaches past it (a removal, a final
// path). One UTF-16 unit takes at most 3 bytes of UTF-8 (a character past U+FFFF takes 4 for
// its 2 units), so a buffer of OS_PATH_SIZE bytes holds every path the layer gives, and one of
// OS_NAME_SIZE bytes every name of one entry (255 units at most on NTFS). Every path buffer of
// the layer has OS_PATH_SIZE bytes.
enum { OS_PATH_UNITS = 1024, OS_PATH_SIZE = OS_PATH_UNITS * 3, OS_NAME_SIZE = 768 };

// ---- File status ----------------------------------------------------------------------

struct OsFileStatus {
    int32_t is_directory; // 1 for a folder, 0 for anything else
    int32_t is_file;      // 1 for a plain file; 0 for a folder, a pipe, a device, a socket
    uint32_t size;        // bytes; files of 4 GiB and more report 0xFFFFFFFF
};

// Fills *status for an existing file or folder. 0, or -1 when the path names nothing. A link
// at path: POSIX follows it (-1 when it dangles); Windows reports the link itself (a folder
// link or junction as a folder, a file link as a file of size 0).
int os_file_status(const char *path, OsFileStatus *status);

// 1 when the path names an existing file or folder (no access rights asked), else 0. A link
// at path: POSIX follows it (0 when it dangles); Windows counts the link itself.
int os_exists(const char *path);

// Writes the system's words for why the last failed call of this layer failed ("Permission
// denied", "Access denied", "The process cannot access the file because it is being used by
// another process"), without a line end or a final full stop, in UTF-8, cut to fit between
// two characters. Call it before anything else can fail. Result: buffer.
const char *os_error_text(char *buffer, uint32_t size);

// ---- Another program's moment ---------------------------------------------------------
//
// An antivirus or an indexer opens each new or changed file for a moment, sharing only
// reading. On Windows a rename, delete, open or create that such an open refuses (the system's
// sharing or lock violation) is tried again every 50 ms for about 400 ms in all, and when it
// still fails, os_error_text gives the system's reason ("The process cannot access the file
// because it is being used by another process"), never "not found". Every other failure
// (a read-only file, a missing one) is given at once. POSIX has no such refusal: an open file
// is renamed, deleted and opened beside its holder, so nothing there waits. Each such call
// counts as one operation for the fault injection, however often it is tried, and an injected
// fault is never tried again.

// ---- Descriptors, always binary ------------------------------------------------------

enum {
    OS_OPEN_READ = 1,       // read only
    OS_OPEN_READ_WRITE = 2, // read and write
    OS_OPEN_CREATE = 4,     // create when missing (owner read and write, octal 600)
    OS_OPEN_TRUNCATE = 8,   // cut an existing file to zero length
    OS_OPEN_APPEND = 16     // every write goes to the end
};

enum { OS_SEEK_SET = 0, OS_SEEK_CUR = 1, OS_SEEK_END = 2 };

// A descriptor (0 or more), or -1. A read-only file does not open for writing or
// truncation, for any user, as on Windows. Follows a link at path. Started programs do not
// inherit the descriptor.
int os_open(const char *path, int flags);
// Bytes read (0 at the end), or -1 on a read error.
int32_t os_read(int fd, void *buffer, uint32_t count);
// Bytes written, or -1.
int32_t os_write(int fd, const void *buffer, uint32_t count);
// The new position from the start of the file, or -1.
int64_t os_seek(int fd, int64_t offset, int whence);
int os_close(int fd);

// ---- Streams -------------------------------------------------------------------------

// Opens a C stream in binary mode whatever the mode says ("r", "w", "a", "r+", "w+", with or
// without "b" or "t"); text mode is the library's own (lib/stream.h). Null on failure,
// and for a mode that writes ("w", "a", "+") to a read-only file. "wx" creates the file
// only when nothing of that name (in any case) exists: null when something does. Follows a
// link at path ("wx": a dangling link counts as something there). Started programs do not
// inherit the stream's descriptor.
FILE *os_open_stream(const char *path, const char *mode);
// Closes a stream from os_open_stream, writing out what it still buffers. 0, or -1 when that
// write or the close failed.
int os_close_stream(FILE *stream);

// ---- Folders and files ---------------------------------------------------------------

// Writes the current folder into buffer: 'Z:\a\b' form, no trailing backslash except at the
// root of a drive ('Z:\'). 0, or -1 when it does not fit (buffer then holds "").
int os_get_current_directory(char *buffer, uint32_t size);
int os_change_directory(const char *path);
// Creates one folder level.
int os_make_directory(const char *path);
// Removes an empty folder; refuses the process's current folder, as Windows does. A link
// at path is never followed: POSIX refuses it, Windows removes the link or junction itself.
int os_remove_directory(const char *path);
// Deletes a file; refuses a folder and a read-only file, as Windows does. A link at path is
// deleted itself, never what it leads to. On Windows the entry is opened itself and deleted
// through that handle only when its final path is the path named in its folder, which
// refuses a Linux link that Wine shows as the file it leads to (and would delete that).
int os_delete_file(const char *path);
// Renames a file or folder; fails when the source is missing or the target exists. A link at
// from is renamed itself, never what it leads to.
int os_rename_no_replace(const char *from, const char *to);
// Orders two names as Windows orders and matches names without regard to case: by their
// upper-case forms, compared as UTF-16 code units, as NTFS compares them. A name that is
// well-formed UTF-8 goes through the simple Unicode upper-case mapping (Latin, Greek,
// Cyrillic: 'ü' and 'Ü' are alike, 'ß' stays itself), any other name by its bytes with a to z
// upper-cased, a byte past ASCII after every character. Alike on both targets. <0, 0 or >0.
int os_compare_names(const char *first, const char *second);
// 1 when both paths name one existing file or folder, however they are spelled (another
// case, '.\', an absolute path, a link): the same device and inode on POSIX, the same
// volume serial number and file index on Windows. 0 when they differ or either is missing.
// Follows a link at either path.
int os_same_file(const char *first, const char *second);

// Sets the read-only, hidden and system attributes of a file to those in attributes
// (OS_ATTR_* bits). On POSIX only read-only has an effect (write permission removed); a name
// that begins with "." is what makes an entry hidden there. A link at path: POSIX changes
// what it leads to; Windows the link itself.
int os_set_attributes(const char *path, int32_t attributes);
// Gives a copied program file the right to run (POSIX: mode 755); nothing to do on Windows.
int os_make_executable(const char *path);

// ---- Folder listing ------------------------------------------------------------------

enum {
    OS_ATTR_READONLY = 0x01,
    OS_ATTR_HIDDEN = 0x02,
    OS_ATTR_SYSTEM = 0x04,
    OS_ATTR_DIRECTORY = 0x10
};

struct OsDirEntry {
    char name[OS_NAME_SIZE]; // the entry's name as stored, UTF-8
    uint32_t size;      // bytes (0xFFFFFFFF for files of 4 GiB and more)
    int32_t attributes; // OS_ATTR_* bits
};

struct OsDirList;

// Lists every entry of a folder, "." and ".." included, hidden and system entries too.
// Windows on NTFS lists "." and ".." first and then the names in os_compare_names order; the
// POSIX back end lists them the same way on every file system (names alike but for case in
// byte order), so that the programs work in one order everywhere. Windows on other file
// systems, and Wine, list in the order the file system gives. Null when the folder cannot be
// listed. Follows a link at directory.
OsDirList *os_list_open(const char *directory);
// 1 and *entry filled for the next entry, 0 at the end (or on an error). An entry that is a
// link: POSIX gives what it leads to (the link itself when it dangles); Windows the link
// itself (a folder link or junction with OS_ATTR_DIRECTORY, size 0).
int os_list_next(OsDirList *list, OsDirEntry *entry);
void os_list_close(OsDirList *list);

// ---- Processes and environment -------------------------------------------------------

// The full path of the running program file ('Z:\...' on POSIX). 0, or -1 when it does not
// fit (buffer then holds "").
int os_program_path(char *buffer, uint32_t size);

// The suffix of program files on this platform: ".exe" on Windows, "" on POSIX.
extern const char os_program_suffix[];

// Starts a program in the current folder with a whole command line and waits for its end.
// A program name without an extension gets ".EXE"; the name is never looked up along PATH.
// On POSIX the command line is split into arguments by the Windows C runtime's rules and a
// name that has no ".EXE" twin is also tried as written, so native programs can be started.
// input_path, output_path and error_path redirect the standard handles when not null
// (files are created or truncated). The program inherits the run locks held (os_lock_take)
// and, on Windows, the process's other inheritable handles. Result: 0 and *exit_status set
// when the program ran, -1 when it could not be started.
int os_run_program(const char *program, const char *command_line, const char *input_path,
                   const char *output_path, const char *error_path, int *exit_status);

// Copies the value of an environment variable into buffer. On POSIX a PATH in Unix form
// ('/a:/b') is given in Windows form ('Z:\a;Z:\b'). Result: the value's length, -1 when the
// variable is not set, -2 when it does not fit (buffer then holds "").
int os_get_environment(const char *name, char *buffer, uint32_t size);
// Sets (value not null) or removes (value null) an environment variable.
int os_set_environment(const char *name, const char *value);

// ---- Console -------------------------------------------------------------------------
//
// The programs' text is UTF-8. A Windows console types and shows UTF-16, whatever its code
// pages: the Windows back end reads and writes a console through ReadConsoleW and
// WriteConsoleW. A file or a pipe is where the ANSI code page appears: output sent there
// is converted to it, and piped input that is not UTF-8 is read in it. POSIX passes every
// byte unchanged.

// Prints like printf to standard output (os_print) or standard error (os_print_error).
// The text is UTF-8. POSIX passes its bytes unchanged. Windows shows it on a console as it
// is (WriteConsoleW, no code page between, after what the C streams still buffer), and sends
// it to a file or a pipe through the C stream in the ANSI code page, the bytes a batch file
// reading it expects; each character that page lacks, and each byte that is no UTF-8, is sent
// as one '?'. The number of bytes of the formatted text, or -1.
int os_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
int os_print_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Call once at the start of a program: when standard output or error is a Windows console,
// sets the console's output code page to the ANSI code page, for the ANSI programs the run
// starts in it (the archive tool), and back to the one it had at exit (also when Ctrl-C,
// Ctrl-Break or closing the window ends the program). Nothing on POSIX, or when no console
// is attached.
void os_prepare_console(void);

// Drops input that was typed ahead and is still waiting, when standard input is a console;
// a pipe or a file is left alone. Also drops what is left of a typed line read so far,
// and a Ctrl-Z typed before: the console's next line is read afresh.
void os_discard_console_input(void);

// 1 when standard input is a console or terminal (a user typing), 0 for a pipe, a file or
// the NUL device.
int os_input_is_console(void);

// The next byte of standard input, in UTF-8, or EOF at its end. A UTF-8 mark (EF BB BF) at
// the very start of the input is skipped on both targets, as Notepad may save one. From a
// Windows console the typed characters come in UTF-8 (one to four bytes each), and a Ctrl-Z
// ends the input until os_discard_console_input. Piped into a Windows program, a line (of up
// to 800 bytes) of ASCII or of valid UTF-8 comes as it is, one holding a NUL byte (UTF-16
// text) byte for byte, and any other line is read in the ANSI code page and comes in UTF-8.
// Every input on POSIX comes byte for byte as getchar gives it.
int os_read_input_char(void);

// The decision behind os_console_window_is_own: 1 when standard input and output are both
// a console and the process is the only one attached to it (the console was made for the
// program, as by a double click), else 0. attached_processes is 0 when unknown.
int os_console_is_own(int input_is_console, int output_is_console, uint32_t attached_processes);
// 1 when the program's console window closes with it (os_console_is_own on this process's
// facts); always 0 on POSIX.
int os_console_window_is_own(void);
// Call at the very end of a program: when os_console_window_is_own, drops typed-ahead
// input, prints "Press Enter to close this window." and waits for Enter or the end of
// input, so the user can read the output. Otherwise does nothing.
void os_hold_own_console_window(void);

// ---- Temporary folders (tests and tools) ---------------------------------------------

// Creates a new, empty folder with a unique name under the system's temporary folder and
// writes its path into buffer. 0, or -1.
int os_make_temp_directory(char *buffer, uint32_t size);

// ---- Paths as the system resolves them -----------------------------------------------
//
// Each writes a path in 'Z:\a\b' form into buffer (size bytes, NUL counted): no trailing
// backslash except at the root of a drive ('Z:\'). 0, or -1 (buffer then holds "" when
// size > 0) when the path cannot be resolved or the result does not fit.

// The full path as Windows forms it (GetFullPathName), links not followed, nothing looked
// up: '/' reads as '\', '.' and '..' fold (never above the root), a relative path joins
// the current folder, '\x' the current drive's root. 'D:' alone is the current folder
// when that is on drive D, 'D:x' a path inside it; on another drive they stand for 'D:\'
// and 'D:\x'. (POSIX: the current folder is always on Z:; a '\\server' path gives -1.)
// Trailing blanks and dots of the last part: Windows drops them, POSIX keeps them.
int os_full_path(const char *path, char *buffer, uint32_t size);
// The path of an existing file or folder with every symbolic link and junction on the way
// resolved, in the case stored on disk: where it really lies. -1 also when it names nothing.
int os_final_path(const char *path, char *buffer, uint32_t size);
// 1 when the last part of the path is itself a symbolic link or a junction (on Windows any
// reparse point), whether or not its target exists; 0 when it is another entry; -1 when
// the path names nothing. A trailing backslash is ignored.
int os_is_link(const char *path);

// ---- Names inside, and the ANSI code page at the edge -----------------------------------
//
// Every name this layer takes or gives is UTF-8, on both targets: no byte of a character
// beyond ASCII is ever '\', '.', ':' or a letter, so byte routines on names stay right. The
// Windows back end speaks UTF-16 to the system. The ANSI code page of a Windows system
// (1252, 1251, 932...) appears only where the outside world demands it: lines of a text file
// that are not UTF-8, output sent to a file or a pipe (os_print), names handed to an ANSI
// program, bytes written for the game. POSIX has no ANSI code page: its forms are the UTF-8
// text itself.

// 1 when text is well-formed UTF-8 holding a byte beyond ASCII, else 0; alike on both targets.
int os_text_is_utf8(const char *text);
// Converts text read in the ANSI code page (a line that is not UTF-8) into UTF-8 in place,
// size bytes of room (NUL counted). 0; -1 when the result does not fit, text then unchanged.
// POSIX: nothing changes, 0.
int os_ansi_to_utf8(char *text, uint32_t size);
// Converts UTF-8 text into the ANSI code page in place, size bytes of room (NUL counted).
// 0; -1 when a character has no form in that page (no best-fit stand-in is ever taken; a
// UTF-8 ANSI code page has every character) or the result does not fit, text then
// unchanged. POSIX: nothing changes, 0.
int os_utf8_to_ansi(char *text, uint32_t size);
// The number of bytes of the ANSI form of UTF-8 text, its terminator not counted; -1 when a
// character has no form in that page. POSIX: strlen(text).
int os_ansi_length(const char *text);
// The number of bytes of the character at name + position: the length of the UTF-8
// sequence there when name is well-formed UTF-8, else 1; 0 at the NUL. Alike on both targets.
int os_char_length(const char *name, uint32_t position);
// The length of UTF-8 text in UTF-16 code units, as Windows counts a path against MAX_PATH
// (a character past U+FFFF counts 2; a byte that is no UTF-8 counts 1). Alike on both targets.
uint32_t os_utf16_length(const char *text);

// ---- Removal that never follows a link -----------------------------------------------
//
// A folder held while its entries are removed: opened once, without following a link at its
// last part, and reached from then on through the hold, never by its path again, so that a
// renamed parent folder cannot send the removal elsewhere. The POSIX back end works relative
// to the open folder (openat, unlinkat, entries never followed). The Windows back end holds
// the folder without sharing deletion, so that nobody renames or removes it meanwhile, opens
// each entry itself (a symbolic link or junction as itself), and touches an entry only while
// its final path lies in the held folder: Wine shows a Linux link as the file or folder it
// leads to, and would delete or empty that.

// A symbolic link or junction among a held folder's entries, whatever it leads to.
enum { OS_ATTR_LINK = 0x400 };

struct OsHeldFolder;

// Holds the folder at path. Null when path names nothing, no folder, or a link or junction
// (whatever it leads to), or when the folder cannot be opened.
OsHeldFolder *os_hold_folder(const char *path);
// Holds the subfolder name (one part, as os_held_next gives it) of a held folder, the same
// way; null also when its final path does not lie in the held folder. Release it before
// the folder that holds it.
OsHeldFolder *os_hold_subfolder(OsHeldFolder *folder, const char *name);
// The next entry of a held folder, "." and ".." left out, whatever characters its name holds:
// 1 and *entry filled, 0 at the end.
// In os_list_next's order and with its attributes, but for a link or junction, which has
// OS_ATTR_LINK and never OS_ATTR_DIRECTORY. (Under Wine a Linux link shows as what it leads
// to; os_hold_subfolder and os_held_delete refuse it.)
int os_held_next(OsHeldFolder *folder, OsDirEntry *entry);
// Removes the entry name of a held folder (found as os_held_open_file finds it) when it is a
// file, or a link or junction: the link itself, never what it leads to. Refuses a folder, a
// read-only file, a file another program holds without sharing deletion (Windows), and an
// entry whose final path does not lie in the held folder. 0, or -1 (OS_FAULT_DELETE applies).
int os_held_delete(OsHeldFolder *folder, const char *name);
// Makes a held folder the current folder. 0, or -1.
int os_held_make_current(OsHeldFolder *folder);
// Ends a hold. With remove set, a folder held with os_hold_subfolder is first removed when it
// is empty by then and is not the current folder (Windows refuses that); a folder held with
// os_hold_folder is never removed. 0, or -1 when the removal asked for failed.
int os_release_folder(OsHeldFolder *folder, int remove);

// ---- Run locks -----------------------------------------------------------------------
//
// A lock file of a fixed name says "a run works here" to other runs. The lock belongs to
// the open file, not to the file's existence: the system drops it when the holder ends,
// killed included, so a lock file that nobody holds is simply taken over. Programs started
// with os_run_program inherit it (POSIX: flock() on an inherited descriptor; Windows: an
// inheritable handle whose share mode refuses other writers), so a folder stays locked
// while a started tool still runs after the holder was killed. On Windows any program that
// holds the file open without sharing writing (a viewer, an editor) keeps the lock from
// being taken as well: the system cannot tell it from a run.
//
// The lock file is found as it is on disk, never through a link: it is opened without
// following one and without waiting (a pipe or a device never blocks the run), and proven on
// the open file before anything is written, cut or removed: a plain file with one name, not
// a symbolic link or junction (other reparse points, such as cloud-sync placeholders, are
// plain files here), whose final path is the one expected (which also catches the Linux
// links Wine shows as plain files). A missing one is created as any file the programs make.

struct OsRunLock {
    intptr_t handle; // POSIX: the descriptor; Windows: the HANDLE; -1 when not held
    char path[OS_PATH_SIZE]; // the lock file's full path (os_full_path of the one given)
};

// The results of os_lock_take.
enum {
    OS_LOCK_TAKEN = 0,
    OS_LOCK_HELD = 1,      // another run (or another open in this one) holds the lock
    OS_LOCK_FAILED = -1,   // cannot be opened or created: os_error_text gives the reason
    OS_LOCK_IN_USE = 2,    // Windows: another program holds the file open, sharing no writing
    OS_LOCK_LINK = 3,      // a symbolic link or junction, dangling or not, or a name that
                           // leads to a file elsewhere
    OS_LOCK_HARD_LINK = 4, // a file with more than one name (a hard link)
    OS_LOCK_FOLDER = 5,    // a folder
    OS_LOCK_DEVICE = 6,    // a pipe, a device or a socket
    OS_LOCK_READ_ONLY = 7, // a read-only file (unpacked from a CD, a read-only zip)
    OS_LOCK_FOREIGN = 8    // a plain file holding text that is not the caller's
};

// The words for a refused lock file, to follow its name in a line: for OS_LOCK_LINK,
// "is a symbolic link or junction: remove the link (not what it leads to)", and so on for
// OS_LOCK_HARD_LINK, OS_LOCK_FOLDER, OS_LOCK_DEVICE, OS_LOCK_READ_ONLY and OS_LOCK_FOREIGN
// (each saying what to do); "" for the other results.
const char *os_lock_refusal(int result);

// Opens or creates the lock file at path (never truncating it), proves it as above and
// takes its lock without waiting. Once locked, makes sure the name still leads to the file
// it locked, and starts again when not (another run removed it in between); a lock held
// elsewhere is asked again for about 50 ms, so that a run that ends at that moment does not
// refuse the next. The text found is the caller's when it is empty or, with own_head not
// null, begins with own_head; other text leaves the file as it is (OS_LOCK_FOREIGN).
// OS_LOCK_TAKEN fills *lock and previous with the text found (a killed run's record; ""
// for a new file), NUL-terminated, cut to previous_size - 1 bytes. Any other result leaves
// *lock not held and nothing created, written or removed, there or elsewhere. previous may be
// null when previous_size is 0. Counts as a create for OS_FAULT_CREATE.
int os_lock_take(const char *path, OsRunLock *lock, const char *own_head, char *previous,
                 uint32_t previous_size);
// Writes text into a held lock file in place, from its start, in one call straight to the
// system, then cuts the file to that length: a kill of the holder at any moment leaves the
// new text whole, possibly followed by the end of the longer text before it (end a record
// with a marker line, and read it up to the first such line). 0, or -1 (OS_FAULT_WRITE
// applies).
int os_lock_write(OsRunLock *lock, const char *text);
// Removes the lock file, then drops the lock (a run that opened the file just before its
// removal sees that the name no longer leads to its file and starts again). Does nothing
// for a lock not held; afterwards lock->handle is -1. The file is removed only while its
// name still leads to the file held, as a plain file. A failed removal (OS_FAULT_DELETE)
// leaves an unlocked file, which the next run takes over.
void os_lock_release(OsRunLock *lock);

// ---- Folder holds --------------------------------------------------------------------
//
// A run holds the folders it works on for as long as it relies on them, without creating or
// writing anything in them (a folder on a read-only medium can be held shared): POSIX takes
// flock() on the folder's own descriptor; Windows keeps a handle on the folder itself
// (FILE_FLAG_BACKUP_SEMANTICS) that does not share writing or deletion. A shared hold goes
// with other shared holds; an exclusive hold goes with no other hold. The system drops a
// hold when its holder ends, killed included; programs the holder starts do not inherit it.
// Side effects on Windows: while any hold lasts, no program can rename, move or delete the
// folder or open the folder itself for writing; an exclusive hold also needs the right to
// add files to the folder. Files inside a held folder open, change and go as always. On a
// POSIX file system that cannot lock a folder (NFS), a hold excludes no one.

enum { OS_HOLD_SHARED = 0, OS_HOLD_EXCLUSIVE = 1 };

struct OsFolderId {
    uint64_t volume; // POSIX: the device; Windows: the volume serial number
    uint64_t index;  // POSIX: the inode; Windows: the file index
};

struct OsFolderHold {
    intptr_t handle; // POSIX: the descriptor; Windows: the HANDLE; -1 when not held
    OsFolderId id;   // the identity of the folder held
};

// The identity of an existing folder (follows a link at path), which orders holds: runs that take
// several take them in os_compare_folder_ids order, so that two of them never each hold
// what the other waits for. 0, or -1 (os_error_text) when path names no folder.
int os_folder_id(const char *path, OsFolderId *id);
// <0, 0 or >0 as first comes before, is, or comes after second.
int os_compare_folder_ids(const OsFolderId *first, const OsFolderId *second);
// Holds the folder at path, shared or exclusive (OS_HOLD_*), following a link at path. A hold
// refused because of another is tried again for about 50 ms. Results:
//    0  held: *hold filled (hold->id the identity of the folder opened);
//    1  another process (or another hold in this one) holds it in a way that conflicts;
//    2  POSIX: another program holds it, with a flock taken other than through this layer
//       (flock -x); Windows gives 1 for every holder;
//   -1  the folder cannot be opened (os_error_text gives the system's reason).
// *hold is not held unless the result is 0.
int os_folder_hold(const char *path, int mode, OsFolderHold *hold);
// Ends the hold; nothing for a hold not held. Afterwards hold->handle is -1.
void os_folder_release(OsFolderHold *hold);

// ---- Random bytes --------------------------------------------------------------------

// Fills buffer with size bytes from the system's random source (POSIX: /dev/urandom;
// Windows: RtlGenRandom, through the C runtime's rand_s). 0, or -1 when the source cannot be
// read (os_error_text says why), buffer then partly filled.
int os_random(void *buffer, uint32_t size);

// ---- Fault injection -----------------------------------------------------------------

// Makes the nth call from now of one kind of operation fail (n = 1 is the next call); 0
// disarms. Only tests arm it; the programs never do. The kinds:
//   OS_FAULT_WRITE   os_write, os_lock_write, os_replace_content (after the cut), and
//                    os_close_stream (where a stream's buffer is written)
//   OS_FAULT_RENAME  os_rename_no_replace, os_held_rename, os_held_move
//   OS_FAULT_DELETE  os_delete_file, os_delete_created, os_held_delete (of an entry that is
//                    there), os_held_delete_created, and the removal in os_lock_release
//   OS_FAULT_CREATE  os_open with OS_OPEN_CREATE or OS_OPEN_TRUNCATE, os_open_stream with a
//                    mode that writes, os_make_directory, os_lock_take, os_create_new, os_held_create_new
//   OS_FAULT_START   os_run_program (the program is not started)
//   OS_FAULT_READ    os_read: streams read only for reading, and the library's copies,
//                    read through it
enum {
    OS_FAULT_WRITE = 0,
    OS_FAULT_RENAME = 1,
    OS_FAULT_DELETE = 2,
    OS_FAULT_CREATE = 3,
    OS_FAULT_START = 4,
    OS_FAULT_READ = 5,
    OS_FAULT_KINDS = 6
};
void os_inject_fault(int kind, int nth);
// 1 while a fault of the kind is armed and has not fired yet, else 0: a run that ends with
// its fault still armed went through without meeting it.
int os_fault_armed(int kind);

// ---- Files opened once ---------------------------------------------------------------
//
// A file read, checked and rewritten through one handle, so that what is checked is what is
// written: the name is looked at again only to prove that it still leads to that file.

struct OsOpenFile {
    int fd;              // a descriptor for os_read and os_close; -1 when not open
    OsFileStatus status; // from the open handle
    uint64_t volume;     // with index, the file's identity: device and inode on POSIX, the
    uint64_t index;      // volume serial number and file index on Windows
    uint32_t names;      // its names (hard links), 1 for most files
};

// Opens path (links followed) for reading, and for writing too when for_writing is 1, without
// waiting for anything (a FIFO or a device opens at once; POSIX: O_NONBLOCK | O_NOCTTY), and
// fills *file from the opened handle. The name is tried as written first and looked up
// without regard to case only when that names nothing, so an existing file costs one open
// and one status call. Opening for writing is refused for a read-only file, as on Windows. A
// folder opens for reading on POSIX (status.is_directory tells); on Windows it gives -1.
// 0, or -1 (os_error_text says why; file->fd is -1).
int os_open_file(const char *path, int for_writing, OsOpenFile *file);

// 1 when the name path, a name inside folder (a final path as os_final_path gives it), looked
// at without following a link at its end, still leads to the file open in *file (a link there
// that leads to it counts), and that file's final path (links resolved) lies inside folder;
// else 0 (also when path names nothing now). POSIX asks for the final path only of a name that
// is a link; Windows, where Wine shows a Linux link as a plain file, of every name.
int os_file_is_still_at(const OsOpenFile *file, const char *path, const char *folder);

// Replaces what the file open for writing in *file holds with size bytes: cut to nothing,
// then written from its start, so that a run cut off leaves it empty or a start of bytes.
// 0, or -1 (OS_FAULT_WRITE applies).
int os_replace_content(const OsOpenFile *file, const void *bytes, uint32_t size);

// Creates the file path for writing only when nothing of that name exists, never following a
// link there. Windows refuses a name that exists in any case; POSIX only one spelled exactly
// so, and leaves names that differ in case to the caller's own listing. A descriptor, or -1
// (OS_FAULT_CREATE applies).
int os_create_new(const char *path);
// Deletes the file that os_create_new made at path through fd, its descriptor, which is
// closed either way: only while path still names that file (Windows keeps the name on it, as
// it was opened without sharing deletion; POSIX compares the two identities first). 0, or -1
// (OS_FAULT_DELETE applies).
int os_delete_created(int fd, const char *path);

// ---- Counting system calls -----------------------------------------------------------

// The number of system calls the layer made so far, in test builds (where the library is
// built with OS_COUNT_CALLS): the calls a file's handling makes (status, open, read, write,
// close, delete, listing), so that a test can hold a program to a budget per file. Always 0
// in the programs as released.
uint32_t os_system_calls(void);

// ---- Flushing to the disk ------------------------------------------------------------
//
// A file's data sits in the system's memory until the system writes it out; a power loss
// before that loses it, while a cut or a delete already on the disk stays. A program that
// replaces text it cannot make again flushes the copy first.

// Waits until what was written to fd, a descriptor open for writing, is on the disk (POSIX:
// fdatasync; Windows: FlushFileBuffers). path names the file, for the recorder below only.
// 0, or -1 (os_error_text says why).
int os_flush_file(int fd, const char *path);

// Tests record the flushes: observer, when not null, is called after each os_flush_file that
// succeeded, with its path and context; null stops the record. The programs never set one.
typedef void (*OsFlushObserver)(const char *path, void *context);
void os_observe_flushes(OsFlushObserver observer, void *context);
// Calls the observer set, if any (the back ends' os_flush_file, after a flush).
void os_flush_observed(const char *path);

// ---- Holds that exclude no one -------------------------------------------------------

// 1 when the folder held in *hold lies on a file system that honours holds, 0 when its holds
// exclude no one (POSIX: NFS, where flock() on a folder takes no lock). Windows: always 1.
int os_folder_hold_excludes(const OsFolderHold *hold);

// ---- Inside a folder, by identity ------------------------------------------------------

// 1 when the folder path (links followed) is the folder folder or lies below it: walking up
// from path's final folder to the root, one of the folders met has folder's identity
// (os_folder_id), whatever the spelling of either; 0 when none has, or when either names no
// folder.
int os_lies_inside(const char *path, const char *folder);

// 1 when final, a final path as os_final_path gives it, is the very entry that path names,
// links on path's way followed but none at its end: final's folder is path's folder (by
// identity, os_folder_id) and final's last part is path's, spelled exactly alike or, when that
// folder holds no entry spelled exactly as path's last part (the system matched it in
// another case), alike as os_compare_names compares. 0 otherwise (also when either folder
// names none): a link at path's end, to a case twin beside it or in a twin folder, included.
int os_final_path_names(const char *final, const char *path);

// ---- Files of a held folder ------------------------------------------------------------
//
// The files of a folder held with os_hold_folder or os_hold_subfolder, reached through the
// hold and never by the folder's path again, so that a folder renamed or swapped for a link
// meanwhile cannot send the work elsewhere. Each name is one part, looked up as os_open_file
// looks it up (as written first, then without regard to case on POSIX). POSIX works relative
// to the held folder's descriptor; Windows joins the held folder's final path and the name
// (nobody renames a held folder there) and touches an entry only while its final path lies
// in the held folder.

// Opens the entry name of a held folder as os_open_file opens a path (for reading, or reading
// and writing; no waiting; *file filled from the handle). A link at name is followed only when
// the file it leads to lies in the held folder (by identity); one leading elsewhere gives -1.
// 0, or -1 (os_error_text; file->fd is -1).
int os_held_open_file(OsHeldFolder *folder, const char *name, int for_writing, OsOpenFile *file);
// 1 when name in the held folder still leads to the file open in *file (a link there leading
// to it counts) and that file lies in the held folder; else 0 (also when name names nothing).
int os_held_file_is_still_at(OsHeldFolder *folder, const char *name, const OsOpenFile *file);
// os_create_new, in the held folder: a descriptor, or -1 (OS_FAULT_CREATE applies).
int os_held_create_new(OsHeldFolder *folder, const char *name);
// os_delete_created, in the held folder: fd is closed either way. 0, or -1 (OS_FAULT_DELETE
// applies).
int os_held_delete_created(OsHeldFolder *folder, int fd, const char *name);
// Renames the entry from to to, both in the held folder, never replacing an existing entry
// (one alike without regard to case counts, but for from itself: a new case of its name is a
// rename) and never following a link at either (a link is renamed as itself; under Wine a
// Linux link, which Wine would not rename as itself, is refused). 0, or -1 (OS_FAULT_RENAME
// applies).
int os_held_rename(OsHeldFolder *folder, const char *from, const char *to);
// os_held_rename from the held folder from_folder into the held folder to_folder, on one
// volume: never replacing an entry of to_folder alike without regard to case. 0, or -1
// (OS_FAULT_RENAME applies).
int os_held_move(OsHeldFolder *from_folder, const char *from, OsHeldFolder *to_folder,
                 const char *to);
// 1 when two holds are on one folder (the same identity), else 0: a folder held again by its
// path is then still the one held first.
int os_held_same_folder(const OsHeldFolder *first, const OsHeldFolder *second);

// ---- Flushing many files at once ---------------------------------------------------------

// Waits until what was written to the count files open for writing as fds (named paths) is
// on the disk, at the cost of about one flush: all of them lie in or below folder, on
// folder's own file system. POSIX: one syncfs on fds[0], which writes out every file of that
// file system, recorded as one flush of folder (the observer above then takes every file under
// folder as flushed); Windows: FlushFileBuffers on each, each recorded by its path. 0 (also
// when count is 0), or -1 (os_error_text says why; some of the files may be on the disk).
int os_flush_files(const int *fds, const char *const *paths, int32_t count, const char *folder);
