// Names compared without regard to case, as Windows compares them: a UTF-8 name through the
// simple Unicode upper-case mapping, as the upper-case table of NTFS; any other name by its
// bytes with the ASCII letters upper-cased.
#include "os.h"
#include "os_common.h"

#include <stddef.h>

// Lower-case letters whose upper-case form lies a fixed distance away, in runs: the first and
// last letter, the step between the letters of a run (2 where lower and upper case alternate)
// and the distance. Latin up to the IPA letters, Greek, Cyrillic, Latin Extended Additional,
// Greek Extended (the polytonic accents) and the fullwidth Latin letters; left out are the few
// mappings that change a letter's UTF-8 length (dotless i and long s to ASCII, some IPA
// letters, the Greek prosgegrammeni U+1FBE), so that names that fold alike have one length.
struct FoldRun {
    uint16_t first, last;
    uint8_t step;
    int16_t delta;
};

static const FoldRun FOLD_RUNS[] = {
    {0x0061, 0x007A, 1, -32},  {0x00B5, 0x00B5, 1, 743},  {0x00E0, 0x00F6, 1, -32},
    {0x00F8, 0x00FE, 1, -32},  {0x00FF, 0x00FF, 1, 121},  {0x0101, 0x012F, 2, -1},
    {0x0133, 0x0137, 2, -1},   {0x013A, 0x0148, 2, -1},   {0x014B, 0x0177, 2, -1},
    {0x017A, 0x017E, 2, -1},   {0x0180, 0x0180, 1, 195},  {0x0183, 0x0185, 2, -1},
    {0x0188, 0x0188, 1, -1},   {0x018C, 0x018C, 1, -1},   {0x0192, 0x0192, 1, -1},
    {0x0195, 0x0195, 1, 97},   {0x0199, 0x0199, 1, -1},   {0x019A, 0x019A, 1, 163},
    {0x019E, 0x019E, 1, 130},  {0x01A1, 0x01A5, 2, -1},   {0x01A8, 0x01A8, 1, -1},
    {0x01AD, 0x01AD, 1, -1},   {0x01B0, 0x01B0, 1, -1},   {0x01B4, 0x01B6, 2, -1},
    {0x01B9, 0x01B9, 1, -1},   {0x01BD, 0x01BD, 1, -1},   {0x01BF, 0x01BF, 1, 56},
    {0x01C5, 0x01C5, 1, -1},   {0x01C6, 0x01C6, 1, -2},   {0x01C8, 0x01C8, 1, -1},
    {0x01C9, 0x01C9, 1, -2},   {0x01CB, 0x01CB, 1, -1},   {0x01CC, 0x01CC, 1, -2},
    {0x01CE, 0x01DC, 2, -1},   {0x01DD, 0x01DD, 1, -79},  {0x01DF, 0x01EF, 2, -1},
    {0x01F2, 0x01F2, 1, -1},   {0x01F3, 0x01F3, 1, -2},   {0x01F5, 0x01F5, 1, -1},
    {0x01F9, 0x021F, 2, -1},   {0x0223, 0x0233, 2, -1},   {0x023C, 0x023C, 1, -1},
    {0x0242, 0x0242, 1, -1},   {0x0247, 0x024F, 2, -1},   {0x0253, 0x0253, 1, -210},
    {0x0254, 0x0254, 1, -206}, {0x0256, 0x0257, 1, -205}, {0x0259, 0x0259, 1, -202},
    {0x025B, 0x025B, 1, -203}, {0x0260, 0x0260, 1, -205}, {0x0263, 0x0263, 1, -207},
    {0x0268, 0x0268, 1, -209}, {0x0269, 0x0269, 1, -211}, {0x026F, 0x026F, 1, -211},
    {0x0272, 0x0272, 1, -213}, {0x0275, 0x0275, 1, -214}, {0x0280, 0x0280, 1, -218},
    {0x0283, 0x0283, 1, -218}, {0x0288, 0x0288, 1, -218}, {0x0289, 0x0289, 1, -69},
    {0x028A, 0x028B, 1, -217}, {0x028C, 0x028C, 1, -71},  {0x0292, 0x0292, 1, -219},
    {0x0371, 0x0373, 2, -1},   {0x0377, 0x0377, 1, -1},   {0x037B, 0x037D, 1, 130},
    {0x03AC, 0x03AC, 1, -38},  {0x03AD, 0x03AF, 1, -37},  {0x03B1, 0x03C1, 1, -32},
    {0x03C2, 0x03C2, 1, -31},  {0x03C3, 0x03CB, 1, -32},  {0x03CC, 0x03CC, 1, -64},
    {0x03CD, 0x03CE, 1, -63},  {0x03D0, 0x03D0, 1, -62},  {0x03D1, 0x03D1, 1, -57},
    {0x03D5, 0x03D5, 1, -47},  {0x03D6, 0x03D6, 1, -54},  {0x03D7, 0x03D7, 1, -8},
    {0x03D9, 0x03EF, 2, -1},   {0x03F0, 0x03F0, 1, -86},  {0x03F1, 0x03F1, 1, -80},
    {0x03F2, 0x03F2, 1, 7},    {0x03F3, 0x03F3, 1, -116}, {0x03F5, 0x03F5, 1, -96},
    {0x03F8, 0x03F8, 1, -1},   {0x03FB, 0x03FB, 1, -1},   {0x0430, 0x044F, 1, -32},
    {0x0450, 0x045F, 1, -80},  {0x0461, 0x0481, 2, -1},   {0x048B, 0x04BF, 2, -1},
    {0x04C2, 0x04CE, 2, -1},   {0x04CF, 0x04CF, 1, -15},  {0x04D1, 0x052F, 2, -1},
    {0x1E01, 0x1E95, 2, -1},   {0x1E9B, 0x1E9B, 1, -59},  {0x1EA1, 0x1EFF, 2, -1},
    {0x1F00, 0x1F07, 1, 8},    {0x1F10, 0x1F15, 1, 8},    {0x1F20, 0x1F27, 1, 8},
    {0x1F30, 0x1F37, 1, 8},    {0x1F40, 0x1F45, 1, 8},    {0x1F51, 0x1F57, 2, 8},
    {0x1F60, 0x1F67, 1, 8},    {0x1F70, 0x1F71, 1, 74},   {0x1F72, 0x1F75, 1, 86},
    {0x1F76, 0x1F77, 1, 100},  {0x1F78, 0x1F79, 1, 128},  {0x1F7A, 0x1F7B, 1, 112},
    {0x1F7C, 0x1F7D, 1, 126},  {0x1F80, 0x1F87, 1, 8},    {0x1F90, 0x1F97, 1, 8},
    {0x1FA0, 0x1FA7, 1, 8},    {0x1FB0, 0x1FB1, 1, 8},    {0x1FB3, 0x1FB3, 1, 9},
    {0x1FC3, 0x1FC3, 1, 9},    {0x1FD0, 0x1FD1, 1, 8},    {0x1FE0, 0x1FE1, 1, 8},
    {0x1FE5, 0x1FE5, 1, 7},    {0x1FF3, 0x1FF3, 1, 9},    {0xFF41, 0xFF5A, 1, -32}};

