// The tool's progress line: whatever the terminal's width, never as wide as
// the terminal (which would wrap it and leave a stale line at each redraw);
// the bar shortens first, then the fields go, the least useful first.
#include <gtest/gtest.h>

#include <string>

#include "progress.h"

namespace {

TEST(RenderProgress, FitsEveryWidthAndDropsFieldsInOrder) {
  bmpresize::ProgressFields fields;
  fields.done = 0.31;
  fields.amount = "1.1 GiB / 3.4 GiB";
  fields.bytes_per_second = 2.1 * 1024 * 1024 * 1024;
  fields.seconds_left = 61;
  const std::string fields_text = "  31%  1.1 GiB / 3.4 GiB  2.1 GiB/s  1:01 left";  // 46
  const struct Case {
    int columns;
    std::string want;
  } cases[] = {
      {200, "[#########---------------------]" + fields_text},            // the widest bar, 30
      {79, "[#########---------------------]" + fields_text},             // 78 characters
      {78, "[########---------------------]" + fields_text},              // the bar shortens
      {59, "[###-------]" + fields_text},                                 // down to 10
      {58, "[######--------------]  31%  1.1 GiB / 3.4 GiB  2.1 GiB/s"},  // then "left" goes
      {40, "[####---------]  31%  1.1 GiB / 3.4 GiB"},                    // then the rate
      {29, "[######---------------]  31%"},                               // then the amount
      {18, "[###-------]  31%"},
      {17, "  31%"},  // no room for a bar of 10
      {1, ""},
  };
  for (const Case& c : cases) {
    const std::string line = bmpresize::render_progress(fields, c.columns);
    EXPECT_EQ(line, c.want) << c.columns << " columns";
    EXPECT_LT(line.size(), static_cast<std::size_t>(c.columns)) << c.columns << " columns";
  }
}

}  // namespace
