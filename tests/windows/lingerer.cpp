// A program a job leaves behind, for the tests: it writes its process id to
// the file named first (whole, or not at all) and then waits a minute,
// unless its job ends it.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const std::string partial = std::string(argv[1]) + ".part";
    if (std::FILE *file = std::fopen(partial.c_str(), "w")) {
        std::fprintf(file, "%lu\n", static_cast<unsigned long>(::GetCurrentProcessId()));
        std::fclose(file);
        ::MoveFileA(partial.c_str(), argv[1]);
    }
    ::Sleep(60000);
    return 0;
}
