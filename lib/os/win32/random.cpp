// The Win32 back end, continued: random bytes from the system's source. The C runtime's
// rand_s reaches RtlGenRandom through the runtime itself, so the program imports no DLL
// beyond KERNEL32.dll and msvcrt.dll.
#define _CRT_RAND_S
#include <stdlib.h>
#include <string.h>

#include "os.h"
#include "shared.h"

int os_random(void *buffer, uint32_t size)
{
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    for (uint32_t done = 0; done < size; done += sizeof(unsigned int)) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) {
            SetLastError(ERROR_GEN_FAILURE);
            return -1;
        }
        uint32_t part = size - done < sizeof value ? size - done : sizeof value;
        memcpy(bytes + done, &value, part);
    }
    return 0;
}
