#include "output/backend.h"

namespace {

// The do-nothing operations of a fresh back end: each returns false.
bool no_record(OutputBackend*, const CanFrame*, uint64_t) { return false; }
bool no_new_file(OutputBackend*, OutputFile*) { return false; }
bool no_end_file(OutputBackend*, OutputFile*) { return false; }

}  // namespace

void output_backend_init(OutputBackend* backend) {
  backend->record = no_record;
  backend->new_file = no_new_file;
  backend->end_file = no_end_file;
  backend->release = nullptr;
}

void output_backend_free(OutputBackend* backend) {
  if (backend != nullptr && backend->release != nullptr) backend->release(backend);
}
