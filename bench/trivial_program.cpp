// The yardstick of the start-up benchmarks: a C++ program that does nothing,
// with the C++ runtime linked dynamically as tamrik's is.

#include <iostream>

int main() {
  std::cout.flush();
  return 0;
}
