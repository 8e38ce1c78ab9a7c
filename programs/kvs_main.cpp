// kvs: Kelvane Studio's command-line tool.
#include <string>
#include <vector>

#include "cli/KvsSupport.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv, argv + argc);
    return KvsMain(args);
}
