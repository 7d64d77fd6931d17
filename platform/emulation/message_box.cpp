// MessageBoxA on a terminal: the box is drawn on standard error, and, when standard input is a
// terminal, waits for Enter as a modal box waits for OK. docs/emulated-machine.md shows it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr std::string_view kOkButton = "[ OK ]";
constexpr char kDefaultCaption[] = "Error";  // what Windows shows for a NULL caption

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (;;) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return lines;
    text.remove_prefix(end + 1);
  }
}

std::string Row(std::string_view content, std::size_t width) {
  return "| " + std::string(content) + std::string(width - content.size(), ' ') + " |\n";
}

}  // namespace

// Draws:
//   +---------------------------------+
//   | caption                         |
//   +---------------------------------+
//   | text, one row per line          |
//   |                          [ OK ] |
//   +---------------------------------+
// The inner width is that of the longest of caption, text lines and button; rows are padded to
// it with spaces, so every line of the text stands exactly between "| " and the padding.
extern "C" int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  const std::string_view title = caption != nullptr ? caption : kDefaultCaption;
  const std::vector<std::string_view> lines = Lines(text != nullptr ? text : "");
  std::size_t width = std::max(title.size(), kOkButton.size());
  for (std::string_view line : lines) width = std::max(width, line.size());

  const std::string border = "+" + std::string(width + 2, '-') + "+\n";
  std::string box = border + Row(title, width) + border;
  for (std::string_view line : lines) box += Row(line, width);
  box += Row(std::string(width - kOkButton.size(), ' ') + std::string(kOkButton), width) + border;
  std::fputs(box.c_str(), stderr);
  std::fflush(stderr);

  if (isatty(STDIN_FILENO)) {
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
    }
  }
  return IDOK;
}
