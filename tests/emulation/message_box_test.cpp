// MessageBoxA on a terminal: the box drawn on standard error, exactly as documented.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "platform/win32.h"

namespace {

// Runs MessageBoxA, not from a terminal, and returns what it wrote on standard error.
std::string Drawn(const char* text, const char* caption) {
  fflush(stderr);
  FILE* capture = tmpfile();
  const int savedError = dup(STDERR_FILENO), savedInput = dup(STDIN_FILENO);
  dup2(fileno(capture), STDERR_FILENO);
  const int nothing = open("/dev/null", O_RDONLY);
  dup2(nothing, STDIN_FILENO);  // a box on a terminal would wait for Enter
  close(nothing);
  EXPECT_EQ(MessageBoxA(nullptr, text, caption, MB_SYSTEMMODAL), IDOK);
  fflush(stderr);
  dup2(savedError, STDERR_FILENO);
  dup2(savedInput, STDIN_FILENO);
  close(savedError);
  close(savedInput);
  std::string drawn(4096, '\0');
  rewind(capture);
  drawn.resize(fread(drawn.data(), 1, drawn.size(), capture));
  fclose(capture);
  return drawn;
}

std::string Spaces(std::size_t count) {
  return std::string(count, ' ');
}

TEST(MessageBox, DrawsCaptionTextAndOkKeepingEverySpace) {
  const std::string border = "+" + std::string(51, '-') + "+\n";
  EXPECT_EQ(
      Drawn("            Installation is complete.            ", "VORN VORN Video Decoder Setup"),
      border + "| VORN VORN Video Decoder Setup" + Spaces(20) + " |\n" + border + "| " +
          Spaces(12) + "Installation is complete." + Spaces(12) + " |\n" + "| " + Spaces(43) +
          "[ OK ] |\n" + border);
  EXPECT_EQ(Drawn("Wrong Windows Version\nsecond line", nullptr),
            "+-----------------------+\n"
            "| Error                 |\n"
            "+-----------------------+\n"
            "| Wrong Windows Version |\n"
            "| second line" +
                Spaces(10) +
                " |\n"
                "| " +
                Spaces(15) +
                "[ OK ] |\n"
                "+-----------------------+\n");
}

}  // namespace
