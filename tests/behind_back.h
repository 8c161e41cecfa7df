// Changes made to a folder behind the OS layer's back, with plain system calls, as another
// program would make them; for the tests of the layer's cached folder listings. They exist
// on POSIX only: on Windows behind_back_available() is false and every other routine -1.
// Paths are in the tests' Windows form ('Z:\tmp\os-...\name'), spelt as stored.
#pragma once

#include <stdint.h>

#include <string>

bool behind_back_available();
// Each 0, or -1.
int behind_create_file(const std::string &path);
int behind_delete_file(const std::string &path);
int behind_rename(const std::string &from, const std::string &to);
int behind_make_folder(const std::string &path);
// Makes link a symbolic link to target (stored as written, relative to link's folder).
int behind_make_link(const std::string &target, const std::string &link);
// Makes link a symbolic link to the absolute path target in the Unix file system, as a Linux
// user or program would: natively as behind_make_link does; in the Windows build under Wine
// with the host's own ln, which Wine starts as it starts any program, so that the Windows
// build meets such links as Wine shows them. -1 where it cannot (Windows itself).
int unix_make_link(const std::string &target, const std::string &link);
// Removes such a link (which Wine may not show at all once it leads nowhere). 0, or -1.
int unix_remove_link(const std::string &link);
// Sets the modification time of a file or folder, as a file system whose clock had not
// moved on would leave it.
int behind_set_time(const std::string &path, long long seconds, long nanoseconds);
// Now plus offset_seconds, in seconds since 1970.
long long behind_clock_seconds(long long offset_seconds);
// Opens the file at path as a program that shares nothing holds it (a paint program): no
// other open of it succeeds until behind_release_file. A handle, or -1 where the system has
// no such holds (POSIX).
intptr_t behind_hold_unshared(const std::string &path);
void behind_release_file(intptr_t handle);
