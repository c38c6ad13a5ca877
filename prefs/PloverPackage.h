// PloverPackage: what the device's package database records for a package,
// as its query tool prints it. Only the version is kept.
#pragma once

#include "runtime/Runtime.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

class PloverPackage final : public Runtime::NSObject {
public:
    // Runs "/usr/bin/dpkg-query -s IDENTIFIER" and reads its record. Always
    // answers a package; its version is nil when the record has no "Version"
    // field, when the output is not UTF-8, or when the tool cannot be started.
    static Runtime::RefPtr<Runtime::Object> packageWithIdentifier(Runtime::Object* identifier);

    Runtime::RefPtr<Runtime::Object> version() const { return m_version; }
    void setVersion(Runtime::Object* version) { m_version = version; }

private:
    Runtime::RefPtr<Runtime::Object> m_version;
};

// The fields of a status record: lines split at "\n" only, each at its first
// ": " (name before, value after, neither trimmed), the last of equal names
// winning; lines without ": " are skipped. Nullopt when the bytes are not UTF-8.
std::optional<std::map<std::string, std::string>> parsePackageFields(std::string_view output);
