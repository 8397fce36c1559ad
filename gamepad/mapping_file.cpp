// Lines of SDL's controller-mapping format ("GUID,name,key:value,...") and
// the file that holds them.
#include <cctype>
#include <cstdio>
#include <string>

#include "gamepad/gamepad.h"

namespace zbx {

namespace {

bool all_of(std::string_view text, int (*test)(int)) {
  for (const char c : text) {
    if (!test(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// What an input is bound to: b3 (button), a2 (axis, "~" inverts it), h0.4
// (hat and direction), each with an optional half-axis sign in front.
bool valid_source(std::string_view v) {
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) v.remove_prefix(1);
  if (v.size() < 2) return false;
  const char kind = v.front();
  v.remove_prefix(1);
  if (kind == 'b') return v.size() <= 3 && all_of(v, std::isdigit);
  if (kind == 'a') {
    if (!v.empty() && v.back() == '~') v.remove_suffix(1);
    return !v.empty() && v.size() <= 3 && all_of(v, std::isdigit);
  }
  if (kind == 'h') {
    const std::size_t dot = v.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot > 3 || v.size() - dot - 1 == 0 ||
        v.size() - dot - 1 > 2) {
      return false;
    }
    return all_of(v.substr(0, dot), std::isdigit) && all_of(v.substr(dot + 1), std::isdigit);
  }
  return false;
}

enum class Field { Good, Bad, OtherSystem };

Field check_field(std::string_view field) {
  if (field.empty()) return Field::Good;  // the trailing comma
  const std::size_t colon = field.find(':');
  if (colon == std::string_view::npos || colon == 0) return Field::Bad;
  std::string_view key = field.substr(0, colon);
  const std::string_view value = field.substr(colon + 1);
  if (same_text(key, "platform")) {
    if (value.empty()) return Field::Bad;
    return same_text(value, "Linux") ? Field::Good : Field::OtherSystem;
  }
  if (same_text(key, "crc")) {
    return value.size() == 4 && all_of(value, std::isxdigit) ? Field::Good : Field::Bad;
  }
  if (same_text(key, "sdk>=") || same_text(key, "sdk<=")) {
    return !value.empty() && value.size() <= 9 && all_of(value, std::isdigit) ? Field::Good
                                                                              : Field::Bad;
  }
  if (same_text(key, "hint")) return value.empty() ? Field::Bad : Field::Good;
  bool half = false;
  if (key.front() == '+' || key.front() == '-') {
    key.remove_prefix(1);
    half = true;
  }
  const bool button = !half && pad_button_index(key) >= 0;
  if (!button && pad_axis_index(key) < 0) return Field::Bad;
  return valid_source(value) ? Field::Good : Field::Bad;
}

}  // namespace

MappingLine check_mapping_line(std::string_view line) {
  if (line.size() > MAPPING_LINE_LIMIT) return MappingLine::Bad;
  std::size_t first = 0;
  while (first < line.size() && (line[first] == ' ' || line[first] == '\t')) ++first;
  if (first == line.size() || line[first] == '#') return MappingLine::Skip;
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20) return MappingLine::Bad;
  }
  const std::size_t guidEnd = line.find(',');
  if (guidEnd == std::string_view::npos) return MappingLine::Bad;
  const std::string_view guid = line.substr(0, guidEnd);
  if (guid.size() != 32 || !all_of(guid, std::isxdigit)) return MappingLine::Bad;
  const std::size_t nameEnd = line.find(',', guidEnd + 1);
  if (nameEnd == std::string_view::npos || nameEnd == guidEnd + 1) return MappingLine::Bad;
  bool otherSystem = false;
  std::size_t at = nameEnd + 1;
  while (at <= line.size()) {
    std::size_t end = line.find(',', at);
    if (end == std::string_view::npos) end = line.size();
    const Field field = check_field(line.substr(at, end - at));
    if (field == Field::Bad) return MappingLine::Bad;
    otherSystem = otherSystem || field == Field::OtherSystem;
    at = end + 1;
  }
  return otherSystem ? MappingLine::Skip : MappingLine::Good;
}

MappingCount read_mapping_file(const char* path, bool (*add)(const char* line)) {
  MappingCount count;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return count;
  std::string line;
  bool tooLong = false;
  const auto finish = [&] {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const MappingLine kind = tooLong ? MappingLine::Bad : check_mapping_line(line);
    if (kind == MappingLine::Good && add(line.c_str())) {
      ++count.good;
    } else if (kind != MappingLine::Skip) {
      ++count.bad;
    }
    line.clear();
    tooLong = false;
  };
  // A line past the limit is skipped to its end without being kept.
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    if (c == '\n') {
      finish();
    } else if (line.size() <= MAPPING_LINE_LIMIT + 1) {
      line.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  if (!line.empty() || tooLong) finish();
  std::fclose(file);
  return count;
}

}  // namespace zbx
