// On Windows the tests make no changes behind the OS layer's back: the system itself looks
// names up there, and the cache these changes are meant to outwit exists only on POSIX.
#include "behind_back.h"

#include <windows.h>

#include "os.h"

bool behind_back_available()
{
    return false;
}

int behind_create_file(const std::string &)
{
    return -1;
}

int behind_delete_file(const std::string &)
{
    return -1;
}

int behind_rename(const std::string &, const std::string &)
{
    return -1;
}

int behind_make_folder(const std::string &)
{
    return -1;
}

int behind_make_link(const std::string &, const std::string &)
{
    return -1;
}

int behind_set_time(const std::string &, long long, long)
{
    return -1;
}

long long behind_clock_seconds(long long)
{
    return -1;
}

// The Unix path of a Windows path, from Wine's own kernel32 export; "" outside Wine.
static std::string unix_path_of(const std::string &path)
{
    typedef char *(CDECL * ToUnix)(const WCHAR *);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ToUnix to_unix = kernel ? reinterpret_cast<ToUnix>(reinterpret_cast<void *>(
                                  GetProcAddress(kernel, "wine_get_unix_file_name")))
                            : nullptr;
    WCHAR wide[MAX_PATH];
    if (!to_unix || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char *unix_path = to_unix(wide);
    std::string result = unix_path ? unix_path : "";
    HeapFree(GetProcessHeap(), 0, unix_path);
    return result;
}

// Runs a Unix program of /bin with the words of line and waits for its end. 0, or -1.
static int run_unix(const char *program, std::string line)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

// Wine may report a Unix program ended before it has (and its exit status loosely): what
// it does is awaited instead, up to two minutes, which only a program that hangs reaches on
// a loaded machine. True when path came to exist (or not).
static bool wait_until_exists(const std::string &path, bool exists)
{
    for (int k = 0; k < 2400; k++) {
        if ((os_exists(path.c_str()) == 1) == exists)
            return true;
        Sleep(50);
    }
    return false;
}

int unix_make_link(const std::string &target, const std::string &link)
{
    std::string from = unix_path_of(target), to = unix_path_of(link);
    if (from.empty() || to.empty() ||
        run_unix("Z:\\bin\\ln", "ln -s \"" + from + "\" \"" + to + "\"") != 0)
        return -1;
    return wait_until_exists(link, true) ? 0 : -1;
}

int unix_remove_link(const std::string &link)
{
    std::string path = unix_path_of(link);
    if (path.empty() || run_unix("Z:\\bin\\rm", "rm -f \"" + path + "\"") != 0)
        return -1;
    return wait_until_exists(link, false) ? 0 : -1;
}

intptr_t behind_hold_unshared(const std::string &path)
{
    WCHAR wide[OS_PATH_UNITS];
    if (MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide, OS_PATH_UNITS) == 0)
        return -1;
    HANDLE handle =
        CreateFileW(wide, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(handle);
}

void behind_release_file(intptr_t handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}
