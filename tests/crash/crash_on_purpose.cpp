// Crashes on purpose, as a test program with a fault would: what a run of
// the tests must end at once rather than leave waiting.
#include <windows.h>

int main() {
  // Through a volatile pointer, so that no compiler drops the write.
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
