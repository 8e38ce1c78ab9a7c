// Runs one of the built programs (kvs, kelvane-studio) on a TempEnv's folders, with standard
// input from a text and standard output and error captured.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/TempEnv.h"

struct RunResult {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string out, err;
};

inline RunResult RunProgram(const TempEnv& env, const std::string& program, const std::string& args,
                            const std::string& input = "")
{
    const std::string dir = env.root.string() + "/";
    TempEnv::Write(dir + "stdin.txt", input);
    const std::string cmd = "KVS_WINDOWS_DIR='" + env.win + "' KVS_PROGRAM_DIR='" + env.prog +
                            "' QT_QPA_PLATFORM=offscreen '" + std::string(KVS_BINARY_DIR) + "/" + program + "' " + args +
                            " <'" + dir + "stdin.txt' >'" + dir + "out.txt' 2>'" + dir + "err.txt'";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = TempEnv::Read(dir + "out.txt");
    r.err = TempEnv::Read(dir + "err.txt");
    return r;
}
