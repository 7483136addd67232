// What a test row must hold for a model to predict it safely.
#ifndef TEVRA_TOOLS_PREDICT_REQUIRED_ENTRIES_H_
#define TEVRA_TOOLS_PREDICT_REQUIRED_ENTRIES_H_

#include "learn/tevra.h"

namespace tevra {

// A precomputed kernel reads the test sample at the array position named by
// each support vector's serial number, so the sample must hold an entry at
// the largest such position: returns that position plus one. 0 for every
// other kernel, which reads nothing by position.
int required_entry_count(const Model& model);

// Whether the model can predict the row of entry_count entries. Rows of a
// precomputed model are read by position, so, as in training, their entries
// must sit at positions 0, 1, 2, ... without a gap, and reach
// required_entries (the model's required_entry_count). Every row fits every
// other model.
bool row_fits_model(const Model& model, int required_entries, const Node* row, int entry_count);

}  // namespace tevra

#endif  // TEVRA_TOOLS_PREDICT_REQUIRED_ENTRIES_H_
