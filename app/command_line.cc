#include "app/command_line.h"

#include <argtable2.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "app/exit_status.h"
#include "app/run_config.h"
#include "app/version.h"
#include "convert/paths.h"
#include "log/log.h"
#include "formats/registry.h"

namespace {

constexpr const char kProgramName[] = "trcforge";
constexpr int kMaxErrors = 20;

// argtable's own error codes that the exit status tells apart.
constexpr int kErrorNoMatch = 3;   // unexpected argument, or a bad integer
constexpr int kErrorMissingArgument = 5;  // an option without its value

// The values of a path option, in command-line order, normalised, appended
// to target.
void collect_paths(const arg_file& option, std::vector<std::string>* target) {
  for (int i = 0; i < option.count; ++i) {
    std::string path(option.filename[i]);
    path_normalize(path);
    target->push_back(std::move(path));
  }
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
  std::vector<void*> table;
  ~OptionTableOwner() {
    if (!table.empty()) arg_freetable(table.data(), static_cast<int>(table.size()));
  }
};


// The descriptors that parsing reads back.
struct Options {
  arg_lit* help = nullptr;
  arg_lit* version = nullptr;
  arg_int* verbosity = nullptr;
  arg_lit* non_interactive = nullptr;
  arg_lit* delete_converted = nullptr;
  arg_lit* no_append_root = nullptr;
  arg_int* buffer = nullptr;
  arg_int* jobs = nullptr;
  arg_lit* join_splits = nullptr;
  arg_file* report = nullptr;
  arg_str* format = nullptr;
  arg_file* output_directory = nullptr;
  arg_file* inputs = nullptr;
  struct arg_end* end = nullptr;
};

// The value placeholder of the format option: every format's name.
const char* format_placeholder() {
  static const std::string names = format_names();
  return names.c_str();
}

// Builds the option table in its order: the program's options, the output
// format, the output folder, the documentation of the inputs, the inputs
// themselves and the end marker. False when a descriptor is missing.
bool build_option_table(int argc, Options* options, std::vector<void*>* table) {
  options->help = arg_lit0(nullptr, "help", "display this help and exit");
  options->version = arg_lit0("v", "version", "display tool version and exit");
  options->verbosity =
      arg_int0(nullptr, "verbosity", "<n>", "verbosity level (0 to 4, 0=disable, 4=verbose, default=2)");
  options->non_interactive = arg_lit0(nullptr, "non-interactive", "does not print any progress output");
  options->delete_converted = arg_lit0("d", "delete-converted", "deletes files after conversion if specified");
  options->no_append_root = arg_lit0("X", "no-append-root", "do not add \"_out\" when converting folders");
  options->buffer = arg_int0("b", "buffer", "<n>", "buffer size in bytes. 0 disables and -1 takes entire file");
  options->jobs = arg_int0("j", "jobs", "<n>", "logs converted at the same time, 0 for one per processor (default 1)");
  options->join_splits = arg_lit0(nullptr, "join-splits", "one output per session: a session's split logs joined");
  options->report = arg_file0(nullptr, "report", "<file>", "JSON lines: one per input file, then a summary (- = stdout)");
  options->format =
      arg_str0("f", "trace-format", format_placeholder(), "which trace version to output, defaults to 2.1");
  table->insert(table->end(), {options->help, options->version, options->verbosity, options->non_interactive,
                               options->delete_converted, options->no_append_root, options->buffer, options->jobs,
                               options->join_splits, options->report, options->format});

  options->output_directory = arg_file0("O", "output-directory", nullptr, "path to output files");
  auto* input_files =
      arg_lit0("i", "input-files=<file(s)/folder(s)>", "paths to input files/folders (must have common root)");
  const int max_paths = argc - 1 > 1 ? argc - 1 : 1;
  options->inputs = arg_filen(nullptr, nullptr, "file(s)/folder(s)", 1, max_paths, nullptr);
  options->end = arg_end(kMaxErrors);
  table->insert(table->end(), {options->output_directory, input_files, options->inputs, options->end});
  return arg_nullcheck(table->data()) == 0;
}

void print_help(std::vector<void*>& table) {
  std::fputs("Usage: trcforge", stdout);
  arg_print_syntax(stdout, table.data(), "\n\n");
  arg_print_glossary(stdout, table.data(), "  %-40s %s\n");
}

// The log level of a refused command line: the verbosity's, when it was read
// and is one of 0 to 5, else the default.
void set_level_for_refusal(const Options& options) {
  const int32_t level = options.verbosity->count > 0 ? level_for_verbosity(options.verbosity->ival[0]) : 0;
  log_set_level(level != 0 ? level : LOG_ERROR);
}

// Writes each line of argtable's error text as an error line of the log,
// without the program name in front.
void log_parse_errors(const std::string& text) {
  const std::string prefix = std::string(kProgramName) + ": ";
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (line.substr(0, prefix.size()) == prefix) line.remove_prefix(prefix.size());
    if (!line.empty()) log_error("%.*s", static_cast<int>(line.size()), line.data());
    start = end + 1;
  }
}

// argtable's words for the recorded errors, each line beginning with the
// program name.
std::string parse_error_text(struct arg_end* end) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (out == nullptr) return {};
  arg_print_errors(out, end, kProgramName);
  std::fclose(out);
  std::string result(text, length);
  std::free(text);
  return result;
}

