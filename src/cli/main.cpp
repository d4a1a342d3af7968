#include "cli/cli.h"

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return m3umerge::run_command_line(argc, argv); }
#else
int main(int argc, char** argv) { return m3umerge::run_command_line(argc, argv); }
#endif
