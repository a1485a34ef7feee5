// Writes one hostile config.ini of every generated kind into a folder: the
// fixed sample in tests/robustness/samples was made with it.
//   wine make_hostile_configs.exe <folder> [seed]
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "tests/robustness/hostile_config.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: make_hostile_configs <folder> [seed]\n");
    return 2;
  }
  uint32_t seed = argc > 2 ? static_cast<uint32_t>(strtoul(argv[2], nullptr, 10)) : 1;
  for (int kind = 0; kind < HOSTILE_CONFIG_KINDS; ++kind) {
    std::string bytes = HostileConfig(kind, seed);
    if (bytes.size() > 64 * 1024) continue;  // the huge-line kind stays generated only
    char path[1024];
    snprintf(path, sizeof path, "%s/%02d.ini", argv[1], kind);
    FILE* file = fopen(path, "wb");
    if (!file) return 1;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    printf("%s: %s, %zu bytes\n", path, HostileConfigKind(kind), bytes.size());
  }
  return 0;
}
