#include <sys/prctl.h>
#include <sys/resource.h>

#include "connector/app/process_hygiene.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_ADDRESS_SANITIZER 1
#endif

namespace korvane::connector {

void harden_process() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
#ifndef KORVANE_ADDRESS_SANITIZER
    // A core pattern that pipes to a handler ignores RLIMIT_CORE; a process that is not
    // dumpable is never handed to it. (The leak checker of a sanitizer build, which is never
    // shipped, must inspect the process's threads at exit, which a non-dumpable process forbids;
    // RLIMIT_CORE still keeps it from writing a core.)
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace korvane::connector
