// tevra: kernel machines for sparse data.
//
// The public face of the learning library: the records that the library and
// both tools pass between each other, and the operations on them. Records are
// plain structs released by free functions; every array they hold is
// allocated with malloc/realloc and released with free.
//
// Ownership and lifetimes, in short:
// - A Problem and the nodes it points to belong to the caller; the library
//   only reads them.
// - A model from train_model borrows the problem's nodes (its SV entries
//   point into them) and the parameter record's weight arrays (its param is
//   a copy of the record, pointers included): both must outlive the model.
//   A model from load_model_file owns everything it points to.
// - Every model is released with destroy_model, every run with
//   destroy_training_run, and the weight arrays of a Parameter by whoever
//   allocated them (release_parameter frees them with free).
// - Texts the library returns (check_parameters, training_run_error) are
//   static; training_run_error's answer changes with the next train_model
//   in the same run.
//
// Threads: one training run is used by one thread at a time; runs in
// different threads share nothing mutable. Models are only read by
// predict_value. The model-file operations put only the calling thread in
// the "C" locale for the length of the call, so other threads keep theirs.
#ifndef TEVRA_LEARN_TEVRA_H_
#define TEVRA_LEARN_TEVRA_H_

namespace tevra {

// One sparse feature entry. A sample is an array of Node in strictly
// increasing index order, ended by a Node whose index is -1.
struct Node {
  int index;     // feature index; -1 marks the end of a sample
  double value;  // feature value
};

// A training set. The samples point into one node store owned by whoever
// read the set; working problems built from it own only their two arrays.
// The library never writes to a Problem or its nodes.
struct Problem {
  int sample_count;  // number of samples
  int max_index;     // largest feature index of any sample (0 when none)
  double* labels;    // class label or regression target of each sample
  Node** samples;    // the samples
};

// Formulations (svm_type).
enum Svm_type { c_svc = 0, kbb = 1, spoc = 2, epsilon_svr = 3, spoc_l2 = 4 };

// Kernels (kernel_type).
enum Kernel_type { linear = 0, polynomial = 1, rbf = 2, sigmoid = 3, precomputed = 4 };

// Name tables indexed by the enumerators above, each ended by a null entry.
extern const char* const svm_type_names[];
extern const char* const kernel_type_names[];

// Training parameters; fields in this order.
struct Parameter {
  int svm_type;        // formulation, 0 to 4
  int kernel_type;     // kernel, 0 to 4
  int degree;          // degree of the polynomial kernel
  double gamma;        // kernel coefficient; 0 means "1 / max_index"
  double coef0;        // constant term of the polynomial and sigmoid kernels
  double cache_size;   // kernel column cache in megabytes
  double eps;          // stopping tolerance
  double C;            // cost
  int weight_count;    // number of per-class weight entries
  int* weight_labels;  // class label of each weight entry (the record's; malloc'ed)
  double* weights;     // factor of each weight entry (the record's; malloc'ed)
  double p;            // epsilon of the epsilon-insensitive loss
  int shrinking;       // 1 to use the shrinking heuristics
  int qpsize;          // working-set size of the decomposition solvers
  double Cbegin;       // first cost of alpha seeding (linear kernel)
  double Cstep;        // factor between successive seeding costs
  int algorithm;       // 0: decomposition solvers; 1: dual coordinate descent
                       // (linear kernel; c_svc, epsilon_svr, spoc, spoc_l2)
};

// A feature-major copy of a model's support vectors for fast prediction
// with the dot-product kernels (opaque; see index_support_vectors).
struct Support_vector_columns;

// A trained model; fields in this order.
struct Model {
  Parameter param;         // copy of the training parameters; its weight
                           // pointers are the parameter record's, borrowed and
                           // never released through the model (null after
                           // load_model_file)
  int nr_class;            // number of classes; 2 for epsilon_svr
  int total_sv;            // number of support vectors
  Node** SV;               // the support vectors, grouped by class
  double** coefficients;   // rows of total_sv dual coefficients
  int* label;              // class labels (absent for epsilon_svr)
  int* nr_sv;              // support vectors per class (absent for epsilon_svr)
  int owns_sv_nodes;       // 1: SV[0] starts one node block owned by the model
  Support_vector_columns* sv_columns;  // owned; null: predict from SV alone
};

// The parameters the training tool starts from before it reads its options.
Parameter default_parameter();

// Number of coefficient rows a model of this formulation holds.
int coefficient_row_count(int svm_type, int nr_class);

// Frees everything the model holds (its support-vector nodes only when it
// owns them, never the borrowed weight arrays) and leaves the record itself.
void release_model_contents(Model* model);
// Releases *model and sets it to null; does nothing on null.
void destroy_model(Model** model);
// Frees the weight arrays of the parameter and sets them to null. A model
// trained with the parameter must not be used to reach them afterwards.
void release_parameter(Parameter* param);

// Returns the text of the first rule the parameters break (a static text),
// or null. train_model expects parameters that pass.
const char* check_parameters(const Problem* problem, const Parameter* param);

// Where a run's progress text goes. text is valid for the call only; the
// function is called on the thread that runs train_model.
typedef void (*Print_function)(const char* text, void* context);

// Writes the text unchanged to standard output and flushes it; context is
// not used.
void print_to_stdout(const char* text, void* context);

// The print function of runs created without one; starts at
// print_to_stdout. Read at every print, so set it before training starts.
extern Print_function print_hook;

// Opaque: the state one training run carries: the box sub-problem solver
// object (its work matrix, evaluation count and carried-over Cholesky
// shift), the progress output, and the failure message.
struct Training_run;

// A new run whose progress (and the sub-problem solver's three messages)
// goes to print(text, context), or to print_hook(text, context) when print
// is null; context is the caller's and must outlive the run. Release it
// with destroy_training_run. Null when memory ran out.
Training_run* create_training_run(Print_function print, void* context);
// Releases *run and sets it to null; does nothing on null. Models trained
// in the run do not depend on it.
void destroy_training_run(Training_run** run);

// Trains a model in run, owned by the caller; it borrows the problem's nodes
// and the parameter's weight arrays (see Model). Null when training failed
// (running out of memory is such a failure, never an exception);
// training_run_error(run) then says why. One run may train many models in
// turn (the folds of a cross-validation): the sub-problem solver's shift
// carries from each to the next, as it does from pair to pair within one
// model. Two runs share nothing mutable.
Model* train_model(Training_run* run, const Problem* problem, const Parameter* param);
// Why the last train_model in run failed, or null when it succeeded (or
// none ran yet). Valid until the next train_model in run.
const char* training_run_error(const Training_run* run);
// Trains a model in a run of its own, printing through print_hook.
Model* train_model(const Problem* problem, const Parameter* param);

// Writes the model file; 0 on success, -1 on failure. An existing file is
// replaced only once the new one is complete, so a failed save leaves it as
// it was.
int save_model_file(const char* file_name, const Model* model);
// Reads a model file into a model that owns all it holds; null on failure
// (after one message on standard error for bad content).
Model* load_model_file(const char* file_name);

// Gives the model its sv_columns (replacing any it had), a copy of SV that
// makes prediction with the linear, polynomial and sigmoid kernels faster
// and changes no bit of it; for other kernels it leaves sv_columns null.
// load_model_file calls it; call it on a trained model before predicting
// many samples. SV must not change afterwards; release_model_contents
// frees the copy.
void index_support_vectors(Model* model);

// Predicted class label, or regression value, of sample x (a terminated
// sample, only read).
double predict_value(const Model* model, const Node* x);
// values[b] = predict_value(model, samples[b]) for b = 0 to count-1, with
// the samples walked together where that is faster.
void predict_values(const Model* model, const Node* const* samples, int count, double* values);

}  // namespace tevra

#endif  // TEVRA_LEARN_TEVRA_H_
