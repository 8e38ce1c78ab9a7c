// Small text helpers shared by every layer. Letter case is ASCII only: names and keys are
// compared as Windows compares them, and 8-bit characters stay as they are.
#pragma once

#include <string>

// Without leading and trailing blanks and control characters (every byte up to ' ').
std::string StrTrim(const std::string& s);
// 'A'-'Z' turned to 'a'-'z'.
std::string StrLower(std::string s);
// 'a'-'z' turned to 'A'-'Z'.
std::string StrUpper(std::string s);
