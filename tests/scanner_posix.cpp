// The stand-in for another program's open file on POSIX, where an open file refuses no one:
// a plain descriptor, closed by a thread of the test.
#include "scanner.h"

#include <fcntl.h>
#include <thread>
#include <unistd.h>

static int held = -1;
static std::thread closer;

bool scanner_open(const std::string &path, bool)
{
    // 'Z:\a\b' is '/a/b'.
    std::string native = path.size() >= 2 && path[1] == ':' ? path.substr(2) : path;
    for (char &c : native)
        if (c == '\\')
            c = '/';
    held = open(native.c_str(), O_RDONLY);
    return held >= 0;
}

void scanner_close_after(unsigned milliseconds)
{
    closer = std::thread([milliseconds] {
        usleep(milliseconds * 1000);
        close(held);
        held = -1;
    });
}

void scanner_close()
{
    if (closer.joinable())
        closer.join();
    if (held >= 0)
        close(held);
    held = -1;
}

bool last_failure_was_sharing()
{
    return false;
}
