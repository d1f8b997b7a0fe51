// The harnesses' property check: a failed one aborts, which the fuzzer reports with the input.
#pragma once

#include <cstdlib>

namespace vantora::fuzz {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace vantora::fuzz
