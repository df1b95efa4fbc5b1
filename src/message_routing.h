// Where messages go: to standard output, or to standard error when standard
// output writes to a file the run reads or writes, or nowhere when that is
// true of both. A message that cannot be written is remembered, so that a
// run that would otherwise succeed ends by saying so.
#pragma once

#include <cstdio>

#include "exit_status.h"
#include "file_identity.h"

#ifdef __GNUC__
#define BANKSTITCHER_PRINTF(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define BANKSTITCHER_PRINTF(format_index, first_arg)
#endif

namespace bankstitcher {

// Identifies the files the standard streams write to; once the standard
// descriptors are safe to use, before the first file is looked up.
void start_message_routing();

// Keeps every later message out of `file`, the output or an input. A
// standard stream that could not be identified is never written to once
// any file is known. A file that could not be examined (or is not there)
// changes nothing.
void keep_messages_out_of(const FileIdentity& file);

// Prints one message on `stream`, unless it is nullptr. The format is always
// one of the tool's fixed texts, never a path.
void say_on(std::FILE* stream, const char* format, ...) BANKSTITCHER_PRINTF(2, 3);

// Prints one message where messages go now.
void say(const char* format, ...) BANKSTITCHER_PRINTF(1, 2);

// Prints the last line of a failed run and returns `status`. When it cannot
// reach standard output, it goes to standard error too, so that the failure
// is never silent.
Status fail(Status status, const char* format, ...) BANKSTITCHER_PRINTF(2, 3);

// Flushes the messages; if any could not be written, says so on standard
// error and returns kStatusMessagesFailed, else kStatusOk.
Status finish_messages();

}  // namespace bankstitcher
