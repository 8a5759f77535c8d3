// The English messages of failed calls, as the bmpresize tool prints them.
#ifndef BMPRESIZER_ENGINE_MESSAGES_H
#define BMPRESIZER_ENGINE_MESSAGES_H

#include <cstddef>

#include "bmpresizer_core.h"
#include "text.h"

namespace bmpresizer {

// "NAME: what is wrong[; how to convert it]" for a failed `outcome`, NAME
// being `input` or `output` (null: ""), whichever the failure is about.
// Nothing for success.
void add_message(Text& text, const Outcome& outcome, const char* input, const char* output);

// The platform's parts: the system's text for an error number of the file
// layer (errno; GetLastError on Windows), the folder of temporary files as
// UTF-8, and the characters that end a folder's name in a path.
void add_system_error(Text& text, int error);
void add_temporary_folder(Text& text);
extern const char kPathSeparators[];

}  // namespace bmpresizer

#endif
