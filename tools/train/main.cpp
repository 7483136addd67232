#include <cstdio>

int main() {
  std::puts("Usage: tevra-train [options] training_set_file [model_file]");
  return 1;
}
