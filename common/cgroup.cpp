#include "cgroup.h"

#include <fstream>
#include <sstream>

namespace {

bool has(const std::string& list, const char* name) {
    return ("," + list + ",").find("," + std::string(name) + ",") != std::string::npos;
}

// The mount point of the version-1 hierarchy that holds the controller, or
// of the unified one (version 2), and the root of the hierarchy it shows,
// from /proc/self/mountinfo. Fields: id, parent, device, root, mount point,
// options, optional fields, "-", type, source, super options.
bool find_cgroup_mount(bool v2, const char* controller, std::string* mount_point, std::string* root) {
    std::ifstream mountinfo("/proc/self/mountinfo");
    for (std::string line; std::getline(mountinfo, line);) {
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos) continue;
        std::istringstream before(line.substr(0, dash)), after(line.substr(dash + 3));
        std::string id, parent, device, type, source, options;
        before >> id >> parent >> device >> *root >> *mount_point;
        after >> type >> source >> options;
        if (v2 ? type == "cgroup2" : type == "cgroup" && has(options, controller)) return true;
    }
    return false;
}

}  // namespace

void visit_cgroup_dirs(const char* controller, const std::function<void(bool v2, const std::string& dir)>& visit) {
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        // "0::PATH" is version 2; "N:CONTROLLERS:PATH" version 1.
        const size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const bool v2 = line.compare(0, first, "0") == 0 && controllers.empty();
        if (!v2 && !has(controllers, controller)) continue;
        std::string mount_point, root, path = line.substr(second + 1);
        if (!find_cgroup_mount(v2, controller, &mount_point, &root)) continue;
        if (root != "/" && path.compare(0, root.size(), root) == 0) path.erase(0, root.size());
        // A group hidden from this mount (a container's namespace) shows as
        // its nearest ancestor.
        for (;;) {
            visit(v2, mount_point + path);
            const size_t slash = path.find_last_of('/');
            if (slash == std::string::npos || path.empty() || path == "/") break;
            path.erase(slash);
        }
    }
}

std::string cgroup_value(const std::string& dir, const char* file, int word) {
    std::ifstream in(dir + "/" + file);
    std::string value;
    for (int i = 0; i <= word; ++i)
        if (!(in >> value)) return {};
    return value;
}
