#pragma once
// Points of the update run at which a test build may look at the files the run holds. The
// shipped wizard has no probe; the test build sets one that tries, as another program
// would, to replace, rename or delete those files, and writes down what the system allowed.
#include <string>

namespace update {

enum class RunPoint {
  kApplierWritten,  // written, checked and held; not started yet
  kApplierRunning,  // each turn of the wait for the applier
  kApplierEnded,    // the applier has ended; the wizard still holds its file
};

using RunProbe = void (*)(RunPoint point, const std::string& run_folder);

// Null unless a test build sets it before the run.
extern RunProbe g_run_probe;

}  // namespace update
