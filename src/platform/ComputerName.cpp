#include "platform/ComputerName.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace tessaly::ComputerName {

std::string prettyHostName(const std::string& machineInfo)
{
    // A line looks like: PRETTY_HOSTNAME="Ana's laptop"
    static const std::string key = "PRETTY_HOSTNAME=";
    std::istringstream lines(machineInfo);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        if (line.rfind(key, 0) != 0)
            continue;
        std::string value = line.substr(key.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.pop_back();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
            && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            unescaped += value[i];
        }
        found = unescaped;
    }
    return found;
}

std::string current(const std::string& machineInfoPath)
{
    std::ifstream file(machineInfoPath);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        if (std::string pretty = prettyHostName(text.str()); !pretty.empty())
            return pretty;
    }
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    return host;
}

} // namespace tessaly::ComputerName
