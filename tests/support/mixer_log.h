// The VMR-9 completion layer's log, as the tests of the running saver read it: one
// line per call, "<ms> <Call> NAME=VALUE ... hr=0x...".
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

// One line of the layer's log: the time, the call and its NAME=VALUE parameters.
struct MixerCall {
    DWORD ms = 0;
    std::string call;
    std::string line;

    std::string Value(const std::string &name) const
    {
        size_t at = line.find(" " + name + "=");
        if (at == std::string::npos)
            return "";
        at += name.size() + 2;
        return line.substr(at, line.find(' ', at) - at);
    }
    double Number(const std::string &name) const { return atof(Value(name).c_str()); }
};

std::vector<MixerCall> ReadMixerLog(const std::string &path);

std::vector<MixerCall> CallsNamed(const std::vector<MixerCall> &calls, const std::string &name);
