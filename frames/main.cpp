// tevoli-frames: extracts frames of a video as JPEG files, or recognises the text of images.
#include <csignal>
#include <string>
#include <vector>

#include "frames_command.h"
#include "linux_media_services.h"

int main(int argc, char** argv) {
    // A reader that went away must not turn the run into a signal death.
    std::signal(SIGPIPE, SIG_IGN);
    tevoli::frames::LinuxMediaServices services;
    const tevoli::Ending ending = tevoli::frames::runFrames(std::vector<std::string>(argv, argv + argc), services);
    return tevoli::finish(ending, tevoli::frames::kFailPrefix);
}
