// The canonical order of a data set's observations: the order in which the analysis
// reduces them wherever the result would otherwise depend on the sheet's row order.
#pragma once

#include <vector>

#include "import/design_data.h"

namespace quorvel {

// Positions -> observations: ascending by the factor codes compared in the sheet's column
// order, then by the trait values compared in column order; observations equal in all of
// these keep their sheet order (they are interchangeable). Any permutation of the rows
// gives the same sequence of observations.
std::vector<int> CanonicalOrder(const DesignData& data);

// The same data set with its observations in the given order (position -> observation).
DesignData ReorderObservations(const DesignData& data, const std::vector<int>& order);

// The same data set with its observations in the canonical order.
DesignData InCanonicalOrder(const DesignData& data);

}  // namespace quorvel
