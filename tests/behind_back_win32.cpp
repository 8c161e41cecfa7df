// On Windows the tests make no changes behind the OS layer's back: the system itself looks
// names up there, and the cache these changes are meant to outwit exists only on POSIX.
#include "behind_back.h"

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
