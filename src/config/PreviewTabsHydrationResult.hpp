#pragma once
// PreviewTabsHydrationResult: a project's stored preview tabs (or the empty state) with one warning per
// tab whose file is missing, in tab order. Never stored.
#include <vector>

#include "config/PreviewTabWarning.hpp"
#include "config/PreviewTabsState.hpp"

namespace pelko {

struct PreviewTabsHydrationResult {
    PreviewTabsState state;
    std::vector<PreviewTabWarning> warnings;

    friend bool operator==(const PreviewTabsHydrationResult&, const PreviewTabsHydrationResult&) = default;
};

}  // namespace pelko
