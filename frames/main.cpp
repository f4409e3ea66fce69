#include <iostream>
#include <string>
#include <vector>

#include "fail.h"
#include "frames_command.h"
#include "linux_media_services.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);
    tevoli::frames::LinuxMediaServices services;
    if (auto failure = tevoli::frames::runFrames(args, services, std::cout))
        tevoli::fail(tevoli::frames::kFailPrefix, *failure);
    return 0;
}
