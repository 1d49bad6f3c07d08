// The writers of the formats, one per file of formats/, for the registry.
#pragma once

#include <memory>

#include "output/format_writer.h"

std::unique_ptr<FormatWriter> make_trace_v1_writer(OutputSink& sink);
std::unique_ptr<FormatWriter> make_trace_v2_writer(OutputSink& sink);
std::unique_ptr<FormatWriter> make_asc_writer(OutputSink& sink);
std::unique_ptr<FormatWriter> make_candump_writer(OutputSink& sink);
std::unique_ptr<FormatWriter> make_csv_writer(OutputSink& sink);
std::unique_ptr<FormatWriter> make_blf_writer(OutputSink& sink);
