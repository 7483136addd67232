// Reader of training sets in the sparse text format.
#ifndef TEVRA_TOOLS_TRAIN_TRAINING_READER_H_
#define TEVRA_TOOLS_TRAIN_TRAINING_READER_H_

#include "learn/tevra.h"

namespace tevra {

// Reads the training file into problem, with every node in one array handed
// back in *node_store (the caller frees it, and problem's two arrays, with
// free). Sets param->gamma to 1 / max_index when it is 0, and checks the
// rows of the precomputed kernel. Reads param->svm_type: class labels must
// fit an int, regression targets need not. Any error prints one message to
// standard error and exits with status 1.
void read_training_set(const char* file_name, Parameter* param, Problem* problem,
                       Node** node_store);

}  // namespace tevra

#endif  // TEVRA_TOOLS_TRAIN_TRAINING_READER_H_
