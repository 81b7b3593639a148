#include <sys/resource.h>

#include "connector/app/process_hygiene.h"

namespace korvane::connector {

void harden_process() {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

}  // namespace korvane::connector
