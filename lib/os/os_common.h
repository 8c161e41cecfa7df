// What both OS back ends share: the fault-injection countdown, the case folding of names and
// the command-line splitting of the Windows C runtime.
// Internal to the back ends; the library and the programs use lib/os.h only.
#pragma once

#include <stdint.h>

// 1 when this call of the kind is the armed one (the injection then disarms), else 0. The
// back end that asks sets the system's error for the failure it then reports.
int os_fault_fires(int kind);

// Counts one system call (test builds: OS_COUNT_CALLS), read back by os_system_calls. The back
// ends put OS_CALL around each call of the system that a file's handling makes.
#ifdef OS_COUNT_CALLS
void os_count_call(void);
#define OS_CALL(call) (os_count_call(), (call))
#else
#define OS_CALL(call) (call)
#endif

// Case folding of names (os_fold.cpp), behind os_compare_names, alike on both back ends.
// The simple Unicode upper-case mapping of c, for the letters the folding table holds;
// every other value unchanged.
uint32_t os_upper_case(uint32_t c);
// 1 when text is well-formed UTF-8 (no overlong forms, surrogates or cut sequences), else 0.
int os_is_utf8(const char *text);
// The upper-case form of the character at *text, which moves past it: a code point when
// utf8 (the text is well-formed UTF-8), else a byte with a to z upper-cased (one past ASCII
// as 0xDC00 plus the byte). *text must not be at the terminator.
uint32_t os_next_upper(const char **text, int utf8);
// 1 when os_compare_names finds the names alike, else 0.
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
