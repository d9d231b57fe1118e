// Program entry: hands the whole run to the start-up sequence.
// main itself only waits for the evaluation thread; the process ends inside it.
#include "runtime/startup.h"

int main(int argc, char** argv) { kel::boot::start(argc, argv, nullptr); }