uint32_t os_upper_case(uint32_t c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
    size_t low = 0, high = sizeof FOLD_RUNS / sizeof FOLD_RUNS[0];
    while (low < high) {
        size_t middle = (low + high) / 2;
        const FoldRun *run = &FOLD_RUNS[middle];
        if (c < run->first)
            high = middle;
        else if (c > run->last)
            low = middle + 1;
        else
            return (c - run->first) % run->step == 0 ? c + run->delta : c;
    }
    return c;
}

// The length of the well-formed UTF-8 sequence at text, its code point in *c; 0 when the bytes
// there are no such sequence (a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF, a cut sequence).
static int utf8_sequence(const unsigned char *text, uint32_t *c)
{
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    int length = text[0] < 0x80                       ? 1
                 : text[0] >= 0xC2 && text[0] <= 0xDF ? 2
                 : (text[0] & 0xF0) == 0xE0           ? 3
                 : text[0] >= 0xF0 && text[0] <= 0xF4 ? 4
                                                      : 0;
    if (length == 0)
        return 0;
    uint32_t value = length == 1 ? text[0] : text[0] & (0x7F >> length);
    for (int i = 1; i < length; i++) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (text[i] & 0x3F);
    }
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *c = value;
    return length;
}

int os_is_utf8(const char *text)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    uint32_t c;
    while (*p) {
        int length = utf8_sequence(p, &c);
        if (length == 0)
            return 0;
        p += length;
    }
    return 1;
}

