/* An ordinary console program in C, packed as it is. */
#include <stdio.h>

int main(int argc, char** argv) {
  (void)argv;
  printf("program arguments: %d\n", argc);
  return 43;
}
