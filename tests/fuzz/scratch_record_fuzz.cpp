// Fuzz target for the record of "tmp" that Zandrel reads back from a tmp.lock left behind: the
// text may come from anywhere (a stranger's car pack, another program, a torn write).
// Properties: the fields read are terminated; a record believed names a new archive that a
// job line could name and an aside name of it; a record of this release carries a token of 32
// hexadecimal digits and reads back the same once written again, one of an earlier release
// carries neither identity nor token; and nothing after its end line changes what is read.
//
// Input: the lock file's text.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "checks.h"
#include "fuzz_support.h"
#include "worklock.h"

enum { RECORD_TEXT_SIZE = 1024 };

static bool same_record(const ScratchRecord *a, const ScratchRecord *b)
{
    return a->folder.volume == b->folder.volume && a->folder.index == b->folder.index &&
           strcmp(a->token, b->token) == 0 && strcmp(a->new_mas, b->new_mas) == 0 &&
           strcmp(a->aside, b->aside) == 0 && a->packing == b->packing;
}

static void check_believed(const ScratchRecord *record, const std::string &text, int kind)
{
    fuzz_check(strlen(record->new_mas) <= ARCHIVE_NAME_MAX, "the new archive is too long");
    fuzz_check(is_work_folder_archive(record->new_mas) && !names_a_device(record->new_mas) &&
                   is_tool_safe_name(record->new_mas),
               "the new archive is no name a job line could give");
    size_t length = strlen(record->new_mas);
    fuzz_check(record->aside[0] == '\0' || (strncmp(record->aside, record->new_mas, length) == 0 &&
                                            strncmp(record->aside + length, ".bak", 4) == 0),
               "the earlier archive is no aside name of the new one");
    fuzz_check(strchr(record->aside, '\n') == nullptr, "the earlier archive holds a line end");
    if (kind == 1) {
        fuzz_check(strlen(record->token) == SCRATCH_TOKEN_SIZE - 1 &&
                       strspn(record->token, "0123456789abcdef") == SCRATCH_TOKEN_SIZE - 1,
                   "the token is not 32 hexadecimal digits");
        char *again = static_cast<char *>(malloc(RECORD_TEXT_SIZE));
        ScratchRecord reread;
        fuzz_check(format_scratch_record(record, again, RECORD_TEXT_SIZE) > 0, "no room to write");
        fuzz_check(parse_scratch_record(again, &reread) == 1 && same_record(record, &reread),
                   "the record does not read back as written");
        free(again);
    } else {
        fuzz_check(record->token[0] == '\0' && record->folder.volume == 0 &&
                       record->folder.index == 0,
                   "a record of an earlier release carries an identity or a token");
    }
    // What a longer record written before leaves after the end line counts for nothing.
    ScratchRecord longer;
    std::string tail = text + "earlier archive: x\nend\n";
    fuzz_check(parse_scratch_record(tail.c_str(), &longer) == kind && same_record(record, &longer),
               "text after the end line changed the record");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, strlen(text.c_str()));
    ScratchRecord *record = static_cast<ScratchRecord *>(malloc(sizeof(ScratchRecord)));
    memset(record, 0x55, sizeof(ScratchRecord));
    int believed = parse_scratch_record(text.c_str(), record);
    fuzz_check(believed >= 0 && believed <= 2, "parse_scratch_record gave another result");
    if (believed) {
        fuzz_check(is_terminated_within(record->new_mas, sizeof record->new_mas),
                   "the new archive overruns");
        fuzz_check(is_terminated_within(record->aside, sizeof record->aside),
                   "the earlier archive overruns");
        fuzz_check(is_terminated_within(record->token, sizeof record->token), "the token overruns");
        check_believed(record, text, believed);
    }
    free(record);
    return 0;
}
