// How many entries a test sample needs for a model to predict it safely.
#ifndef TEVRA_TOOLS_PREDICT_REQUIRED_ENTRIES_H_
#define TEVRA_TOOLS_PREDICT_REQUIRED_ENTRIES_H_

#include "learn/tevra.h"

namespace tevra {

// A precomputed kernel reads the test sample at the array position named by
// each support vector's serial number, so the sample must hold an entry at
// the largest such position: returns that position plus one. 0 for every
// other kernel, which reads nothing by position.
int required_entry_count(const Model& model);

}  // namespace tevra

#endif  // TEVRA_TOOLS_PREDICT_REQUIRED_ENTRIES_H_
