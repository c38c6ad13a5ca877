// Debian package versions ("[epoch:]upstream[-revision]") compared as dpkg compares them,
// so that dependencies can be checked against a device's database before dpkg runs.
#pragma once

#include <string>
#include <string_view>

namespace Device {

// Negative, zero or positive as a sorts before, with or after b.
int compareVersions(std::string_view a, std::string_view b);

// Whether `installed` meets a dependency's relation (<<, <=, =, >=, >>, and the old < and >,
// which mean <= and >=) to `wanted`. An unknown relation is never met.
bool versionSatisfies(std::string_view installed, std::string_view relation, std::string_view wanted);

} // namespace Device
