#pragma once

#include "command_line.h"
#include "run_record.h"

// Runs check or repair over every damaged registration on the machine, in
// diagnostic mode so that every failure is collected, stage by stage
// (stages.h). The record's exit code is the process's.
RunRecord RunCommand(const Options& options);
