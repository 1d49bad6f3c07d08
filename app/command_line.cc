#include "app/command_line.h"

#include <argtable2.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/run_records.h"
#include "app/version.h"
#include "convert/paths.h"
#include "log/log.h"
#include "output/backend.h"

namespace {

constexpr const char kProgramName[] = "trcforge";
constexpr int kMaxErrors = 20;

// argtable's own error codes that the exit status tells apart.
constexpr int kErrorNoMatch = 3;   // unexpected argument, or a bad integer
constexpr int kErrorMissingArgument = 5;  // an option without its value

constexpr int kCollectorShift = 8;

// A file option whose values are collected into a vector of paths once
// parsing is done. The arg_file comes first, so argtable's stock scan, reset
// and error functions work on the block as on the stock descriptor; the
// filename, basename and extension arrays follow the record in the same
// allocation, so arg_freetable's free() releases everything.
struct PathOption {
  arg_file file;
  std::vector<std::string>* target;  // borrowed
  arg_checkfn* stock_check;
  arg_errorfn* stock_error;
};

int check_path_option(void* parent) {
  auto* option = static_cast<PathOption*>(parent);
  int result = option->stock_check(parent);
  if (result != 0) return result;
  result = collect_paths(&option->file, option->target);
  return result << kCollectorShift;
}

void report_path_option_error(void* parent, FILE* out, int error, const char* argval,
                              const char* progname) {
  auto* option = static_cast<PathOption*>(parent);
  if (error >= (1 << kCollectorShift)) {
    std::fprintf(out, "%s: ", progname);
    report_path_error(out, error >> kCollectorShift);
    return;
  }
  option->stock_error(parent, out, error, argval, progname);
}

// Wraps a stock file descriptor into a PathOption collecting into target.
// The stock descriptor is released. Returns nullptr when stock is missing or
// memory runs out.
PathOption* make_path_option(arg_file* stock, std::vector<std::string>* target) {
  static_assert(offsetof(PathOption, file) == 0, "argtable sees the block as an arg_file");
  if (stock == nullptr) return nullptr;
  const int max = stock->hdr.maxcount;
  const size_t slots = 3 * static_cast<size_t>(max);
  auto* option =
      static_cast<PathOption*>(std::malloc(sizeof(PathOption) + slots * sizeof(const char*)));
  if (option == nullptr) {
    std::free(stock);
    return nullptr;
  }
  option->file = *stock;
  option->file.hdr.parent = option;
  option->file.filename = reinterpret_cast<const char**>(option + 1);
  option->file.basename = option->file.filename + max;
  option->file.extension = option->file.basename + max;
  for (int i = 0; i < max; ++i) {
    option->file.filename[i] = stock->filename[i];
    option->file.basename[i] = stock->basename[i];
    option->file.extension[i] = stock->extension[i];
  }
  option->target = target;
  option->stock_check = stock->hdr.checkfn;
  option->stock_error = stock->hdr.errorfn;
  option->file.hdr.checkfn = check_path_option;
  option->file.hdr.errorfn = report_path_option_error;
  std::free(stock);
  return option;
}

// The log level for a verbosity value, or 0 when the value is out of range.
int32_t level_for_verbosity(int verbosity) {
  switch (verbosity) {
    case 0: return LOG_NONE;
    case 1: return LOG_FATAL;
    case 2: return LOG_ERROR;
    case 3: return LOG_WARN;
    case 4:
    case 5: return LOG_INFO;
    default: return 0;
  }
}

void print_version(FILE* out) {
  const VersionInfo info = build_version_info();
  std::fprintf(out, "Version: %s\n", info.version);
  std::fprintf(out, "Build date: %s\n", info.build_date);
  std::fprintf(out, "GIT SHA: %s%s\n", info.revision, "");
}

// The option table and the descriptors that parsing reads back. Releases every
// descriptor when it goes.
class OptionTableOwner {
 public:
  OptionTable table;
  ~OptionTableOwner() {
    if (!table.empty()) arg_freetable(table.data(), static_cast<int>(table.size()));
  }
};

}  // namespace

