/* The least a program that prints one line can do: the yardstick for "vesk version". */
#include <stdio.h>

int main(void) {
  puts("vesk 2.0.0");
  return 0;
}
