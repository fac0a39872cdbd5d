#include "platform/DescriptorLimit.h"

#include <sys/resource.h>

#include <climits>

namespace kairelon {
namespace {

long AsLong(rlim_t value) {
    return value == RLIM_INFINITY || value > static_cast<rlim_t>(LONG_MAX)
               ? LONG_MAX
               : static_cast<long>(value);
}

} // namespace

long DescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return -1;
    }
    return AsLong(limit.rlim_cur);
}

long RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return -1;
    }
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return AsLong(limit.rlim_cur);
}

} // namespace kairelon
