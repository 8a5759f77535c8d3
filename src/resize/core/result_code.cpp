// The one place where the core's outcomes meet the public result codes.
#include "bmpresizer.h"
#include "bmpresizer_core.h"

namespace bmpresizer {

int result_code(const Outcome& outcome) {
  switch (group_of(outcome.failure)) {
    case FailureGroup::none:
      return BMPRESIZER_SUCCESS;
    case FailureGroup::input_unopened:
      return BMPRESIZER_CANNOT_OPEN_INPUT;
    case FailureGroup::output_unopened:
      return BMPRESIZER_CANNOT_OPEN_OUTPUT;
    case FailureGroup::input_refused:
      return BMPRESIZER_UNSUPPORTED_INPUT;
    case FailureGroup::size_refused:
      return BMPRESIZER_OUTPUT_TOO_LARGE;
    case FailureGroup::io_failed:
    case FailureGroup::misuse:
      return BMPRESIZER_IO_ERROR;
  }
  return BMPRESIZER_IO_ERROR;
}

}  // namespace bmpresizer
