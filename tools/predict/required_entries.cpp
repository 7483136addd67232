#include "tools/predict/required_entries.h"

namespace tevra {

int required_entry_count(const Model& model) {
  if (model.param.kernel_type != precomputed) return 0;
  int required = 0;
  for (int s = 0; s < model.total_sv; ++s) {
    // The loader guarantees a first entry 0:serial with 1 <= serial < INT_MAX.
    const int position = static_cast<int>(model.SV[s][0].value);
    if (position + 1 > required) required = position + 1;
  }
  return required;
}

bool row_fits_model(const Model& model, int required_entries, const Node* row, int entry_count) {
  if (model.param.kernel_type != precomputed) return true;
  if (entry_count < required_entries) return false;
  for (int k = 0; k < entry_count; ++k) {
    if (row[k].index != k) return false;
  }
  return true;
}

}  // namespace tevra
