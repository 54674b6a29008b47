/* A small sample for the Tez demo: one deliberate error on line 10. */
#include <stdio.h>
int total_count = 0;
const char *title = "Totals (demo)";

int add_item(int value)
{
  int unused_local = 3;
  total_count = total_count + value;
  return (total_count));
}

int main(void)
{
  add_item(2);
  printf("%d\n", add_item(5));
  return total_count;
}
