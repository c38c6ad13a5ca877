// PloverPackage: what the device's package database records for a package,
// as its query tool prints it. Only the version is kept.
#pragma once

#include "prefs/PackageFields.h"
#include "runtime/Runtime.h"


class PloverPackage final : public Runtime::NSObject {
public:
    // Runs "/usr/bin/dpkg-query -s IDENTIFIER" and reads its record, without waiting for the
    // tool to exit. Answers a package (nil only when not even that can be made); its version
    // is nil when the record has no "Version" field, when the output is not UTF-8 or could not
    // be read whole, or when the tool cannot be started. Never throws.
    static Runtime::RefPtr<Runtime::Object> packageWithIdentifier(Runtime::Object* identifier);

    Runtime::RefPtr<Runtime::Object> version() const { return m_version; }
    void setVersion(Runtime::Object* version) { m_version = version; }

private:
    Runtime::RefPtr<Runtime::Object> m_version;
};
