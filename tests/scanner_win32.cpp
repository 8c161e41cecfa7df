// The stand-in for another program's open file on Windows: a handle whose share mode refuses
// what the OS layer then asks, closed by a thread of the test.
#include "scanner.h"

#include <thread>
#include <windows.h>

static HANDLE held = INVALID_HANDLE_VALUE;
static std::thread closer;

bool scanner_open(const std::string &path, bool share_reading)
{
    WCHAR wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide, MAX_PATH))
        return false;
    held = CreateFileW(wide, GENERIC_READ, share_reading ? FILE_SHARE_READ : 0, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return held != INVALID_HANDLE_VALUE;
}

void scanner_close_after(unsigned milliseconds)
{
    closer = std::thread([milliseconds] {
        Sleep(milliseconds);
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    });
}

void scanner_close()
{
    if (closer.joinable())
        closer.join();
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    held = INVALID_HANDLE_VALUE;
}

bool last_failure_was_sharing()
{
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}
