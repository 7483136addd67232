#include <cstdio>

int main() {
  std::fputs("usage: tevra-predict test_file model_file output_file\n", stderr);
  return 1;
}
