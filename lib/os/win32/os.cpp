// The OS layer over the wide Win32 calls and the C runtime's binary descriptors, names UTF-8
// on this side. Only KERNEL32.dll and msvcrt.dll may be needed, so nothing here calls another
// system DLL.
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

// ---- Waiting out another program's moment --------------------------------------------

int sharing_wait(int *tries)
{
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) ||
        *tries >= SHARING_TRIES)
        return 0;
    ++*tries;
    Sleep(SHARING_PAUSE_MS);
    SetLastError(error);
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
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0 ||
        !OS_CALL(GetFileAttributesExW(wide, GetFileExInfoStandard, &data)))
        return -1;
    status->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    status->is_file =
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ? 0 : 1;
    status->size = status->is_directory ? 0 : size_of(data.nFileSizeHigh, data.nFileSizeLow);
    return 0;
}

int os_exists(const char *path)
{
    WCHAR wide[OS_PATH_UNITS];
    return to_wide(path, wide) >= 0 && OS_CALL(GetFileAttributesW(wide)) != INVALID_FILE_ATTRIBUTES
               ? 1
               : 0;
}

// Copies a system text into buffer (size bytes, at least 1), whole characters only, cut to
// fit. Some system texts hold inserts for a name ("%1 is not a valid Win32 application"),
// which are formatted here without arguments: each "%1" to "%9" becomes "the file"
// (capitalized at the start).
static void drop_inserts(const char *text, char *buffer, uint32_t size)
{
    static const char FILLER[] = "the file";
    uint32_t out = 0;
    for (const char *in = text; *in && out + 1 < size;) {
        if (in[0] == '%' && in[1] >= '1' && in[1] <= '9') {
            for (const char *f = FILLER; *f && out + 1 < size; f++, out++)
                buffer[out] = out == 0 && f == FILLER ? 'T' : *f;
            in += 2;
            continue;
        }
        uint32_t length = 1;
        while ((static_cast<unsigned char>(in[length]) & 0xC0) == 0x80)
            length++;
        if (out + length >= size)
            break;
        memcpy(buffer + out, in, length);
        out += length;
        in += length;
    }
    buffer[out] = '\0';
}

// The runtime's calls fail through the Win32 calls beneath them, which leave their code
// behind; the layer's own refusals set one too.
const char *os_error_text(char *buffer, uint32_t size)
{
    if (size == 0)
        return buffer;
    DWORD code = GetLastError();
    WCHAR wide[512];
    char text[sizeof wide / sizeof wide[0] * 3];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, wide, sizeof wide / sizeof wide[0], nullptr);
    int bytes = length == 0 ? -1 : to_utf8(wide, text, sizeof text);
    if (bytes < 0) {
        snprintf(buffer, size, "system error %lu", static_cast<unsigned long>(code));
        return buffer;
    }
    while (bytes > 0 && strchr("\r\n .", text[bytes - 1]))
        text[--bytes] = '\0';
    drop_inserts(text, buffer, size);
    return buffer;
}

// ---- Descriptors, always binary ------------------------------------------------------

