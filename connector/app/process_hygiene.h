#pragma once

namespace korvane::connector {

// Keeps the secrets this process holds out of files and other processes: no core file is
// written on a crash, and on Linux the process is not dumpable (no core, no ptrace attach by
// the same user, /proc entries that hold memory are closed to others). Call first thing.
void harden_process();

}  // namespace korvane::connector
