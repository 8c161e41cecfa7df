// The replay program: feeds every file of a corpus folder to the target's
// LLVMFuzzerTestOneInput once, so that the seed inputs and every input that once crashed run
// with the ordinary test builds (g++ with the sanitizers, and the Windows build under Wine).
#include <stdio.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "os.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    OsDirList *list = os_list_open(argv[1]);
    if (!list) {
        fprintf(stderr, "cannot list the corpus folder %s\n", argv[1]);
        return 2;
    }
    int inputs = 0;
    int unreadable = 0;
    OsDirEntry entry;
    while (os_list_next(list, &entry)) {
        if (entry.attributes & OS_ATTR_DIRECTORY)
            continue;
        std::string bytes;
        if (!read_bytes(std::string(argv[1]) + "\\" + entry.name, &bytes)) {
            fprintf(stderr, "cannot read %s\\%s\n", argv[1], entry.name);
            unreadable++;
            continue;
        }
        fprintf(stderr, "input %s (%u bytes)\n", entry.name, static_cast<unsigned>(bytes.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
        inputs++;
    }
    os_list_close(list);
    fprintf(stderr, "%d inputs replayed from %s\n", inputs, argv[1]);
    // An empty or unreadable corpus would pass without testing anything.
    return inputs > 0 && unreadable == 0 ? 0 : 1;
}