// Windows refuses to write to a read-only file even for an administrator; Wine running as
// root does not, so the attribute is checked here for both.
static int is_read_only_file(const WCHAR *path)
{
    DWORD attributes = OS_CALL(GetFileAttributesW(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    errno = EACCES;
    SetLastError(ERROR_ACCESS_DENIED);
    return 1;
}

// How a descriptor or stream is opened: the system's access and disposition, and the C
// runtime's flags for the descriptor (_O_RDONLY, _O_BINARY, _O_APPEND...).
struct OpenWay {
    DWORD access;
    DWORD disposition;
    int flags;
};

// Opens wide as a binary descriptor of the C runtime over a handle of CreateFileW that started
// programs do not inherit, shared as the runtime's _open shares. A descriptor, or -1.
static int open_descriptor(const WCHAR *wide, const OpenWay *way)
{
    HANDLE handle;
    int tries = 0;
    do
        handle = OS_CALL(CreateFileW(wide, way->access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     way->disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    while (handle == INVALID_HANDLE_VALUE && sharing_wait(&tries));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), way->flags);
    if (fd < 0) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
    }
    return fd;
}

// The dispositions of the runtime's _open: _O_CREAT and _O_TRUNC alone or together.
static DWORD disposition_of(int create, int truncate)
{
    if (create)
        return truncate ? CREATE_ALWAYS : OPEN_ALWAYS;
    return truncate ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

int os_open(const char *path, int flags)
{
    if ((flags & (OS_OPEN_CREATE | OS_OPEN_TRUNCATE)) && fault_fires(OS_FAULT_CREATE))
        return -1;
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return -1;
    int writes = (flags & (OS_OPEN_READ_WRITE | OS_OPEN_TRUNCATE)) != 0;
    if (writes && is_read_only_file(wide))
        return -1;
    OpenWay way = {GENERIC_READ | (writes ? GENERIC_WRITE : 0u),
                   disposition_of(flags & OS_OPEN_CREATE, flags & OS_OPEN_TRUNCATE),
                   ((flags & OS_OPEN_READ_WRITE) ? _O_RDWR : _O_RDONLY) | _O_BINARY |
                       ((flags & OS_OPEN_APPEND) ? _O_APPEND : 0)};
    return open_descriptor(wide, &way);
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

// The way to open a stream of mode ("r", "w", "a", "r+", "w+", "a+", "wx"; "b" and "t" left
// out) and the binary mode _fdopen takes for it (4 bytes). 0, or -1 for another mode.
static int stream_way(const char *mode, OpenWay *way, char *stream_mode)
{
    static const char KINDS[] = "rwa";
    static const DWORD DISPOSITIONS[] = {OPEN_EXISTING, CREATE_ALWAYS, OPEN_ALWAYS};
    const char *kind = mode[0] ? strchr(KINDS, mode[0]) : nullptr;
    if (!kind) {
        errno = EINVAL;
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    int at = static_cast<int>(kind - KINDS), plus = strchr(mode, '+') != nullptr;
    way->access = (at == 0 || plus ? GENERIC_READ : 0u) | (at != 0 || plus ? GENERIC_WRITE : 0u);
    // An exclusive create is the runtime's _O_EXCL, which its fopen does not know.
    way->disposition = at == 1 && strchr(mode, 'x') ? CREATE_NEW : DISPOSITIONS[at];
    way->flags = (plus      ? _O_RDWR
                  : at == 0 ? _O_RDONLY
                            : _O_WRONLY) |
                 _O_BINARY | (at == 2 ? _O_APPEND : 0);
    snprintf(stream_mode, 4, "%c%sb", mode[0], plus ? "+" : "");
    return 0;
}

FILE *os_open_stream(const char *path, const char *mode)
{
    OpenWay way;
    char stream_mode[4];
    WCHAR wide[OS_PATH_UNITS];
    if (stream_way(mode, &way, stream_mode) != 0)
        return nullptr;
    int writes = (way.access & GENERIC_WRITE) != 0;
    if ((writes && fault_fires(OS_FAULT_CREATE)) || to_wide(path, wide) < 0 ||
        (writes && is_read_only_file(wide)))
        return nullptr;
    int fd = open_descriptor(wide, &way);
    FILE *stream = fd >= 0 ? _fdopen(fd, stream_mode) : nullptr;
    if (fd >= 0 && !stream)
        _close(fd);
    return stream;
}

int os_close_stream(FILE *stream)
{
    int failed = fault_fires(OS_FAULT_WRITE);
    if (fclose(stream) != 0)
        failed = 1;
    return failed ? -1 : 0;
}

// ---- Folders and files ---------------------------------------------------------------

int os_get_current_directory(char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    WCHAR wide[OS_PATH_UNITS];
    DWORD length = GetCurrentDirectoryW(OS_PATH_UNITS, wide);
    if (length == 0 || length >= OS_PATH_UNITS) {
        buffer[0] = '\0';
        return -1;
    }
    if (length > 3 && wide[length - 1] == L'\\')
        wide[length - 1] = L'\0';
    return to_utf8(wide, buffer, size) < 0 ? -1 : 0;
}

int os_change_directory(const char *path)
{
    WCHAR wide[OS_PATH_UNITS];
    return to_wide(path, wide) >= 0 && SetCurrentDirectoryW(wide) ? 0 : -1;
}

int os_make_directory(const char *path)
{
    if (fault_fires(OS_FAULT_CREATE))
        return -1;
    WCHAR wide[OS_PATH_UNITS];
    if (to_wide(path, wide) < 0)
        return -1;
    BOOL made;
    int tries = 0;
    do
        made = CreateDirectoryW(wide, nullptr);
    while (!made && sharing_wait(&tries));
    return made ? 0 : -1;
}

int os_remove_directory(const char *path)
{
    char target[OS_PATH_SIZE], current[OS_PATH_SIZE];
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
    WCHAR wide_from[OS_PATH_UNITS], wide_to[OS_PATH_UNITS];
    if (to_wide(from, wide_from) < 0 || to_wide(to, wide_to) < 0)
        return -1;
    BOOL moved;
    int tries = 0;
    do
        moved = MoveFileW(wide_from, wide_to);
    while (!moved && sharing_wait(&tries));
    return moved ? 0 : -1;
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
    WCHAR wide[OS_PATH_UNITS];
    DWORD current = to_wide(path, wide) < 0 ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide);
    if (current == INVALID_FILE_ATTRIBUTES)
        return -1;
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    // Only these may be passed back besides the settable ones; the directory bit may not.
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED |
                       FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD wanted = (current & kept) | (static_cast<DWORD>(attributes) & settable);
    if (wanted == 0)
        wanted = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(wide, wanted) ? 0 : -1;
}

int os_make_executable(const char *path)
{
    return os_exists(path) ? 0 : -1;
}

// ---- Folder listing ------------------------------------------------------------------

struct OsDirList {
    HANDLE find;           // INVALID_HANDLE_VALUE for a folder with no entries at all
    WIN32_FIND_DATAW data; // the entry that os_list_next hands out next
    int pending;           // 1 while data holds an entry not yet handed out
};

// The pattern that lists every entry of directory, into wide (OS_PATH_UNITS units). 0, or -1.
static int listing_pattern(const char *directory, WCHAR *wide)
{
    char pattern[OS_PATH_SIZE];
    size_t length = strlen(directory);
    const char *joint = (length == 0 || strchr("\\/:", directory[length - 1])) ? "*" : "\\*";
    int written = snprintf(pattern, sizeof pattern, "%s%s", directory, joint);
    if (written < 0 || written >= static_cast<int>(sizeof pattern)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return -1;
    }
    return to_wide(pattern, wide) < 0 ? -1 : 0;
}

OsDirList *os_list_open(const char *directory)
{
    WCHAR pattern[OS_PATH_UNITS];
    if (listing_pattern(directory, pattern) != 0)
        return nullptr;
    OsDirList *list = static_cast<OsDirList *>(malloc(sizeof(OsDirList)));
    if (!list)
        return nullptr;
    list->find = OS_CALL(FindFirstFileW(pattern, &list->data));
    list->pending = list->find != INVALID_HANDLE_VALUE;
    if (!list->pending) {
        // A drive's root may hold no entry at all; that is an empty listing, not an error.
        DWORD error = GetLastError();
        pattern[wcslen(pattern) - 1] = L'\0';
        DWORD attributes = GetFileAttributesW(pattern[0] ? pattern : L".");
        if (error != ERROR_FILE_NOT_FOUND || attributes == INVALID_FILE_ATTRIBUTES ||
            !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            free(list);
            SetLastError(error);
            return nullptr;
        }
    }
    return list;
}

int os_list_next(OsDirList *list, OsDirEntry *entry)
{
    if (!list->pending)
        return 0;
    const WIN32_FIND_DATAW *data = &list->data;
    to_utf8(data->cFileName, entry->name, sizeof entry->name);
    entry->attributes = static_cast<int32_t>(data->dwFileAttributes &
                                             (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
    entry->size = (data->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                      ? 0
                      : size_of(data->nFileSizeHigh, data->nFileSizeLow);
    list->pending = OS_CALL(FindNextFileW(list->find, &list->data)) ? 1 : 0;
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
    WCHAR base[OS_PATH_UNITS], wide[OS_PATH_UNITS];
    char folder[OS_PATH_SIZE];
    if (size > 0)
        buffer[0] = '\0';
    DWORD length = GetTempPathW(OS_PATH_UNITS, base);
    if (length == 0 || length >= OS_PATH_UNITS)
        return -1;
    if (base[length - 1] == L'\\')
        base[length - 1] = L'\0';
    if (to_utf8(base, folder, sizeof folder) < 0)
        return -1;
    for (int attempt = 0; attempt < 100; attempt++) {
        counter++;
        int written = snprintf(buffer, size, "%s\\os-%lx-%lx-%x", folder,
                               static_cast<unsigned long>(GetCurrentProcessId()),
                               static_cast<unsigned long>(GetTickCount()), counter);
        if (written < 0 || static_cast<uint32_t>(written) >= size || to_wide(buffer, wide) < 0)
            break;
        if (CreateDirectoryW(wide, nullptr))
            return 0;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (size > 0)
        buffer[0] = '\0';
    return -1;
}
