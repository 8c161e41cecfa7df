// The OS layer over Win32 ANSI calls and the C runtime's binary descriptors. Only
// KERNEL32.dll and msvcrt.dll may be needed, so nothing here calls another system DLL.
#include "os.h"
#include "os_common.h"
#include "os_win32_shared.h"

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

// ---- Processes and environment -------------------------------------------------------

const char os_program_suffix[] = ".exe";

int os_program_path(char *buffer, uint32_t size)
{
    if (size == 0)
        return -1;
    DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
        return -1;
    }
    return 0;
}

// Opens a file for the child's standard handle, inheritable; the standard handle itself
// when no path is given.
static HANDLE child_handle(const char *path, DWORD standard, int for_output)
{
    if (!path)
        return GetStdHandle(standard);
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, TRUE};
    return CreateFileA(path, for_output ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                       for_output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts the program with its standard handles and waits. 0, or -1.
static int start_and_wait(const char *application, char *command_line, HANDLE *handles,
                          int redirected, int *exit_status)
{
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (redirected) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = handles[0];
        startup.hStdOutput = handles[1];
        startup.hStdError = handles[2];
    }
    PROCESS_INFORMATION process;
    fflush(stdout);
    fflush(stderr);
    // Inheriting hands the program the run locks held (inheritable handles), so a folder
    // stays locked while the program runs, even after this process was killed.
    if (!CreateProcessA(application, command_line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *exit_status = static_cast<int>(code);
    return 0;
}

int os_run_program(const char *program, const char *command_line, const char *input_path,
                   const char *output_path, const char *error_path, int *exit_status)
{
    if (fault_fires(OS_FAULT_START))
        return -1;
    const char *name = program;
    for (const char *p = program; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    char application[MAX_PATH * 2];
    int written =
        snprintf(application, sizeof application, "%s%s", program, strchr(name, '.') ? "" : ".EXE");
    if (written < 0 || written >= static_cast<int>(sizeof application))
        return -1;
    char *line = static_cast<char *>(malloc(strlen(command_line) + 1));
    if (!line)
        return -1;
    strcpy(line, command_line);
    int shared_output = output_path && error_path && strcmp(output_path, error_path) == 0;
    HANDLE handles[3] = {child_handle(input_path, STD_INPUT_HANDLE, 0),
                         child_handle(output_path, STD_OUTPUT_HANDLE, 1),
                         shared_output ? INVALID_HANDLE_VALUE
                                       : child_handle(error_path, STD_ERROR_HANDLE, 1)};
    if (shared_output)
        handles[2] = handles[1];
    const char *paths[3] = {input_path, output_path, shared_output ? nullptr : error_path};
    int result = -1, failed = 0;
    for (int i = 0; i < 3; i++)
        if (paths[i] && handles[i] == INVALID_HANDLE_VALUE)
            failed = 1;
    if (!failed)
        result = start_and_wait(application, line, handles, input_path || output_path || error_path,
                                exit_status);
    // The system's reason for a start that failed outlives the clean-up.
    DWORD error = GetLastError();
    for (int i = 0; i < 3; i++)
        if (paths[i] && handles[i] != INVALID_HANDLE_VALUE)
            CloseHandle(handles[i]);
    free(line);
    SetLastError(error);
    return result;
}

int os_get_environment(const char *name, char *buffer, uint32_t size)
{
    char probe[1];
    SetLastError(0);
    DWORD length = size > 0 ? GetEnvironmentVariableA(name, buffer, size)
                            : GetEnvironmentVariableA(name, probe, 0);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        if (size > 0)
            buffer[0] = '\0';
        return -1;
    }
    if (size == 0)
        return -2;
    if (length >= size) {
        buffer[0] = '\0';
        return -2;
    }
    return static_cast<int>(length);
}

int os_set_environment(const char *name, const char *value)
{
    if (!SetEnvironmentVariableA(name, value))
        return -1;
    // The C runtime keeps its own copy of the environment for getenv.
    size_t length = strlen(name) + (value ? strlen(value) : 0) + 2;
    char *assignment = static_cast<char *>(malloc(length));
    if (!assignment)
        return -1;
    snprintf(assignment, length, "%s=%s", name, value ? value : "");
    int result = _putenv(assignment) == 0 ? 0 : -1;
    free(assignment);
    return result;
}

// ---- Console -------------------------------------------------------------------------

enum { TYPED_PIECE_UNITS = 256 };

// A handle is a console when it has a console mode; the NUL device is a character device
// too, but has none.
static int is_console(DWORD standard)
{
    DWORD mode;
    return GetConsoleMode(GetStdHandle(standard), &mode) ? 1 : 0;
}

static UINT saved_output_code_page; // 0 while the console's own page is in force

static void restore_output_code_page(void)
{
    if (saved_output_code_page != 0)
        SetConsoleOutputCP(saved_output_code_page);
}

// Runs on Ctrl-C, Ctrl-Break and the closing of the window, which end the program without
// the C runtime's exit handlers; FALSE lets the system's own handling go on.
static BOOL WINAPI restore_on_console_event(DWORD)
{
    restore_output_code_page();
    return FALSE;
}

void os_prepare_console(void)
{
    if (!is_console(STD_OUTPUT_HANDLE) && !is_console(STD_ERROR_HANDLE))
        return;
    UINT current = GetConsoleOutputCP();
    UINT ansi = GetACP();
    if (current == 0 || current == ansi || !SetConsoleOutputCP(ansi))
        return;
    saved_output_code_page = current;
    atexit(restore_output_code_page);
    SetConsoleCtrlHandler(restore_on_console_event, TRUE);
}

// The rest of a typed line, converted: bytes 0 to 255 and OS_INPUT_NO_MATCH; at most three
// bytes for each UTF-16 unit (a UTF-8 ANSI code page; double-byte pages need two).
static int typed[TYPED_PIECE_UNITS * 3];
static int typed_length, typed_next, typed_ended;

void os_discard_console_input(void)
{
    // typed holds the rest of a piped line too, which is not to be dropped.
    if (!is_console(STD_INPUT_HANDLE))
        return;
    typed_length = typed_next = typed_ended = 0;
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

int os_input_is_console(void)
{
    return is_console(STD_INPUT_HANDLE);
}

// Appends one character (count UTF-16 units) to typed in the ANSI code page. Best-fit
// stand-ins ('a' for an 'a' with a macron) are refused: they could name another file.
static void add_typed_character(const WCHAR *character, int count)
{
    UINT ansi = GetACP();
    char bytes[4];
    BOOL defaulted = FALSE;
    // A UTF-8 ANSI code page has every character and takes neither flag nor default.
    int length =
        WideCharToMultiByte(ansi, ansi == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, character, count,
                            bytes, sizeof bytes, nullptr, ansi == CP_UTF8 ? nullptr : &defaulted);
    if (length <= 0 || defaulted) {
        typed[typed_length++] = OS_INPUT_NO_MATCH;
        return;
    }
    for (int k = 0; k < length; k++)
        typed[typed_length++] = static_cast<unsigned char>(bytes[k]);
}

// Reads the next piece of a typed line as UTF-16 and converts it into typed. 0, or -1 at
// the end of input: a failed read, or a Ctrl-Z (after the characters typed before it).
static int read_typed_piece(HANDLE input)
{
    WCHAR wide[TYPED_PIECE_UNITS];
    DWORD count = 0;
    typed_length = typed_next = 0;
    if (typed_ended || !ReadConsoleW(input, wide, TYPED_PIECE_UNITS, &count, nullptr) ||
        count == 0) {
        typed_ended = 1;
        return -1;
    }
    for (DWORD i = 0; i < count; i++) {
        if (wide[i] == 26) {
            typed_ended = 1;
            break;
        }
        int pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < count && IS_LOW_SURROGATE(wide[i + 1]);
        add_typed_character(wide + i, pair ? 2 : 1);
        i += pair;
    }
    return typed_length > 0 ? 0 : -1;
}

static int read_piped_byte(void)
{
    return getchar();
}

// 1 when the bytes hold one beyond ASCII and are valid UTF-8 as a whole, else 0.
static int is_utf8_beyond_ascii(const char *bytes, int length, WCHAR *wide, int wide_size)
{
    int beyond = 0;
    for (int k = 0; k < length; k++)
        beyond |= static_cast<unsigned char>(bytes[k]) >= 0x80;
    return beyond &&
           MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, length, wide, wide_size) > 0;
}

// Reads the next line of piped input (at most TYPED_PIECE_UNITS bytes, its LF included) into
// typed: a line that is UTF-8 beyond ASCII converted to the ANSI code page as typed text is
// (Notepad saves UTF-8 by default), any other line byte for byte as ANSI. 0, or -1 at the end
// of input.
static int read_piped_line(void)
{
    char line[TYPED_PIECE_UNITS];
    int length = 0, c;
    typed_length = typed_next = 0;
    while (length < TYPED_PIECE_UNITS && (c = os_input_past_mark(read_piped_byte)) != EOF) {
        line[length++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    WCHAR wide[TYPED_PIECE_UNITS];
    if (!is_utf8_beyond_ascii(line, length, wide, TYPED_PIECE_UNITS)) {
        for (int k = 0; k < length; k++)
            typed[typed_length++] = static_cast<unsigned char>(line[k]);
        return length > 0 ? 0 : -1;
    }
    int units = MultiByteToWideChar(CP_UTF8, 0, line, length, wide, TYPED_PIECE_UNITS);
    for (int i = 0; i < units; i++) {
        int pair = IS_HIGH_SURROGATE(wide[i]) && i + 1 < units && IS_LOW_SURROGATE(wide[i + 1]);
        add_typed_character(wide + i, pair ? 2 : 1);
        i += pair;
    }
    return 0;
}

int os_read_input_char(void)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    int console = is_console(STD_INPUT_HANDLE);
    while (typed_next >= typed_length)
        if ((console ? read_typed_piece(input) : read_piped_line()) != 0)
            return EOF;
    return typed[typed_next++];
}

int os_console_window_is_own(void)
{
    DWORD processes[2];
    return os_console_is_own(is_console(STD_INPUT_HANDLE), is_console(STD_OUTPUT_HANDLE),
                             GetConsoleProcessList(processes, 2));
}

void os_hold_own_console_window(void)
{
    if (!os_console_window_is_own())
        return;
    os_discard_console_input();
    fputs("Press Enter to close this window.", stdout);
    fflush(stdout);
    int c;
    while ((c = os_read_input_char()) != EOF && c != '\n') {
    }
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
