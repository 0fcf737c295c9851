// The helpers every test program shares, under the names the core's tests use.
#pragma once

#include "Process.h"
#include "TestSupport.h"

namespace coretest {

using testing_support::Child;
using testing_support::Clock;
using testing_support::copyFile;
using testing_support::EnvGuard;
using testing_support::fileExists;
using testing_support::fileSize;
using testing_support::inFolder;
using testing_support::readFile;
using testing_support::run;
using testing_support::RunResult;
using testing_support::separateStderr;
using testing_support::SpawnOptions;
using testing_support::splitLines;
using testing_support::TempDir;
using testing_support::withEnv;
using testing_support::writeFile;

} // namespace coretest
