// The OS layer over Win32 ANSI calls and the C runtime's binary descriptors. Only
// KERNEL32.dll and msvcrt.dll may be needed, so nothing here calls another system DLL.
#include "os.h"
#include "os_common.h"
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

// ---- Fault injection -----------------------------------------------------------------

// 1 when this call of the kind is the armed one; the failure then reads as a device error.
static int fault_fires(int kind)
{
    if (!os_fault_fires(kind))
        return 0;
    errno = EIO;
    SetLastError(kind == OS_FAULT_READ ? ERROR_READ_FAULT : ERROR_WRITE_FAULT);
    return 1;
}

static uint32_t size_of(DWORD high, DWORD low)
{
    return high != 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(low);
}

// ---- File status ----------------------------------------------------------------------

int os_file_status(const char *path, OsFileStatus *status)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!OS_CALL(GetFileAttributesExA(path, GetFileExInfoStandard, &data)))
        return -1;
    status->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    status->is_file =
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ? 0 : 1;
    status->size = status->is_directory ? 0 : size_of(data.nFileSizeHigh, data.nFileSizeLow);
    return 0;
}

int os_exists(const char *path)
{
    return OS_CALL(GetFileAttributesA(path)) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

// Some system texts hold inserts for a name ("%1 is not a valid Win32 application"), which
// are formatted here without arguments: each "%1" to "%9" becomes "the file" (capitalized at
// the start), cut to fit the buffer of size bytes.
static void drop_inserts(char *text, uint32_t size)
{
    static const char FILLER[] = "the file";
    char copy[512];
    snprintf(copy, sizeof copy, "%s", text);
    uint32_t out = 0;
    for (const char *in = copy; *in && out + 1 < size; in++) {
        if (in[0] != '%' || in[1] < '1' || in[1] > '9') {
            text[out++] = *in;
            continue;
        }
        for (const char *f = FILLER; *f && out + 1 < size; f++) {
            text[out] = out == 0 && f == FILLER ? 'T' : *f;
            out++;
        }
        in++;
    }
    text[out] = '\0';
}

// The runtime's calls fail through the Win32 calls beneath them, which leave their code
// behind; the layer's own refusals set one too.
const char *os_error_text(char *buffer, uint32_t size)
{
    if (size == 0)
        return buffer;
    DWORD code = GetLastError();
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, size, nullptr);
    if (length == 0) {
        snprintf(buffer, size, "system error %lu", static_cast<unsigned long>(code));
        return buffer;
    }
    while (length > 0 && strchr("\r\n .", buffer[length - 1]))
        buffer[--length] = '\0';
    drop_inserts(buffer, size);
    return buffer;
}

// ---- Descriptors, always binary ------------------------------------------------------

