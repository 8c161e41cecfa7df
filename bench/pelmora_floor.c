/* The floor for Pelmora's benchmark: the reads and writes that rewriting one folder of .veh
 * files prescribes, done with plain system calls and nothing else. Per file with a reference
 * counterpart: read the reference file, read the new file, write NAME.pelmora, copy it back over
 * the new file, delete it. Usage: pelmora_floor REFERENCE_FOLDER NEW_FOLDER */
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

enum { FILE_MAX = 1 << 20, PATH_MAX_BYTES = 4096 };

static char reference_text[FILE_MAX], new_text[FILE_MAX], output_text[2 * FILE_MAX];

/* The whole file in buffer; its length, or -1 when it cannot be read. */
static long read_whole(const char *path, char *buffer)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0)
        return -1;
    long length = 0;
    ssize_t got;
    while (length < FILE_MAX && (got = read(fd, buffer + length, FILE_MAX - length)) > 0)
        length += got;
    close(fd);
    return length;
}

static int write_whole(const char *path, const char *buffer, long length)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    int result = write(fd, buffer, (size_t)length) == length ? 0 : -1;
    close(fd);
    return result;
}

static int holds(const char *line, long length, const char *key)
{
    size_t key_length = strlen(key);
    for (long i = 0; i + (long)key_length <= length; i++)
        if (memcmp(line + i, key, key_length) == 0)
            return 1;
    return 0;
}

/* Appends line (without its line end) and CR LF to the output. */
static long append_line(long out, const char *line, long length)
{
    memcpy(output_text + out, line, (size_t)length);
    output_text[out + length] = '\r';
    output_text[out + length + 1] = '\n';
    return out + length + 2;
}

/* Appends the lines of text that the rewrite keeps, each with CR LF: of the reference file
 * its DescFile= lines up to its first DescClass= line, of the new file every other line. */
static long filter_lines(const char *text, long length, long out, int reference)
{
    long start = 0;
    while (start < length) {
        long end = start;
        while (end < length && text[end] != '\n')
            end++;
        long line_length = end - start;
        if (line_length > 0 && text[start + line_length - 1] == '\r')
            line_length--;
        const char *line = text + start;
        int file_key = holds(line, line_length, "DescFile=");
        int class_key = holds(line, line_length, "DescClass=");
        if (reference) {
            if (file_key)
                out = append_line(out, line, line_length);
            if (class_key)
                return append_line(out, line, line_length);
        } else if (!file_key && !class_key) {
            out = append_line(out, line, line_length);
        }
        start = end + 1;
    }
    return out;
}

static void rewrite(const char *reference_folder, const char *folder, const char *name)
{
    char reference[PATH_MAX_BYTES], current[PATH_MAX_BYTES], output[PATH_MAX_BYTES];
    snprintf(reference, sizeof reference, "%s/%s", reference_folder, name);
    snprintf(current, sizeof current, "%s/%s", folder, name);
    snprintf(output, sizeof output, "%s/%s.pelmora", folder, name);
    long reference_length = read_whole(reference, reference_text);
    if (reference_length < 0)
        return;
    long new_length = read_whole(current, new_text);
    if (new_length < 0)
        return;
    long out = filter_lines(reference_text, reference_length, 0, 1);
    out = filter_lines(new_text, new_length, out, 0);
    if (write_whole(output, output_text, out) != 0)
        return;
    printf("%s\\%s\n", folder, name);
    long copied = read_whole(output, output_text);
    if (copied >= 0 && write_whole(current, output_text, copied) == 0)
        unlink(output);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: pelmora_floor REFERENCE_FOLDER NEW_FOLDER\n");
        return 2;
    }
    DIR *dir = opendir(argv[2]);
    if (!dir)
        return 1;
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
        size_t length = strlen(entry->d_name);
        if (length > 4 && strcasecmp(entry->d_name + length - 4, ".veh") == 0)
            rewrite(argv[1], argv[2], entry->d_name);
    }
    closedir(dir);
    return 0;
}
