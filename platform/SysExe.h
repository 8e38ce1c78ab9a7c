// Where the running executable lies: the program folder and the shipped files are both found from it.
#pragma once

#include <string>

// Full path of the running executable; empty text when unknown.
std::string SysExePath();
