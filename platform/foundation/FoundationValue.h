// Property-list values as Foundation objects and back: how a file read by the platform's
// own codec reaches the system, and how what the system hands over is written.
#pragma once

#include "platform/plist/Value.h"
#include "runtime/ObjC.h"

#include <optional>
#include <string>

namespace Platform {

// The value as NSNumber (boolean, integer and real kept apart), NSString, NSData, NSDate,
// NSArray or NSDictionary; autoreleased. A UID, which no Foundation class stands for, is nil.
id foundationObject(const Plist::Value&);
// The property-list value an object stands for; none for nil or an object of another kind
// (dictionary keys that are not strings included).
std::optional<Plist::Value> propertyListValue(id);

// The text of an NSString; none for nil or another object.
std::optional<std::string> stringValue(id);
// An NSString of the bytes (UTF-8), autoreleased.
id makeString(std::string_view);

} // namespace Platform
