// Fuzz target for the console readers on a file opened as their input: read_line_from,
// read_number_from and ask_directory_from, called in a fuzzed order and compared with a model
// of the lines they should take (CR dropped, the rest of a long line discarded).
//
// Input: max_length (2 bytes), eight operation bytes, then the input text.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "os.h"
#include "textfiles.h"

enum { OPERATIONS = 8, ROUNDS = 40, NUMBER_LENGTH = 10, DIRECTORY_LENGTH = 256 };
enum { IF_EMPTY = -7777, IF_ZERO = -8888 };

// The input as the readers see it: every CR gone.
struct Model {
    std::string text;
    size_t at;
};

// The next line of at most max_length characters; the rest of a longer line is skipped.
static std::string model_line(Model *model, int max_length)
{
    size_t end = model->text.find('\n', model->at);
    if (end == std::string::npos)
        end = model->text.size();
    size_t length = end - model->at;
    std::string line =
        model->text.substr(model->at, length < (size_t)max_length ? length : max_length);
    model->at = end < model->text.size() ? end + 1 : end;
    return line.substr(0, line.find('\0'));
}

static void check_line(FILE *input, Model *model, int max_length)
{
    char *buffer = static_cast<char *>(malloc(max_length + 1));
    fuzz_check(read_line_from(input, buffer, max_length) == buffer,
               "read_line_from gave another buffer");
    fuzz_check(is_terminated_within(buffer, max_length + 1), "read_line_from overran");
    fuzz_check(model_line(model, max_length) == buffer, "read_line_from read another line");
    free(buffer);
}

static void check_number(FILE *input, Model *model)
{
    int number = read_number_from(input, IF_EMPTY, IF_ZERO);
    std::string line = model_line(model, NUMBER_LENGTH);
    if (line.empty()) {
        fuzz_check(number == IF_EMPTY, "read_number_from missed an empty line");
        return;
    }
    long value = strtol(line.c_str(), nullptr, 10);
    if (value == 0)
        fuzz_check(number == IF_ZERO, "read_number_from missed a zero");
    else
        fuzz_check(number != IF_EMPTY || value == IF_EMPTY,
                   "read_number_from took a number as empty");
}

static void check_directory(FILE *input, Model *model)
{
    char *buffer = static_cast<char *>(malloc(DIRECTORY_LENGTH + 1));
    int result = ask_directory_from(input, buffer);
    fuzz_check(result == 0 || result == 1, "ask_directory_from gave neither 0 nor 1");
    fuzz_check(is_terminated_within(buffer, DIRECTORY_LENGTH + 1), "ask_directory_from overran");
    std::string name = model_line(model, DIRECTORY_LENGTH);
    if (!name.empty() && name[0] == '"')
        name = name.substr(1, name.find('"', 1) == std::string::npos ? std::string::npos
                                                                     : name.find('"', 1) - 1);
    if (!name.empty() && name.back() == '\\')
        name.pop_back();
    fuzz_check(name == buffer, "ask_directory_from cleaned the name otherwise");
    fuzz_check(result == 0 || !name.empty(), "ask_directory_from took an empty name");
    free(buffer);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input = {data, size};
    int max_length = static_cast<int>(take_u16(&input) % 300);
    std::string operations = take_bytes(&input, OPERATIONS);
    std::string text = take_rest(&input);
    Model model = {"", 0};
    for (char c : text)
        if (c != '\r')
            model.text += c;

    std::string path = scratch_folder() + "\\input.txt";
    fuzz_check(write_bytes(path, text), "cannot write the input file");
    FILE *file = os_open_stream(path.c_str(), "r");
    fuzz_check(file != nullptr, "cannot open the input file");
    for (int round = 0; round < ROUNDS && !operations.empty(); round++) {
        int operation = static_cast<unsigned char>(operations[round % operations.size()]) % 3;
        if (operation == 0)
            check_line(file, &model, max_length);
        else if (operation == 1)
            check_number(file, &model);
        else
            check_directory(file, &model);
    }
    os_close_stream(file);
    os_delete_file(path.c_str());
    return 0;
}