// Windows refuses to write to a read-only file even for an administrator; Wine running as
// root does not, so the attribute is checked here for both.
static int is_read_only_file(const char *path)
{
    DWORD attributes = OS_CALL(GetFileAttributesA(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    errno = EACCES;
    SetLastError(ERROR_ACCESS_DENIED);
    return 1;
}

int os_open(const char *path, int flags)
{
    if ((flags & (OS_OPEN_CREATE | OS_OPEN_TRUNCATE)) && fault_fires(OS_FAULT_CREATE))
        return -1;
    if ((flags & (OS_OPEN_READ_WRITE | OS_OPEN_TRUNCATE)) && is_read_only_file(path))
        return -1;
    int native_flags =
        ((flags & OS_OPEN_READ_WRITE) ? _O_RDWR : _O_RDONLY) | _O_BINARY | _O_NOINHERIT;
    if (flags & OS_OPEN_CREATE)
        native_flags |= _O_CREAT;
    if (flags & OS_OPEN_TRUNCATE)
        native_flags |= _O_TRUNC;
    if (flags & OS_OPEN_APPEND)
        native_flags |= _O_APPEND;
    return OS_CALL(_open(path, native_flags, _S_IREAD | _S_IWRITE));
}

int32_t os_read(int fd, void *buffer, uint32_t count)
{
    if (fault_fires(OS_FAULT_READ))
        return -1;
    return OS_CALL(_read(fd, buffer, count));
}

int32_t os_write(int fd, const void *buffer, uint32_t count)
{
    if (fault_fires(OS_FAULT_WRITE))
        return -1;
    return OS_CALL(_write(fd, buffer, count));
}

int64_t os_seek(int fd, int64_t offset, int whence)
{
    static const int origins[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (whence < 0 || whence > 2)
        return -1;
    return OS_CALL(_lseeki64(fd, offset, origins[whence]));
}

int os_close(int fd)
{
    return OS_CALL(_close(fd)) == 0 ? 0 : -1;
}

// ---- Streams -------------------------------------------------------------------------

FILE *os_open_stream(const char *path, const char *mode)
{
    char native_mode[8];
    size_t length = 0;
    for (const char *m = mode; *m && length < 4; m++)
        if (*m != 'b' && *m != 't')
            native_mode[length++] = *m;
    native_mode[length++] = 'b';
    native_mode[length] = '\0';
    if (strpbrk(native_mode, "wa+") && (fault_fires(OS_FAULT_CREATE) || is_read_only_file(path)))
        return nullptr;
    // The runtime's fopen knows no "x": an exclusive create is made by hand.
    if (strchr(mode, 'x')) {
        int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
        FILE *stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && !stream)
            _close(fd);
        return stream;
    }
    return fopen(path, native_mode);
}

int os_close_stream(FILE *stream)
{
    int failed = fault_fires(OS_FAULT_WRITE);
    if (fclose(stream) != 0)
        failed = 1;
    return failed ? -1 : 0;
}

// ---- Folders and files ---------------------------------------------------------------

// The programs' names are in the ANSI code page: compared with ASCII case folding only, as
// ever; finding them in any case is Windows' own work.
const int os_names_are_utf8 = 0;

int os_get_current_directory(char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    DWORD length = GetCurrentDirectoryA(size, buffer);
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
        return -1;
    }
    if (length > 3 && buffer[length - 1] == '\\')
        buffer[length - 1] = '\0';
    return 0;
}

int os_change_directory(const char *path)
{
    return SetCurrentDirectoryA(path) ? 0 : -1;
}

int os_make_directory(const char *path)
{
    if (fault_fires(OS_FAULT_CREATE))
        return -1;
    return CreateDirectoryA(path, nullptr) ? 0 : -1;
}

int os_remove_directory(const char *path)
{
    char target[MAX_PATH * 2], current[MAX_PATH * 2];
    // Windows refuses to remove the current folder; Wine may not, so refuse it here.
    if (full_path_of(path, target, sizeof target) != 0 ||
        full_path_of(".", current, sizeof current) != 0 || os_equal_folded(target, current))
        return -1;
    return remove_itself(path, 1);
}

int os_delete_file(const char *path)
{
    if (fault_fires(OS_FAULT_DELETE))
        return -1;
    return remove_itself(path, 0);
}

int os_rename_no_replace(const char *from, const char *to)
{
    if (fault_fires(OS_FAULT_RENAME))
        return -1;
    return MoveFileA(from, to) ? 0 : -1;
}

int os_same_file(const char *first, const char *second)
{
    BY_HANDLE_FILE_INFORMATION a, b;
    if (file_identity(first, &a) != 0 || file_identity(second, &b) != 0)
        return 0;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                   a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow
               ? 1
               : 0;
}

int os_set_attributes(const char *path, int32_t attributes)
{
    DWORD current = GetFileAttributesA(path);
    if (current == INVALID_FILE_ATTRIBUTES)
        return -1;
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    // Only these may be passed back besides the settable ones; the directory bit may not.
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                       FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD wanted = (current & kept) | (static_cast<DWORD>(attributes) & settable);
    if (wanted == 0)
        wanted = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesA(path, wanted) ? 0 : -1;
}

int os_make_executable(const char *path)
{
    return os_exists(path) ? 0 : -1;
}

// ---- Folder listing ------------------------------------------------------------------

struct OsDirList {
    HANDLE find;           // INVALID_HANDLE_VALUE for a folder with no entries at all
    WIN32_FIND_DATAA data; // the entry that os_list_next hands out next
    int pending;           // 1 while data holds an entry not yet handed out
};

OsDirList *os_list_open(const char *directory)
{
    char pattern[MAX_PATH * 2];
    size_t length = strlen(directory);
    const char *joint = (length == 0 || strchr("\\/:", directory[length - 1])) ? "*" : "\\*";
    int written = snprintf(pattern, sizeof pattern, "%s%s", directory, joint);
    if (written < 0 || written >= static_cast<int>(sizeof pattern))
        return nullptr;
    OsDirList *list = static_cast<OsDirList *>(malloc(sizeof(OsDirList)));
    if (!list)
        return nullptr;
    list->find = OS_CALL(FindFirstFileA(pattern, &list->data));
    list->pending = list->find != INVALID_HANDLE_VALUE;
    if (!list->pending) {
        // A drive's root may hold no entry at all; that is an empty listing, not an error.
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesA(length ? directory : ".");
        if (error != ERROR_FILE_NOT_FOUND || attributes == INVALID_FILE_ATTRIBUTES ||
            !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            free(list);
            return nullptr;
        }
    }
    return list;
}

int os_list_next(OsDirList *list, OsDirEntry *entry)
{
    if (!list->pending)
        return 0;
    const WIN32_FIND_DATAA *data = &list->data;
    snprintf(entry->name, sizeof entry->name, "%s", data->cFileName);
    entry->attributes = static_cast<int32_t>(data->dwFileAttributes &
                                             (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
    entry->size = (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                      ? 0
                      : size_of(data->nFileSizeHigh, data->nFileSizeLow);
    list->pending = OS_CALL(FindNextFileA(list->find, &list->data)) ? 1 : 0;
    return 1;
}

void os_list_close(OsDirList *list)
{
    if (!list)
        return;
    if (list->find != INVALID_HANDLE_VALUE)
        OS_CALL(FindClose(list->find));
    free(list);
}

// ---- Temporary folders (tests and tools) ---------------------------------------------

int os_make_temp_directory(char *buffer, uint32_t size)
{
    static unsigned counter;
    char base[MAX_PATH + 1];
    if (size > 0)
        buffer[0] = '\0';
    DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length >= sizeof base)
        return -1;
    if (base[length - 1] == '\\')
        base[length - 1] = '\0';
    for (int attempt = 0; attempt < 100; attempt++) {
        counter++;
        int written = snprintf(buffer, size, "%s\\os-%lx-%lx-%x", base,
                               static_cast<unsigned long>(GetCurrentProcessId()),
                               static_cast<unsigned long>(GetTickCount()), counter);
        if (written < 0 || static_cast<uint32_t>(written) >= size)
            break;
        if (CreateDirectoryA(buffer, nullptr))
            return 0;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (size > 0)
        buffer[0] = '\0';
    return -1;
}
