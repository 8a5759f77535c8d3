// What every exported call of the engine shares: the caller's options as
// the core's request, and the outcome as the caller's result.
#ifndef BMPRESIZER_ENGINE_ENGINE_STATE_H
#define BMPRESIZER_ENGINE_ENGINE_STATE_H

#include "bmpresize.h"
#include "enlarge_file.h"

namespace bmpresizer {

// What FACTOR's text is (bmpresize_parse_factor).
enum class FactorText { factor, not_factor, out_of_range };

// Reads `text` as FACTOR into `values` (across, down).
FactorText read_factor(const char* text, std::int64_t (&values)[2]);

// Fills `result` (if any) from `outcome`; returns its error.
bmpresize_error finish(const Outcome& outcome, bmpresize_result* result);

// The core's outcome that `result` describes.
Outcome outcome_of(const bmpresize_result& result);

// The caller's progress callback as the core's.
struct ProgressBridge {
  bmpresize_progress_fn callback = nullptr;
  void* context = nullptr;
  static bool report(void* bridge, std::uint64_t written, std::uint64_t total);
};

// One call's options (null: the defaults at 1 x 1) and the memory it holds.
class CallState {
 public:
  explicit CallState(const bmpresize_options* given);
  ~CallState();
  CallState(const CallState&) = delete;
  CallState& operator=(const CallState&) = delete;

  // The options are usable: known kinds and flags.
  bool valid() const;

  // The request, with a buffer of the call's own where the caller lent none
  // (or one too small to use): a megabyte, allocated now and freed with the
  // call, so that calls on several threads never wait for each other;
  // without the memory, the core's few kilobytes of stack serve (slow, never
  // wrong).
  const Request& request();
  // The request without a buffer of the call's own: for calls that only
  // read headers.
  const Request& settings() const { return request_; }

 private:
  bmpresize_options options_{};
  Request request_;
  ProgressBridge bridge_;
  Progress progress_;
  std::uint8_t* own_ = nullptr;
};

}  // namespace bmpresizer

#endif
