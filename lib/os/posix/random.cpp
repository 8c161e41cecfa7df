// The POSIX back end, continued: random bytes from the kernel's source.
#include "os.h"

#include <fcntl.h>
#include <unistd.h>

int os_random(void *buffer, uint32_t size)
{
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    uint32_t done = 0;
    while (done < size) {
        ssize_t got = read(fd, bytes + done, size - done);
        if (got <= 0)
            break;
        done += static_cast<uint32_t>(got);
    }
    close(fd);
    return done == size ? 0 : -1;
}
