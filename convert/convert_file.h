// The conversion of one text log into one output file, and the removal of the
// log afterwards when that was asked for and nothing of it can be lost.
#pragma once

#include <cstdint>
#include <string_view>

struct ConversionJob;

// Converts the "txt" file input_path (relative to the root of job->input_fs)
// into an output whose name is output_path (relative to the root of
// job->output_fs) without its extension. Returns PATH_OK or PATH_FAILED.
uint32_t convert_file(ConversionJob* job, std::string_view input_path, std::string_view output_path);
