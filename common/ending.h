#pragma once
#include <string>
#include <string_view>

namespace tevoli {

// How a run ends, as a program's core decides it. Only `main` acts on it, so no
// thread of a core ever ends the process.
struct Ending {
    int status = 0;
    std::string output;   // left to print on standard output
    std::string message;  // for a failure: the message of the `fail` line

    static Ending failure(std::string message) { return {1, {}, std::move(message)}; }
};

// Prints what `ending` leaves to print, a failure's message as the `fail` line
// behind `failPrefix`, and returns the exit status for `main`.
int finish(const Ending& ending, std::string_view failPrefix);

}  // namespace tevoli
