// kestrivon-publish: picks the subcommand; everything else lives in kv_publish.
#include <iostream>
#include <string>
#include <vector>

#include "publish_commands.hpp"

#ifdef _WIN32
#include "win_text.hpp"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(kv::narrow(argv[i]));
    return kv::publish::run_publish(arguments, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    return kv::publish::run_publish(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
#endif
