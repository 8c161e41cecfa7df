// Names as the ANSI code page gives them, for tests whose expectations follow the code page
// the Windows build runs in (natively every form is the UTF-8 text itself).
#pragma once

#include <string>
#include <vector>

#include "os.h"

// True when every character of text has a form in the ANSI code page.
inline bool has_ansi_form(const std::string &text)
{
    return os_ansi_length(text.c_str()) >= 0;
}

// UTF-8 text in the ANSI code page, as the game's files and Windows output sent to a file or
// a pipe hold it; "" when it has no form there.
inline std::string ansi(const std::string &text)
{
    std::vector<char> buffer(text.size() + 1);
    text.copy(buffer.data(), text.size());
    buffer[text.size()] = '\0';
    if (os_utf8_to_ansi(buffer.data(), static_cast<uint32_t>(buffer.size())) != 0)
        return "";
    return buffer.data();
}

// Bytes read in the ANSI code page, in UTF-8, as a job-list line that is not UTF-8 is read.
inline std::string from_ansi(const std::string &bytes)
{
    std::vector<char> buffer(bytes.size() * 3 + 1);
    bytes.copy(buffer.data(), bytes.size());
    buffer[bytes.size()] = '\0';
    os_ansi_to_utf8(buffer.data(), static_cast<uint32_t>(buffer.size()));
    return buffer.data();
}
