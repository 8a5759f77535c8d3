// The engine's path calls: the caller's paths as the file layer takes
// them, and the call's state.
#include <cstdlib>

#include "bmpresize.h"
#include "callback_streams.h"
#include "engine_state.h"
#include "enlarge_file.h"
#include "write_signals.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace bmpresizer {
namespace {

Outcome enlarge_native(NativePath input, NativePath output, CallState& call) {
  if (!call.valid()) {
    return failed(Failure::invalid_argument);
  }
  const WriteSignalsBlocked write_signals_blocked;
  return enlarge_file(input, output, call.request());
}

// The caller's stream into the output `output`.
Outcome enlarge_stream_native(const bmpresize_source* input, NativePath output, CallState& call) {
  if (input == nullptr || (input->read_at == nullptr && input->read == nullptr) || !call.valid()) {
    return failed(Failure::invalid_argument);
  }
  const WriteSignalsBlocked write_signals_blocked;
  const Request& request = call.request();
  if (input->read_at != nullptr) {
    CallbackSource source(*input);
    return enlarge_to_path(source, output, request);
  }
  CallbackReader reader(*input);
  std::uint8_t head[kHeaderPrefixBytes];
  int error = 0;
  const std::size_t got = read_headers(reader, request.kinds, head, error);
  if (error != 0) {
    return failed(Failure::read_failed, error);
  }
  return enlarge_sequential_to_path(reader, ByteSpan{head, got}, output, request);
}

#ifdef _WIN32
// Both paths as Windows takes them; too large for a small thread's stack.
struct WidePaths {
  wchar_t input[kMaxPathUnits];
  wchar_t output[kMaxPathUnits];
};

// `utf8` as UTF-16 in `wide`, or null when it is null, too long or not
// UTF-8.
NativePath widen(const char* utf8, wchar_t (&wide)[kMaxPathUnits]) {
  if (utf8 == nullptr) {
    return nullptr;
  }
  if (utf8[0] == '\0') {
    wide[0] = L'\0';
    return wide;
  }
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, kMaxPathUnits);
  return units > 0 ? wide : nullptr;
}
#endif

// Runs `call(input, output)` with the caller's UTF-8 paths as the file layer
// takes them: as they are on POSIX; on Windows as UTF-16, in room too large
// for a small thread's stack.
template <class Call>
Outcome with_native_paths(const char* input, const char* output, Call call) {
#ifdef _WIN32
  auto* paths = static_cast<WidePaths*>(std::malloc(sizeof(WidePaths)));
  if (paths == nullptr) {
    return failed(Failure::out_of_memory);
  }
  const Outcome outcome = call(widen(input, paths->input), widen(output, paths->output));
  std::free(paths);
  return outcome;
#else
  return call(input, output);
#endif
}

}  // namespace
}  // namespace bmpresizer

extern "C" {

BMPRESIZE_API bmpresize_error bmpresize_enlarge_file(const char* input, const char* output,
                                                     const bmpresize_options* options,
                                                     bmpresize_result* result) {
  bmpresizer::CallState call(options);
  return bmpresizer::finish(
      bmpresizer::with_native_paths(input, output,
                                    [&call](bmpresizer::NativePath in, bmpresizer::NativePath out) {
                                      return bmpresizer::enlarge_native(in, out, call);
                                    }),
      result);
}

#ifdef _WIN32
BMPRESIZE_API bmpresize_error bmpresize_enlarge_file_w(const wchar_t* input, const wchar_t* output,
                                                       const bmpresize_options* options,
                                                       bmpresize_result* result) {
  bmpresizer::CallState call(options);
  return bmpresizer::finish(bmpresizer::enlarge_native(input, output, call), result);
}
#endif

BMPRESIZE_API bmpresize_error bmpresize_enlarge_to_file(const bmpresize_source* input,
                                                        const char* output,
                                                        const bmpresize_options* options,
                                                        bmpresize_result* result) {
  bmpresizer::CallState call(options);
  return bmpresizer::finish(bmpresizer::with_native_paths(
                                "", output,
                                [input, &call](bmpresizer::NativePath, bmpresizer::NativePath out) {
                                  return bmpresizer::enlarge_stream_native(input, out, call);
                                }),
                            result);
}

#ifdef _WIN32
BMPRESIZE_API bmpresize_error bmpresize_enlarge_to_file_w(const bmpresize_source* input,
                                                          const wchar_t* output,
                                                          const bmpresize_options* options,
                                                          bmpresize_result* result) {
  bmpresizer::CallState call(options);
  return bmpresizer::finish(bmpresizer::enlarge_stream_native(input, output, call), result);
}
#endif

}  // extern "C"
