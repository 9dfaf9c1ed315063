#include "budget.h"

#include <cstdio>

namespace qvlink::bench {

bool Budget::keptBy(double figure) const {
    return bound == Bound::AtMost ? figure <= limit : figure >= limit;
}

std::string Budget::text() const {
    char text[48];
    std::snprintf(text, sizeof text, "%s %g%s", bound == Bound::AtMost ? "<=" : ">=", limit, unit);
    return text;
}

}  // namespace qvlink::bench
