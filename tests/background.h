// Programs started without waiting for them, for the tests where two runs overlap or one is
// stopped half-way. Paths are in the tests' Windows form ('Z:\...' on POSIX), spelt as
// stored. Standard input is empty; standard output and error go to one file.
#pragma once

#include <stdint.h>

#include <string>

// Starts program in the current folder with argument 0 only (its name) and returns at once.
// A process id, or -1 when it could not be started.
intptr_t background_start(const std::string &program, const std::string &name,
                          const std::string &output_path);
// Waits for the program's end. Its exit status (-1 shows as 255 on POSIX), or -1000 when
// it was killed or cannot be waited for.
int background_wait(intptr_t process);
// Ends that process at once, as a crash or Task Manager would, and waits for its end. The
// programs it started go on running.
void background_kill(intptr_t process);
// Ends that process and every program it started (POSIX: its process group; Windows: its
// job object), and waits for its end.
void background_kill_tree(intptr_t process);
