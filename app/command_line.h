// The command line: the option table, help, version, parse errors, the
// verbosity, and the validated inputs of a run.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct FileSystem;
struct RunConfig;
struct arg_file;

// Parses argv into config. True: the configuration is complete (switches,
// inputs relative to config->root, input_fs, output_fs, the output format) and the
// caller runs the conversion, *status untouched. False: the caller exits with
// *status, which is 0 after the version text, 130/131/134 for parse errors,
// 131 for a verbosity outside 0 to 5 or a number of jobs below 0 or above
// 1024 or the process limit (0: one per processor, within the same limit),
// 132 for inputs without one root folder, and stays as the caller set it
// (129) after help, an empty report name and other set-up failures. Every
// failure but help logs its reason on standard error: a parse error at the
// verbosity given when it could be read, else at the default. The report's
// file (config->report) is noted whatever happens after help and version,
// unless its name is empty.
bool parse_command_line(RunConfig* config, int argc, char** argv, int* status);

// The value collector of the output-directory and positional options: copies
// each value of option, in command-line order, normalises the copy (paths on
// host) and appends it to target. Returns 3 when an append ran out of memory
// (the other values are still processed), else 0.
int collect_paths(const arg_file* option, FileSystem* host, std::vector<std::string>* target);

// Writes the text of a collect_paths failure to out, after argtable has begun
// the error line with the program name: for reason 3 "internal error, could
// not allocate memory" (no line end); nothing for other reasons.
void report_path_error(FILE* out, int reason);


// Wraps the stock file descriptor into one whose values are collected into
// target when parsing ends, through collect_paths: its check runs the stock
// check, then the collector, whose nonzero result r is recorded as the error
// code r << 8; its error function words such codes with report_path_error and
// leaves argtable's own codes to the stock one. The stock descriptor is
// released. Returns nullptr when stock is missing or memory runs out. The
// result is released with free() (arg_freetable does so).
arg_file* path_option_new(arg_file* stock, FileSystem* host, std::vector<std::string>* target);
