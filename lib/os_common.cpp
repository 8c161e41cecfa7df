// The parts of the OS layer that are the same on every back end: the fault-injection seam
// and the ASCII case folding by which names are compared, as Windows compares them.
#include "os.h"
#include "os_common.h"

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

int os_fold_ascii(int c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

int os_equal_folded(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (os_fold_ascii(static_cast<unsigned char>(*a)) !=
            os_fold_ascii(static_cast<unsigned char>(*b)))
            return 0;
    return *a == *b;
}
