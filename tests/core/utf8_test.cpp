// Text another party wrote, made safe to print on a terminal.

#include "core/utf8.hpp"

#include <gtest/gtest.h>

namespace tamrik::core {
namespace {

TEST(PrintableText, ControlsBecomeSpacesAndBrokenSequencesReplacementCharacters) {
  EXPECT_EQ(printable_text("Acme \x1b]0;owned\x07 \xc2\x9b"
                           "31m\r\nweb"),
            "Acme  ]0;owned   31m  web");
  EXPECT_EQ(printable_text("caf\xc3\xa9 \xff"), "caf\xc3\xa9 \xef\xbf\xbd");
}

}  // namespace
}  // namespace tamrik::core
