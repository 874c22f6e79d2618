// rkctl run: brings a plant up from its file, supervises its clients and
// takes it down again in order.
#pragma once

#include <string>

namespace rkctl {

struct RunOptions {
  std::string plant_file;
  double for_seconds = 0;     // 0: until SIGINT or SIGTERM
  bool dump_at_stop = false;  // print the process dump before stopping
  std::string log_file;       // the run's lines go here too; empty: none
};

// The exit code of the run.
int run_plant(const RunOptions& options);

}  // namespace rkctl
