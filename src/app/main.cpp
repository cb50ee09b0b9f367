#include "app/app.h"

int main(int argc, char** argv) { return dravik::run_main(argc, argv); }
