// The parts of the OS layer that are the same on every back end: the fault-injection seam,
// the console window decision, the skipping of a UTF-8 mark at the start of standard input, and
// the Windows C runtime's splitting of a command line.
#include "os_common.h"
#include "os.h"

static int fault_countdown[OS_FAULT_KINDS];

void os_inject_fault(int kind, int nth)
{
    if (kind >= 0 && kind < OS_FAULT_KINDS)
        fault_countdown[kind] = nth > 0 ? nth : 0;
}

int os_fault_armed(int kind)
{
    return kind >= 0 && kind < OS_FAULT_KINDS && fault_countdown[kind] > 0 ? 1 : 0;
}

int os_fault_fires(int kind)
{
    if (kind < 0 || kind >= OS_FAULT_KINDS || fault_countdown[kind] <= 0)
        return 0;
    fault_countdown[kind]--;
    return fault_countdown[kind] == 0 ? 1 : 0;
}

#ifdef OS_COUNT_CALLS
static uint32_t system_calls;

void os_count_call(void)
{
    system_calls++;
}

uint32_t os_system_calls(void)
{
    return system_calls;
}
#else
uint32_t os_system_calls(void)
{
    return 0;
}
#endif

int os_console_is_own(int input_is_console, int output_is_console, uint32_t attached_processes)
{
    return input_is_console && output_is_console && attached_processes == 1 ? 1 : 0;
}

int os_input_past_mark(int (*next)(void))
{
    static const int mark[3] = {0xEF, 0xBB, 0xBF};
    static int started, held[3], held_count, held_next;
    if (!started) {
        started = 1;
        // The first bytes are held until they prove to be a mark or not.
        while (held_count < 3) {
            int c = next();
            held[held_count++] = c;
            if (c != mark[held_count - 1])
                break;
        }
        if (held_count == 3 && held[2] == mark[2])
            held_count = 0;
    }
    if (held_next < held_count)
        return held[held_next++];
    return next();
}

int os_split_command_line(const char *line, char **argv, char *text)
{
    int count = 0;
    const char *p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p)
            break;
        argv[count++] = text;
        int quoted = 0;
        for (;;) {
            size_t slashes = 0;
            while (*p == '\\') {
                slashes++;
                p++;
            }
            if (*p == '"') {
                for (size_t i = 0; i < slashes / 2; i++)
                    *text++ = '\\';
                if (slashes % 2)
                    *text++ = '"';
                else
                    quoted = !quoted;
                p++;
                continue;
            }
            for (size_t i = 0; i < slashes; i++)
                *text++ = '\\';
            if (!*p || (!quoted && (*p == ' ' || *p == '\t')))
                break;
            *text++ = *p++;
        }
        *text++ = '\0';
    }
    argv[count] = nullptr;
    return count;
}
