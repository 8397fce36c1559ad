// The key=value scanner shared by both settings files. Its handling of
// blanks, comments and line ends is the file format users already rely on, so
// it is a character scanner with fixed buffers rather than a line parser.
#include <array>
#include <cstdio>

#include "startup/settings.h"

namespace zbx {
namespace {

bool is_blank(int c) { return c == '\t' || c == '\n' || c == ' '; }
bool is_comment_starter(int c) { return c == '#' || c == '/' || c == ';'; }
bool is_terminator(int c) { return is_blank(c) || is_comment_starter(c) || c == '='; }

// Skips blanks and comments; returns the first other character or EOF.
int find_start(std::FILE* file) {
  for (;;) {
    int c = std::getc(file);
    if (c == EOF) return EOF;
    if (is_blank(c)) continue;
    if (!is_comment_starter(c)) return c;
    do {
      c = std::getc(file);
      if (c == EOF) return EOF;
    } while (c != '\n');
  }
}

// Stores first, then appends characters until stop has been stored. False at
// end of input or when the buffer fills before stop arrives.
bool read_until(std::FILE* file, int first, int stop, std::array<char, SETTINGS_BUFFER_SIZE>& buf,
                int& length) {
  length = 0;
  buf[length++] = static_cast<char>(first);
  for (;;) {
    if (length == SETTINGS_BUFFER_SIZE) return false;
    int c = std::getc(file);
    if (c == EOF) return false;
    buf[length++] = static_cast<char>(c);
    if (c == stop) return true;
  }
}

// Ends the text at its first terminator. The last stored character always is
// one ("=" or newline), so the cut stays inside the buffer.
void cut_at_terminator(std::array<char, SETTINGS_BUFFER_SIZE>& buf, int length) {
  for (int i = 0; i < length; ++i) {
    if (is_terminator(static_cast<unsigned char>(buf[i]))) {
      buf[i] = '\0';
      return;
    }
  }
  buf[length - 1] = '\0';  // not reached: the stop character is a terminator
}

}  // namespace

void read_settings_file(std::FILE* file, SettingsHandler handler) {
  if (file == nullptr || handler == nullptr) return;
  std::array<char, SETTINGS_BUFFER_SIZE> key{};
  std::array<char, SETTINGS_BUFFER_SIZE> value{};
  for (;;) {
    int c = find_start(file);
    if (c == EOF) return;
    int length = 0;
    // A leading "=" belongs to the key and does not end it.
    if (!read_until(file, c, '=', key, length)) return;
    cut_at_terminator(key, length);

    c = find_start(file);
    if (c == EOF) return;
    if (!read_until(file, c, '\n', value, length)) return;
    cut_at_terminator(value, length);

    handler(key.data(), value.data());
  }
}

}  // namespace zbx
