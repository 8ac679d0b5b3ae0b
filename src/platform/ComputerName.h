#pragma once

#include <string>

namespace tessaly::ComputerName {

// The name this computer shows to others: the pretty host name of /etc/machine-info, else the
// host name; empty when neither is set.
std::string current(const std::string& machineInfoPath = "/etc/machine-info");

// PRETTY_HOSTNAME of a machine-info text (shell-style assignments); empty when absent.
std::string prettyHostName(const std::string& machineInfo);

} // namespace tessaly::ComputerName
