// Decimal numbers with "," between groups of three digits, as the trace and the memory
// registry's names show them.
#pragma once

#include <cstdint>
#include <string>

std::string NumGroupDigits(int64_t value);
