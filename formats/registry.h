// The output formats by their names on the command line.
#pragma once

#include <string>
#include <string_view>

#include "output/format_writer.h"

// The format of a name, in any letter case; nullptr for none.
const OutputFormat* find_format(std::string_view name);

// The format of a run that names none: trace files of version 2.1.
const OutputFormat& default_format();

// The names of every format, as the option's value placeholder shows them:
// "{version1,version2,asc,candump,csv}".
std::string format_names();
