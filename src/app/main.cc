#include "app/search_driver.h"

int main(int argc, char** argv) { return RunSearch(argc, argv); }
