#pragma once
// The control groups that bound the process: the directories of its group
// and of every ancestor, as this process sees them.

#include <functional>
#include <string>

// Calls visit(v2, dir) for the directory of the process's group and then of
// each ancestor, in the version-1 hierarchy that holds `controller`
// ("memory", "cpu") and in the unified one (version 2, v2 true); for none
// where neither is mounted.
void visit_cgroup_dirs(const char* controller, const std::function<void(bool v2, const std::string& dir)>& visit);

// The first word of a file in dir, empty where it cannot be read.
std::string cgroup_value(const std::string& dir, const char* file, int word = 0);
