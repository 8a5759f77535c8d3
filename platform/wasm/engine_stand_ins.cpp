// What the engine's stream and memory calls reach of the file layer, for a
// browser: there are no signals, no interruption to clean up after, and no
// temporary files, so an input read in order (bmpresize_source.read) cannot
// be kept to be read twice and is refused as a spool failure. Inputs read
// at any offset (read_at), which is how the page reads a file, are enlarged
// as on every other system.
#include <cerrno>
#include <cstring>

#include "enlarge_file.h"
#include "messages.h"
#include "whole_outputs.h"
#include "write_signals.h"

namespace bmpresizer {

// The guards keep nothing here: their fields, made for POSIX signals, stay unused.
#pragma clang diagnostic ignored "-Wunused-private-field"

WriteSignalsBlocked::WriteSignalsBlocked() {}   // NOLINT(modernize-use-equals-default)
WriteSignalsBlocked::~WriteSignalsBlocked() {}  // NOLINT(modernize-use-equals-default)

InterruptionHold::InterruptionHold() : slot_(nullptr) {}
InterruptionHold::~InterruptionHold() {}  // NOLINT(modernize-use-equals-default)
bool InterruptionHold::ending() { return false; }
bool InterruptionHold::interrupted() const { return false; }
void clean_up_on_interruption(void (*)()) {}

// Nothing is read here: enlarge_sequential refuses the stream whatever its
// headers, with the reason.
std::size_t read_headers(SequentialSource&, Kinds, std::uint8_t (&)[kHeaderPrefixBytes],
                         int& error) {
  error = 0;
  return 0;
}

Outcome enlarge_sequential(SequentialSource&, ByteSpan, ByteSink&, const Request&) {
  return failed(Failure::spool_failed, ENOTSUP);
}

const char kPathSeparators[] = "/";

void add_system_error(Text& text, int error) { text.add(std::strerror(error)); }

void add_temporary_folder(Text& text) { text.add("(a browser has none)"); }

}  // namespace bmpresizer
