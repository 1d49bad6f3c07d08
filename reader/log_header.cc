// The header lines of a text log: every key's value parser, and the names of
// the column-title line.
#include "reader/log_header.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {


// The value of a header line: it begins two characters after the line's
// first ": " and ends at the first 0, carriage return or line feed, where the
// line is terminated. Returns nullptr when the line has no ": ".
char* header_value(char* line) {
  char* colon = strstr(line, ": ");
  if (colon == nullptr) return nullptr;
  char* value = colon + 2;
  value[strcspn(value, "\r\n")] = '\0';
  return value;
}

void handle_logger_type(LogHeader* header, char* line) {
  const char* value = header_value(line);
  if (value == nullptr) return;
  if (strcmp(value, "VorlatAlpha") == 0) header->logger_type = 0;
  if (strcmp(value, "VorlatBeta") == 0) header->logger_type = 1;
  if (strcmp(value, "VorlatGamma") == 0) header->logger_type = 2;
}

// The first whitespace-delimited word, cut at the field's capacity by the
// scanner's width; a value without a word leaves the field as it was.
void handle_hw_rev(LogHeader* header, char* line) {
  const char* value = header_value(line);
  char word[sizeof header->hw_rev];
  if (value != nullptr && sscanf(value, "%4s", word) == 1) memcpy(header->hw_rev, word, sizeof word);
}
void handle_fw_rev(LogHeader* header, char* line) {
  const char* value = header_value(line);
  char word[sizeof header->fw_rev];
  if (value != nullptr && sscanf(value, "%4s", word) == 1) memcpy(header->fw_rev, word, sizeof word);
}
void handle_logger_id(LogHeader* header, char* line) {
  const char* value = header_value(line);
  char word[sizeof header->logger_id];
  if (value != nullptr && sscanf(value, "%21s", word) == 1) memcpy(header->logger_id, word, sizeof word);
}
static_assert(sizeof(LogHeader::hw_rev) == 5 && sizeof(LogHeader::fw_rev) == 5 &&
                  sizeof(LogHeader::logger_id) == 22,
              "the scanner widths above follow the field sizes");

// An integer with base prefix (as "%i" reads it: a sign, then "0x" for
// hexadecimal, a leading "0" for octal, else decimal). False when the value
// does not start with a number or the number does not fit 64 bits.
bool scan_integer(const char* value, int64_t* number) {
  if (value == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = strtoll(value, &end, 0);
  if (end == value || errno == ERANGE) return false;
  *number = parsed;
  return true;
}

// A field that takes the number when it fits; anything else leaves the field
// as it was.
void scan_int32(char* line, int32_t* field) {
  int64_t number;
  if (scan_integer(header_value(line), &number) && number >= INT32_MIN && number <= INT32_MAX) {
    *field = static_cast<int32_t>(number);
  }
}
void handle_session_no(LogHeader* header, char* line) { scan_int32(line, &header->session_no); }
void handle_split_no(LogHeader* header, char* line) { scan_int32(line, &header->split_no); }
void handle_bit_rate(LogHeader* header, char* line) { scan_int32(line, &header->bit_rate); }

// "Time format: " keeps the low 8 bits of the number, 0 when there is none.
void handle_time_format(LogHeader* header, char* line) {
  int64_t number;
  header->time_format = scan_integer(header_value(line), &number) ? static_cast<uint8_t>(number) : 0;
}

// A quoted character: exactly three characters, the first a double quote;
// the middle one is the separator. Anything else means no separator (0).
char quoted_character(char* line) {
  const char* value = header_value(line);
  if (value == nullptr || strlen(value) != 3 || value[0] != '"') return 0;
  return value[1];
}
void handle_value_separator(LogHeader* header, char* line) { header->value_separator = quoted_character(line); }
void handle_time_separator(LogHeader* header, char* line) { header->time_separator = quoted_character(line); }
void handle_time_separator_ms(LogHeader* header, char* line) { header->time_separator_ms = quoted_character(line); }
void handle_date_separator(LogHeader* header, char* line) { header->date_separator = quoted_character(line); }
void handle_time_date_separator(LogHeader* header, char* line) {
  header->time_date_separator = quoted_character(line);
}

void scan_flag(char* line, uint32_t* field) {
  const char* value = header_value(line);
  if (value == nullptr) return;
  if (strcmp(value, "true") == 0) *field = 1;
  if (strcmp(value, "false") == 0) *field = 0;
}
void handle_silent_mode(LogHeader* header, char* line) { scan_flag(line, &header->silent_mode); }
void handle_cyclic_mode(LogHeader* header, char* line) { scan_flag(line, &header->cyclic_mode); }

// "Time: " as local time, and the text as written, cut at 19 characters.
void handle_time(LogHeader* header, char* line) {
  const char* value = header_value(line);
  if (value == nullptr) return;
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  sscanf(value, "%4u%2u%2uT%2u%2u%2u", &year, &month, &day, &hour, &minute, &second);
  struct tm local = {};
  local.tm_year = static_cast<int>(year - 1900);
  local.tm_mon = static_cast<int>(month - 1);
  local.tm_mday = static_cast<int>(day);
  local.tm_hour = static_cast<int>(hour);
  local.tm_min = static_cast<int>(minute);
  local.tm_sec = static_cast<int>(second);
  local.tm_isdst = 0;
  header->start_time = static_cast<double>(mktime(&local));
  size_t length = strnlen(value, sizeof header->start_time_text - 1);
  memcpy(header->start_time_text, value, length);
  header->start_time_text[length] = '\0';
}

}  // namespace

const HeaderKey header_keys[16] = {
    {"Logger type: ", handle_logger_type},
    {"HW rev: ", handle_hw_rev},
    {"FW rev: ", handle_fw_rev},
    {"Logger ID: ", handle_logger_id},
    {"Session No.: ", handle_session_no},
    {"Split No.: ", handle_split_no},
    {"Time: ", handle_time},
    {"Value separator: ", handle_value_separator},
    {"Time format: ", handle_time_format},
    {"Time separator: ", handle_time_separator},
    {"Time separator ms: ", handle_time_separator_ms},
    {"Date separator: ", handle_date_separator},
    {"Time and date separator: ", handle_time_date_separator},
    {"Bit-rate: ", handle_bit_rate},
    {"Silent mode: ", handle_silent_mode},
    {"Cyclic mode: ", handle_cyclic_mode},
};

void parse_header_line(LogHeader* header, char* line) {
  for (const HeaderKey& key : header_keys) {
    if (strstr(line, key.key) != nullptr) key.handle(header, line);
  }
}

ColumnKind column_kind(const char* begin, const char* end) {
  static const struct {
    const char* name;
    ColumnKind kind;
  } kNames[] = {{"Timestamp", COLUMN_TIMESTAMP}, {"Lost", COLUMN_LOST},     {"Type", COLUMN_TYPE},
                {"ID", COLUMN_ID},               {"Length", COLUMN_LENGTH}, {"Data", COLUMN_DATA}};
  size_t length = static_cast<size_t>(end - begin);
  for (const auto& entry : kNames) {
    if (strlen(entry.name) == length && memcmp(entry.name, begin, length) == 0) return entry.kind;
  }
  return COLUMN_NONE;
}
