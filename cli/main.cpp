#include "cli/pagora.h"

int main(int argc, char** argv) { return zentrova::cli::RunPagora(argc, argv); }
