// Another program that opens a file for a while, as an antivirus or an indexer opens each new
// file for a moment (sharing only reading) and a paint program holds a picture (sharing
// nothing): opened with the system's own calls, beside the OS layer. One file at a time.
// Paths are absolute, UTF-8, in the tests' Windows form ('Z:\tmp\os-...\name').
#pragma once

#include <string>

// Opens path for reading, sharing reading with others when share_reading is true, else
// sharing nothing (on POSIX an open file shares everything whatever is asked). True when
// opened.
bool scanner_open(const std::string &path, bool share_reading);
// Closes the file from another thread after milliseconds; scanner_close waits for that.
void scanner_close_after(unsigned milliseconds);
// Closes the file now, or waits for the close scanner_close_after began.
void scanner_close();
// True when the OS layer's last failed call failed because another program had the file open
// (Windows' sharing or lock violation); always false on POSIX, which has no such failure.
bool last_failure_was_sharing();
