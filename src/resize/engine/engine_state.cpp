#include "engine_state.h"

#include <cstdlib>

namespace bmpresizer {
namespace {

// The engine's own buffer: a megabyte makes writes as large as dd's.
constexpr std::size_t kOwnWorkBytes = std::size_t{1} << 20;

}  // namespace

namespace {

// Reads one whole number in decimal, with an optional sign, from `text`
// up to `end`, into `value` if it fits a 32-bit int.
FactorText read_number(const char* text, const char* end, std::int64_t& value) {
  bool negative = false;
  if (text != end && (*text == '+' || *text == '-')) {
    negative = *text == '-';
    ++text;
  }
  if (text == end) {
    return FactorText::not_factor;
  }
  std::int64_t magnitude = 0;
  bool too_large = false;
  for (; text != end; ++text) {
    if (*text < '0' || *text > '9') {
      return FactorText::not_factor;
    }
    // Past 2^31 the digits still count as digits, never as a value.
    too_large = too_large || magnitude > (std::int64_t{1} << 31) / 10;
    magnitude = too_large ? magnitude : magnitude * 10 + (*text - '0');
  }
  const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
  if (too_large || magnitude > limit) {
    return FactorText::out_of_range;
  }
  value = negative ? -magnitude : magnitude;
  return FactorText::factor;
}

}  // namespace

FactorText read_factor(const char* text, std::int64_t (&values)[2]) {
  if (text == nullptr) {
    return FactorText::not_factor;
  }
  const char* end = text;
  const char* cross = nullptr;
  for (; *end != '\0'; ++end) {
    if ((*end == 'x' || *end == 'X') && cross == nullptr) {
      cross = end;
    }
  }
  const char* const first_end = cross != nullptr ? cross : end;
  FactorText read = read_number(text, first_end, values[0]);
  if (read == FactorText::not_factor) {
    return read;
  }
  // Both parts must be numbers before a range counts.
  const FactorText second =
      cross != nullptr ? read_number(cross + 1, end, values[1]) : FactorText::factor;
  if (second == FactorText::not_factor) {
    return second;
  }
  if (cross == nullptr) {
    values[1] = values[0];
  }
  return read == FactorText::out_of_range ? read : second;
}

bmpresize_error finish(const Outcome& outcome, bmpresize_result* result) {
  const auto error = static_cast<bmpresize_error>(outcome.failure);
  if (result != nullptr) {
    result->error = error;
    result->system_error = outcome.error;
    result->have = outcome.have;
    result->want = outcome.want;
    result->output_bytes = outcome.ok() ? outcome.output_bytes : 0;
  }
  return error;
}

Outcome outcome_of(const bmpresize_result& result) {
  Outcome outcome =
      failed(static_cast<Failure>(result.error), result.system_error, result.have, result.want);
  outcome.output_bytes = result.output_bytes;
  return outcome;
}

bool ProgressBridge::report(void* bridge, std::uint64_t written, std::uint64_t total) {
  const auto* self = static_cast<const ProgressBridge*>(bridge);
  return self->callback(self->context, written, total) == 0;
}

CallState::CallState(const bmpresize_options* given)
    : options_(given != nullptr ? *given : bmpresize_default_options(1, 1)) {
  request_.factors = Factors{options_.across, options_.down};
  request_.kinds = options_.kinds == BMPRESIZE_KINDS_CLASSIC        ? Kinds::classic
                   : options_.kinds == BMPRESIZE_KINDS_UNCOMPRESSED ? Kinds::uncompressed
                                                                    : Kinds::every;
  request_.form = (options_.flags & BMPRESIZE_WRITE_UNCOMPRESSED) != 0 ? OutputForm::uncompressed
                                                                       : OutputForm::same;
  request_.standard_streams = (options_.flags & BMPRESIZE_STANDARD_STREAMS) != 0;
  request_.split = options_.threads != 1;
  if (options_.progress != nullptr) {
    bridge_ = ProgressBridge{options_.progress, options_.progress_context};
    progress_ = Progress{&ProgressBridge::report, &bridge_};
    request_.progress = &progress_;
  }
  if (options_.work != nullptr && options_.work_bytes >= kMinWorkBytes) {
    request_.work = WorkBuffer{static_cast<std::uint8_t*>(options_.work), options_.work_bytes};
  }
}

CallState::~CallState() { std::free(own_); }

bool CallState::valid() const {
  return options_.kinds <= BMPRESIZE_KINDS_UNCOMPRESSED &&
         (options_.flags & ~(BMPRESIZE_STANDARD_STREAMS | BMPRESIZE_WRITE_UNCOMPRESSED)) == 0;
}

const Request& CallState::request() {
  if (request_.work.data == nullptr && own_ == nullptr) {
    // The C library's allocator, not the C++ one: the engine needs no C++
    // run-time library, which would cost every program that loads it a
    // millisecond to start. Not cleared: the rows overwrite whatever a page
    // holds.
    own_ = static_cast<std::uint8_t*>(std::malloc(kOwnWorkBytes));
    if (own_ != nullptr) {
      request_.work = WorkBuffer{own_, kOwnWorkBytes};
    }
  }
  return request_;
}

}  // namespace bmpresizer
