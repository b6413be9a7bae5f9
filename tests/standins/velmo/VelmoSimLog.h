// Reading the protocol-library simulator's log (VELMO_SIM_LOG): the fault lines it writes
// when a caller misuses the libraries or leaves something behind at velmo_unload.
#pragma once

#include <string>

namespace velmo_sim {

// Every fault line of the log (each with its line end), in the order of the fault words.
inline std::string FaultLines(const std::string& log)
{
    std::string faults;
    for (const char* word : {"UNEXPECTED", "UNKNOWN FREE", "REUSED TICKET", "BAD HANDLE", "LEFT ",
                             "OPEN SESSION AT DISCONNECT", "SCRIPT"}) {
        size_t at = 0;
        while ((at = log.find(word, at)) != std::string::npos) {
            const size_t end = log.find('\n', at);
            faults += log.substr(at, end == std::string::npos ? std::string::npos : end - at) + "\n";
            if (end == std::string::npos)
                break;
            at = end;
        }
    }
    return faults;
}

}  // namespace velmo_sim