int collect_paths(const arg_file* option, std::vector<std::string>* target) {
  int result = 0;
  for (int i = 0; i < option->count; ++i) {
    try {
      std::string path(option->filename[i]);
      path_normalize(path);
      target->push_back(std::move(path));
    } catch (const std::bad_alloc&) {
      result = 3;
    }
  }
  return result;
}

arg_file* path_option_new(arg_file* stock, std::vector<std::string>* target) {
  PathOption* option = make_path_option(stock, target);
  return option == nullptr ? nullptr : &option->file;
}

void report_path_error(FILE* out, int reason) {
  if (reason == 3) std::fputs("internal error, could not allocate memory", out);
}

bool parse_command_line(RunConfig* config, int argc, char** argv, int* status) {
  OptionTableOwner owner;
  OptionTable& table = owner.table;

  auto* help = arg_lit0(nullptr, "help", "display this help and exit");
  auto* version = arg_lit0("v", "version", "display tool version and exit");
  auto* verbosity = arg_int0(nullptr, "verbosity", "<n>",
                             "verbosity level (0 to 4, 0=disable, 4=verbose, default=2)");
  auto* non_interactive =
      arg_lit0(nullptr, "non-interactive", "does not print any progress output");
  auto* delete_converted =
      arg_lit0("d", "delete-converted", "deletes files after conversion if specified");
  auto* no_append_root =
      arg_lit0("X", "no-append-root", "do not add \"_out\" when converting folders");
  auto* buffer =
      arg_int0("b", "buffer", "<n>", "buffer size in bytes. 0 disables and -1 takes entire file");
  table.insert(table.end(), {help, version, verbosity, non_interactive, delete_converted,
                             no_append_root, buffer});

  if (config->hooks != nullptr && config->hooks->add_options != nullptr &&
      !config->hooks->add_options(config, &table)) {
    return false;
  }

  PathOption* output_directory = make_path_option(
      arg_file0("O", "output-directory", nullptr, "path to output files"), &config->output_dirs);
  auto* input_files = arg_lit0("i", "input-files=<file(s)/folder(s)>",
                               "paths to input files/folders (must have common root)");
  const int max_paths = argc - 1 > 1 ? argc - 1 : 1;
  PathOption* positional = make_path_option(
      arg_filen(nullptr, nullptr, "file(s)/folder(s)", 1, max_paths, nullptr), &config->inputs);
  struct arg_end* end = arg_end(kMaxErrors);
  table.insert(table.end(), {output_directory, input_files, positional, end});

  if (arg_nullcheck(table.data()) != 0) return false;

  const int errors = arg_parse(argc, argv, table.data());

  if (help->count > 0 || argc == 1) {
    std::fputs("Usage: trcforge", stdout);
    arg_print_syntax(stdout, table.data(), "\n\n");
    arg_print_glossary(stdout, table.data(), "  %-40s %s\n");
    return false;
  }
  if (version->count > 0) {
    print_version(stdout);
    *status = 0;
    return false;
  }
  if (errors > 0) {
    *status = 128;
    const int first = end->error[0];
    if (first == kErrorNoMatch) {
      *status = 131;
    } else if (first == kErrorMissingArgument) {
      *status = 130;
    } else {
      arg_print_errors(stdout, end, kProgramName);
      *status = 134;
    }
    return false;
  }

  if (verbosity->count > 0) {
    const int32_t level = level_for_verbosity(verbosity->ival[0]);
    if (level == 0) {
      *status = 131;
      return false;
    }
    log_set_level(level);
  } else {
    log_set_level(LOG_ERROR);
  }

  config->options.delete_converted = delete_converted->count == 1;
  config->options.no_append_root = no_append_root->count == 1;
  config->options.non_interactive = non_interactive->count == 1;
  config->options.buffer_size = buffer->count > 0 ? static_cast<int64_t>(buffer->ival[0]) : -1;

  if (config->inputs.empty()) {
    *status = 132;
    return false;
  }
  if (!settle_common_root(config, status)) return false;

  if (config->hooks != nullptr && config->hooks->after_parse != nullptr) {
    return config->hooks->after_parse(config);
  }
  return true;
}
