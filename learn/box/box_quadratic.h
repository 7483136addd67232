// The quadratic f(x) = 1/2 x'Ax + b'x that one solve of the box sub-problem
// solver minimises, and the count of its evaluations.
#ifndef TEVRA_LEARN_BOX_BOX_QUADRATIC_H_
#define TEVRA_LEARN_BOX_BOX_QUADRATIC_H_

namespace tevra {

class Box_quadratic {
 public:
  // A (n*n column-major, both triangles stored) and b stay borrowed for the
  // life of the object. Evaluations are counted into *evaluation_count,
  // which starts again at 0.
  Box_quadratic(const double* matrix, const double* linear, int* evaluation_count);

  // The Hessian, which is A itself: referenced, never copied.
  const double* hessian() const { return matrix_; }

  // g = b + Ax (b copied into g, then dsymv with the upper triangle).
  void gradient(int n, const double* x, double* g) const;

  // f = 1/2 x'(Ax) + b'x. Counts the evaluation and returns the new count.
  int value(int n, const double* x, double& f);

 private:
  const double* matrix_;
  const double* linear_;
  int* evaluation_count_;
};

}  // namespace tevra

#endif  // TEVRA_LEARN_BOX_BOX_QUADRATIC_H_
