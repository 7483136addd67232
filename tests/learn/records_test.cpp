#include <cstdlib>

#include "gtest/gtest.h"
#include "learn/tevra.h"

namespace tevra {
namespace {

Model* new_model(int svm_type, int nr_class, int total_sv) {
  Model* model = static_cast<Model*>(std::calloc(1, sizeof(Model)));
  model->param = default_parameter();
  model->param.svm_type = svm_type;
  model->nr_class = nr_class;
  model->total_sv = total_sv;
  const int rows = coefficient_row_count(svm_type, nr_class);
  model->coefficients = static_cast<double**>(std::malloc(sizeof(double*) * (rows > 0 ? rows : 1)));
  for (int r = 0; r < rows; ++r)
    model->coefficients[r] = static_cast<double*>(std::calloc(total_sv + 1, sizeof(double)));
  return model;
}

TEST(DestroyModel, NullPointersAreIgnored) {
  destroy_model(nullptr);
  Model* none = nullptr;
  destroy_model(&none);
  EXPECT_EQ(none, nullptr);
}

TEST(DestroyModel, ReleasesOnceAndClearsCallerPointer) {
  Model* model = new_model(spoc, 3, 2);
  destroy_model(&model);
  EXPECT_EQ(model, nullptr);
  destroy_model(&model);  // second call is a no-op
}

TEST(DestroyModel, OwnedModelWithoutSupportVectorsFreesNoBlock) {
  Model* model = new_model(c_svc, 1, 0);
  model->owns_sv_nodes = 1;
  model->SV = static_cast<Node**>(std::malloc(sizeof(Node*)));
  model->SV[0] = reinterpret_cast<Node*>(0x1);  // never dereferenced nor freed
  destroy_model(&model);
  EXPECT_EQ(model, nullptr);
}

TEST(CoefficientRows, ByFormulation) {
  EXPECT_EQ(coefficient_row_count(c_svc, 3), 2);
  EXPECT_EQ(coefficient_row_count(kbb, 3), 2);
  EXPECT_EQ(coefficient_row_count(spoc, 3), 3);
  EXPECT_EQ(coefficient_row_count(spoc_l2, 3), 3);
  EXPECT_EQ(coefficient_row_count(epsilon_svr, 2), 1);
  EXPECT_EQ(coefficient_row_count(c_svc, 1), 0);
}

}  // namespace
}  // namespace tevra
