// mirtolanc: the command-line Forth compiler.
#include <filesystem>
#include <iostream>

#include "Cli.h"

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string exeDir = ec ? std::string() : exe.parent_path().string();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return mirtolan::RunCli(args, exeDir, std::cin, std::cout, std::cerr);
}
