#include "port_holder.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace orv::ctl {

bool PortHeldOpen(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    // Each lock line names its file as MAJOR:MINOR:INODE, the numbers of the
    // device in hex and the inode in decimal.
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    if (!locks) return true;  // cannot tell: the host is taken to be there
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos) continue;  // a waiter, not a holder
        std::istringstream fields(line);
        for (std::string field; fields >> field;)
            if (field == file) return true;
    }
    return false;
}

}  // namespace orv::ctl
