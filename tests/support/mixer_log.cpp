// Reads the VMR-9 completion layer's log.
#include "mixer_log.h"

#include <fstream>
#include <sstream>

std::vector<MixerCall> ReadMixerLog(const std::string &path)
{
    std::vector<MixerCall> calls;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        MixerCall call;
        fields >> call.ms >> call.call;
        call.line = line;
        if (!call.call.empty())
            calls.push_back(call);
    }
    return calls;
}

std::vector<MixerCall> CallsNamed(const std::vector<MixerCall> &calls, const std::string &name)
{
    std::vector<MixerCall> named;
    for (const MixerCall &call : calls)
        if (call.call == name)
            named.push_back(call);
    return named;
}