int os_text_is_utf8(const char *text)
{
    int beyond = 0;
    for (const char *p = text; *p; p++)
        beyond |= static_cast<unsigned char>(*p) >= 0x80;
    return beyond && os_is_utf8(text);
}

uint32_t os_next_upper(const char **text, int utf8)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(*text);
    uint32_t c = p[0];
    int length = utf8 ? utf8_sequence(p, &c) : 1;
    *text += length > 0 ? length : 1;
    if (utf8 && length > 0)
        return os_upper_case(c);
    // A byte of a name that is no UTF-8 stands for itself; one past ASCII becomes a lone
    // surrogate (as Python's surrogateescape has it), which no UTF-8 name holds, so that such
    // a name never equals a UTF-8 one.
    if (c >= 0x80)
        return 0xDC00 + c;
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
}

// The place of a character in the order of UTF-16 code units, by which NTFS orders names: a
// character past U+FFFF is a surrogate pair there, whose first unit (U+D800 to U+DBFF) puts
// it before U+E000 to U+FFFF. A character of the BMP is one unit, which no surrogate pair
// begins with (the lone surrogates of bytes that are no UTF-8 are U+DC80 to U+DCFF).
static uint32_t utf16_place(uint32_t c)
{
    if (c < 0x10000)
        return c << 10;
    c -= 0x10000;
    return ((0xD800 + (c >> 10)) << 10) | (c & 0x3FF);
}

int os_compare_names(const char *a, const char *b)
{
    // Most names are ASCII, whose characters are single bytes that compare in their upper case
    // as their UTF-16 units do; the first byte past ASCII hands the rest to the whole way,
    // which also asks whether each name as a whole is UTF-8.
    for (; *a && *b && !((*a | *b) & 0x80); a++, b++) {
        uint32_t x = os_upper_case(static_cast<unsigned char>(*a));
        uint32_t y = os_upper_case(static_cast<unsigned char>(*b));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (!*a || !*b)
        return *a ? 1 : *b ? -1 : 0;
    int a_utf8 = os_is_utf8(a);
    int b_utf8 = os_is_utf8(b);
    while (*a && *b) {
        uint32_t x = utf16_place(os_next_upper(&a, a_utf8));
        uint32_t y = utf16_place(os_next_upper(&b, b_utf8));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return *a ? 1 : *b ? -1 : 0;
}

int os_equal_folded(const char *a, const char *b)
{
    return os_compare_names(a, b) == 0 ? 1 : 0;
}

int os_char_length(const char *name, uint32_t position)
{
    const unsigned char *at = reinterpret_cast<const unsigned char *>(name) + position;
    uint32_t c;
    if (*at == 0)
        return 0;
    if (*at < 0x80 || !os_is_utf8(name))
        return 1;
    return utf8_sequence(at, &c);
}

uint32_t os_utf16_length(const char *text)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    uint32_t units = 0, c;
    while (*p) {
        int length = utf8_sequence(p, &c);
        units += length == 4 ? 2 : 1;
        p += length > 0 ? length : 1;
    }
    return units;
}
