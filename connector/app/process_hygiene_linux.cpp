#include <sys/prctl.h>
#include <sys/resource.h>

#include "connector/app/process_hygiene.h"

namespace korvane::connector {

void harden_process() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    // A core pattern that pipes to a handler ignores RLIMIT_CORE; a process that is not
    // dumpable is never handed to it.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

}  // namespace korvane::connector
