// kestel-cli: the scripting command line of the Kestel client.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kestel-cli %s\n", KESTEL_VERSION);
    return 0;
  }
  std::fprintf(stderr, "usage: kestel-cli --version\n");
  return 2;
}
