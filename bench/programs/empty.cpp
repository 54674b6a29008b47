// The floor of the query benchmark: a console program that does nothing,
// built and started like the client.
int main() {
  return 0;
}
