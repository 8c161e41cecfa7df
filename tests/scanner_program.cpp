// A stand-in for the antivirus or indexer every Windows machine runs: it looks through the
// current folder and its subfolders again and again and opens each file it has not seen, or
// has seen at another size, for a moment, sharing only reading, until it is ended.
#include <stdio.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "os.h"
#include "scanner.h"

// How long each file is held: well within the OS layer's wait for another program's moment.
enum { MOMENT_MS = 100, PASS_PAUSE_MS = 5 };

// Adds every file below folder to files (path and size), subfolders included.
static void list_files(const std::string &folder, std::map<std::string, uint32_t> *files)
{
    std::vector<std::string> subfolders;
    OsDirList *list = os_list_open(folder.c_str());
    if (!list)
        return;
    OsDirEntry entry;
    while (os_list_next(list, &entry)) {
        std::string name = entry.name;
        if (name == "." || name == "..")
            continue;
        if (entry.attributes & OS_ATTR_DIRECTORY)
            subfolders.push_back(folder + "\\" + name);
        else
            (*files)[folder + "\\" + name] = entry.size;
    }
    os_list_close(list);
    for (const std::string &subfolder : subfolders)
        list_files(subfolder, files);
}

int main()
{
    char folder[OS_PATH_SIZE];
    if (os_get_current_directory(folder, sizeof folder) != 0)
        return 1;
    std::map<std::string, uint32_t> seen;
    for (int pass = 0;; pass++) {
        std::map<std::string, uint32_t> files;
        list_files(folder, &files);
        for (const auto &file : files) {
            auto known = seen.find(file.first);
            if (known != seen.end() && known->second == file.second)
                continue;
            // A file its writer still holds is tried again on a later pass.
            if (!scanner_open(file.first, true))
                continue;
            std::this_thread::sleep_for(std::chrono::milliseconds(MOMENT_MS));
            scanner_close();
            seen[file.first] = file.second;
        }
        // The tests start their run once the files already there were seen.
        if (pass == 0) {
            os_print("scanning\n");
            fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(PASS_PAUSE_MS));
    }
}
