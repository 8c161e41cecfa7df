// What both OS back ends share: the fault-injection countdown, ASCII case folding and the
// command-line splitting of the Windows C runtime.
// Internal to the back ends; the library and the programs use lib/os.h only.
#pragma once

// 1 when this call of the kind is the armed one (the injection then disarms), else 0. The
// back end that asks sets the system's error for the failure it then reports.
int os_fault_fires(int kind);

// c with A to Z folded to a to z; every other value unchanged.
int os_fold_ascii(int c);
// 1 when the texts are equal but for ASCII case, else 0.
int os_equal_folded(const char *a, const char *b);

// Splits a command line as the Windows C runtime does into argv (terminated by a null
// pointer), the words stored in text (strlen(line) + 1 bytes). Runs of blanks and tabs
// separate words; '"' toggles quoting; 2n backslashes before '"' give n backslashes and the
// '"' toggles, 2n+1 give n and a literal '"'; other backslashes are literal.
// Result: the number of words.
int os_split_command_line(const char *line, char **argv, char *text);

// Standard input read through next (a back end's byte reader), with a UTF-8 mark (EF BB BF)
// at its very start skipped; every other byte comes as next gave it.
int os_input_past_mark(int (*next)(void));
