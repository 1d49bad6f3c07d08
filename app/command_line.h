// The command line: the option table, help, version, parse errors, the
// verbosity, and the validated inputs of a run.
#pragma once

struct RunConfig;

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