// The exit status of a failed parse, by its first error: 131 for an
// unexpected argument or a bad integer, 130 for an option without its value;
// any other gives 134 and its errors are printed on standard output. Every
// error is also logged, at the verbosity given when it could be read.
int refuse_command_line(const Options& options) {
  const int first = options.end->error[0];
  const std::string text = parse_error_text(options.end);
  set_level_for_refusal(options);
  log_parse_errors(text);
  if (first == kErrorNoMatch) return kExitBadValue;
  if (first == kErrorMissingArgument) return kExitMissingValue;
  if (text.empty()) {
    arg_print_errors(stdout, options.end, kProgramName);
  } else {
    std::fputs(text.c_str(), stdout);
  }
  return kExitBadCommandLine;
}

// Sets config->format from the format option (the default when it is
// absent). False, status 134, for a value that names no format: refused as
// a parse error is, logged and on standard output.
bool take_format(const Options& options, RunConfig* config, int* status) {
  if (options.format->count == 0) {
    config->format = &default_format();
    return true;
  }
  const char* value = options.format->sval[0];
  config->format = find_format(value);
  if (config->format != nullptr) return true;
  const std::string text = std::string(kProgramName) + ": invalid value \"" + value + "\" to option -f|--trace-format=" +
                           format_placeholder() + "\n";
  set_level_for_refusal(options);
  log_parse_errors(text);
  std::fputs(text.c_str(), stdout);
  *status = kExitBadCommandLine;
  return false;
}

// Sets the diagnostic log's level from the verbosity. False, status 131, for
// a value outside 0 to 5 (logged at the default level).
bool apply_verbosity(const Options& options, int* status) {
  if (options.verbosity->count == 0) {
    log_set_level(LOG_ERROR);
    return true;
  }
  const int32_t level = level_for_verbosity(options.verbosity->ival[0]);
  if (level == 0) {
    log_set_level(LOG_ERROR);
    log_error("Verbosity %d is not one of 0 to 5", options.verbosity->ival[0]);
    *status = kExitBadValue;
    return false;
  }
  log_set_level(level);
  return true;
}

void store_switches(const Options& options, RunConfig* config) {
  config->non_interactive = options.non_interactive->count == 1;
  RunOptions* run = &config->options;
  run->delete_converted = options.delete_converted->count == 1;
  run->no_append_root = options.no_append_root->count == 1;
  run->buffer_size = options.buffer->count > 0 ? static_cast<int64_t>(options.buffer->ival[0]) : -1;
  run->jobs = options.jobs->count > 0 ? options.jobs->ival[0] : 1;
  run->join_splits = options.join_splits->count > 0;
}

// Notes the report's file, which is written however the run ends. False
// (after an error, at the verbosity given when it could be read) for an empty
// name, which names no file: no report is then written.
bool take_report_path(const Options& options, RunConfig* config) {
  config->report = options.report->count > 0;
  if (config->report) config->report_path = options.report->filename[0];
  if (!config->report || !config->report_path.empty()) return true;
  config->report = false;
  set_level_for_refusal(options);
  log_error("No report file named: --report= needs a file, or - for standard output");
  return false;
}

// The most jobs a run may ask for: 1024, or fewer when the process limit
// (ulimit -u) allows fewer threads; *limited tells which.
int jobs_limit(bool* limited) {
  constexpr int kMaxJobs = 1024;
  struct rlimit processes;
  *limited = getrlimit(RLIMIT_NPROC, &processes) == 0 && processes.rlim_cur != RLIM_INFINITY &&
             processes.rlim_cur < static_cast<rlim_t>(kMaxJobs);
  return *limited ? static_cast<int>(processes.rlim_cur) : kMaxJobs;
}

// False, after a fatal error, for a number of jobs below 0 or above
// jobs_limit (0 became the number of processors, capped at the limit).
bool check_jobs(RunOptions* run) {
  bool limited = false;
  const int limit = jobs_limit(&limited);
  if (run->jobs == 0) {
    run->jobs = static_cast<int>(std::clamp(sysconf(_SC_NPROCESSORS_ONLN), 1L, static_cast<long>(limit)));
  }
  if (run->jobs >= 0 && run->jobs <= limit) return true;
  if (run->jobs < 0) {
    log_fatal("Invalid number of jobs: %d", run->jobs);
  } else {
    log_fatal("Invalid number of jobs: %d (at most %d%s)", run->jobs, limit,
              limited ? ": the limit of processes, ulimit -u" : "");
  }
  return false;
}

}  // namespace

bool parse_command_line(RunConfig* config, int argc, char** argv, int* status) {
  OptionTableOwner owner;
  Options options;
  if (!build_option_table(argc, &options, &owner.table)) {
    log_set_level(LOG_ERROR);
    log_error("Could not build the option table");
    return false;
  }
  const int errors = arg_parse(argc, argv, owner.table.data());
  if (errors == 0) {
    collect_paths(*options.output_directory, &config->output_dirs);
    collect_paths(*options.inputs, &config->inputs);
  }
  if (options.help->count > 0 || argc == 1) {
    print_help(owner.table);
    return false;
  }
  if (options.version->count > 0) {
    print_version(stdout);
    *status = kExitSuccess;
    return false;
  }
  if (!take_report_path(options, config)) return false;
  if (errors > 0) {
    *status = refuse_command_line(options);
    return false;
  }
  if (!take_format(options, config, status) || !apply_verbosity(options, status)) return false;
  store_switches(options, config);
  if (!check_jobs(&config->options)) {
    *status = kExitBadValue;
    return false;
  }
  if (config->inputs.empty()) {
    log_fatal("No input file or folder given");
    *status = kExitNoCommonRoot;
    return false;
  }
  return settle_common_root(config, status);
}
