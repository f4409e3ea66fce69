#pragma once
#include <cstddef>

#include "runner.h"

namespace tevoli::asr {

// Longest request line accepted: room for about 90 s of audio in one chunk.
inline constexpr std::size_t kMaxRequestLine = 8u << 20;

// Writes one reply as its JSON bytes and a separate "\n"; false when the output is gone.
bool emit(int outFd, const Reply& reply);

// Reads requests from `inFd` until its end and writes one reply per non-blank line
// to `outFd`, one request at a time. Returns false when the output failed.
bool serveLoop(int inFd, int outFd, Runner& runner);

}  // namespace tevoli::asr
