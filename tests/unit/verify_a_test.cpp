// Error reports on the console: UTF-8 text of the arguments is written as it is, and the
// 80-byte cut of an argument never splits a character.
#include <string>

#include "output_capture.h"
#include "runtime/error.h"
#include "words_fixture.h"

namespace kel::test {
namespace {

using ReportTextTest = WordsTest;

std::string report_of(const char* issue_text) {
  Cell arg;
  issue::init_from_text(&arg, issue_text);
  Cell e;
  error::new_from_ids(&e, err::script::invalid_data.category, err::script::invalid_data.id, &arg,
                      nullptr, nullptr);
  kel::testing::OutputCapture cap;
  error::print_report(&e);
  return cap.take();
}

bool valid_utf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k)
      if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

TEST_F(ReportTextTest, NonAsciiArgumentIsWrittenOnce) {
  EXPECT_EQ(report_of("\xC3\xA9"),
            "*** Script Error: data not in correct format: #\xC3\xA9\n*** Where: ???\n");
}

TEST_F(ReportTextTest, CutArgumentKeepsWholeCharacters) {
  // "#" and 78 letters fill 79 bytes; the two bytes of the next character cross byte 80.
  std::string name(78, 'a');
  name += "\xC3\xA9";
  std::string r = report_of(name.c_str());
  EXPECT_TRUE(valid_utf8(r)) << r;
  EXPECT_NE(r.find("#" + std::string(78, 'a') + "\n"), std::string::npos) << r;
}

}  // namespace
}  // namespace kel::test
