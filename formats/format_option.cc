// The "trace-format" option: argtable's string option extended by a check
// operation, an error operation and the output settings as user data,
// attached through the descriptor's checkfn, errorfn and parent hooks.
#include <argtable2.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "formats/formats.h"

namespace {

// argtable's own error codes of a string option.
constexpr int kMissingOption = 1;
constexpr int kExcessOption = 2;
// Result of the check operation for a value that names no version.
constexpr int kInvalidValue = 1;
// A check result r is registered as r * kCheckCodeScale, clear of argtable's
// own small codes.
constexpr int kCheckCodeScale = 256;

// One malloc block, released by arg_freetable with free(). The string option
// comes first, so argtable's stock reset and scan operations work on it.
struct TraceFormatOption {
  struct arg_str option;
  OutputSettings* settings;
  arg_checkfn* stock_check;
  arg_errorfn* stock_error;
  const char* values[1];  // the option's value storage: at most one occurrence
};

// Check operation: sets the output format from the value. Returns 0, or
// kInvalidValue for a value that names no format (in any letter case), which
// leaves the format unchanged.
int check_trace_format(TraceFormatOption* option) {
  if (option->option.count == 0) {
    option->settings->format = FORMAT_TRACE_V2;
    return 0;
  }
  const int format = output_format_by_name(option->option.sval[0]);
  if (format == 0) return kInvalidValue;
  option->settings->format = format;
  return 0;
}

// Error operation for a failed check: one line naming the value and the option.
void report_trace_format_error(TraceFormatOption* option, FILE* fp, int, const char* progname) {
  const struct arg_hdr& hdr = option->option.hdr;
  const char* value = option->option.count > 0 ? option->option.sval[0] : "";
  fprintf(fp, "%s: invalid value \"%s\" to option ", progname, value);
  arg_print_option(fp, hdr.shortopts, hdr.longopts, hdr.datatype, "\n");
}

// argtable's final check: the stock minimum count first, then the check
// operation. Returns argtable's code, r * kCheckCodeScale for a failed check
// with result r, or 0.
int trace_format_checkfn(void* parent) {
  auto* option = static_cast<TraceFormatOption*>(parent);
  if (option->stock_check != nullptr) {
    int code = option->stock_check(parent);
    if (code != 0) return code;
  }
  int result = check_trace_format(option);
  return result == 0 ? 0 : result * kCheckCodeScale;
}

// argtable's error hook: missing and excess options as the stock string
// option words them, every other code through the error operation.
void trace_format_errorfn(void* parent, FILE* fp, int error, const char* argval,
                          const char* progname) {
  auto* option = static_cast<TraceFormatOption*>(parent);
  if (error == kMissingOption || error == kExcessOption) {
    if (option->stock_error != nullptr) option->stock_error(parent, fp, error, argval, progname);
    return;
  }
  report_trace_format_error(option, fp, error / kCheckCodeScale, progname);
}

// Builds the option. Returns nullptr when memory runs out.
TraceFormatOption* new_trace_format_option(OutputSettings* settings) {
  // A stock string option tells the operations of argtable's string type.
  struct arg_str* stock = arg_str0("f", "trace-format", "{version1,version2,asc,candump,csv}",
                                   "which trace version to output, defaults to 2.1");
  if (stock == nullptr) return nullptr;
  auto* option = static_cast<TraceFormatOption*>(malloc(sizeof(TraceFormatOption)));
  if (option == nullptr) {
    free(stock);
    return nullptr;
  }
  memset(option, 0, sizeof *option);
  option->option.hdr = stock->hdr;
  option->option.hdr.parent = option;
  option->option.hdr.checkfn = trace_format_checkfn;
  option->option.hdr.errorfn = trace_format_errorfn;
  option->option.count = 0;
  option->option.sval = option->values;
  option->values[0] = "";
  option->settings = settings;
  option->stock_check = stock->hdr.checkfn;
  option->stock_error = stock->hdr.errorfn;
  free(stock);
  return option;
}

// Appends "trace-format" to the table, growing a full table to one and a half
// times its length plus 4 (when that fails the option is left out). Returns
// true in all cases.
bool trace_add_options(OutputSettings* settings, OptionTable* table) {
  TraceFormatOption* option = new_trace_format_option(settings);
  if (option == nullptr) return true;
  if (table->size() == table->capacity()) {
    try {
      table->reserve(table->size() + table->size() / 2 + 4);
    } catch (const std::bad_alloc&) {
      free(option);
      return true;
    }
  }
  table->push_back(option);
  return true;
}

}  // namespace

const OptionExtension format_option_extension = {trace_add_options, nullptr, nullptr};
