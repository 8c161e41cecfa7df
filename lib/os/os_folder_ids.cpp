// The order of folder identities, the same on both back ends.
#include "os.h"

int os_compare_folder_ids(const OsFolderId *first, const OsFolderId *second)
{
    if (first->volume != second->volume)
        return first->volume < second->volume ? -1 : 1;
    if (first->index != second->index)
        return first->index < second->index ? -1 : 1;
    return 0;
}
