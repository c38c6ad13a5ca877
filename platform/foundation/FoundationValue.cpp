#include "platform/foundation/FoundationValue.h"

#include <cstring>

using namespace ObjC;

namespace Platform {

namespace {

// NSUTF8StringEncoding, of GNUstep's NSStringEncoding type (unsigned int).
constexpr unsigned utf8Encoding = 4;

const ClassReference s_number("NSNumber");
const ClassReference s_string("NSString");
const ClassReference s_data("NSData");
const ClassReference s_date("NSDate");
const ClassReference s_array("NSArray");
const ClassReference s_dictionary("NSDictionary");
const ClassReference s_mutableArray("NSMutableArray");
const ClassReference s_mutableDictionary("NSMutableDictionary");

bool isKindOf(id object, Class cls)
{
    static SEL const isKindOfClass = sel("isKindOfClass:");
    return send<bool>(object, isKindOfClass, cls);
}

// Foundation keeps its booleans in a class of their own.
Class booleanNumberClass()
{
    static Class const cls = classOf(boolNumber(true));
    return cls;
}

} // namespace

id makeString(std::string_view text)
{
    static SEL const alloc = sel("alloc");
    static SEL const initWithBytes = sel("initWithBytes:length:encoding:");
    static SEL const autorelease = sel("autorelease");
    id string = send<id>(send<id>(s_string.get(), alloc), initWithBytes, static_cast<const void*>(text.data()),
        static_cast<unsigned long>(text.size()), utf8Encoding);
    return send<id>(string, autorelease);
}

std::optional<std::string> stringValue(id object)
{
    if (!object || !isKindOf(object, s_string))
        return std::nullopt;
    // Short text (a settings key, a notification name) is converted once, into a buffer on the
    // stack: four times cheaper than the two conversions below. The buffer is filled with 0xFF
    // first, a byte UTF-8 never holds, so the text ends before the last terminator written,
    // whatever NULs it holds itself. GNUstep writes the terminator past maxLength: one is kept free.
    static SEL const lengthInUnits = sel("length");
    static SEL const getCString = sel("getCString:maxLength:encoding:");
    char buffer[128];
    unsigned long units = send<unsigned long>(object, lengthInUnits);
    if (units * 3 < sizeof buffer - 1) {
        std::memset(buffer, 0xFF, sizeof buffer);
        if (send<bool>(object, getCString, static_cast<char*>(buffer), static_cast<unsigned long>(sizeof buffer - 1),
                utf8Encoding)) {
            size_t end = sizeof buffer;
            while (end && buffer[end - 1] == static_cast<char>(0xFF))
                --end;
            if (end)
                return std::string(buffer, end - 1);
        }
    }
    static SEL const lengthOfBytes = sel("lengthOfBytesUsingEncoding:");
    const char* bytes = utf8(object);
    size_t length = send<unsigned long>(object, lengthOfBytes, utf8Encoding);
    return std::string(bytes ? bytes : "", bytes ? length : 0);
}

id foundationObject(const Plist::Value& value)
{
    using Plist::Kind;
    switch (value.kind()) {
    case Kind::Boolean:
        return boolNumber(value.boolValue());
    case Kind::Integer:
        if (value.isLargeUnsigned()) {
            static SEL const withUnsigned = sel("numberWithUnsignedLongLong:");
            return send<id>(s_number.get(), withUnsigned, static_cast<unsigned long long>(value.unsignedIntegerValue()));
        }
        return number(static_cast<long long>(value.integerValue()));
    case Kind::Real:
        return number(value.doubleValue());
    case Kind::String:
        return makeString(*value.asString());
    case Kind::Data: {
        static SEL const withBytes = sel("dataWithBytes:length:");
        const Plist::Data& data = *value.asData();
        return send<id>(s_data.get(), withBytes, static_cast<const void*>(data.data()), static_cast<unsigned long>(data.size()));
    }
    case Kind::Date: {
        static SEL const withInterval = sel("dateWithTimeIntervalSinceReferenceDate:");
        return send<id>(s_date.get(), withInterval, value.asDate()->secondsSinceReferenceDate);
    }
    case Kind::Array: {
        static SEL const arrayWithCapacity = sel("arrayWithCapacity:");
        static SEL const addObject = sel("addObject:");
        id array = send<id>(s_mutableArray.get(), arrayWithCapacity, static_cast<unsigned long>(value.asArray()->size()));
        for (auto& element : *value.asArray()) {
            if (id object = foundationObject(element))
                send(array, addObject, object);
        }
        return array;
    }
    case Kind::Dictionary: {
        static SEL const dictionaryWithCapacity = sel("dictionaryWithCapacity:");
        static SEL const setObject = sel("setObject:forKey:");
        id dictionary = send<id>(s_mutableDictionary.get(), dictionaryWithCapacity,
            static_cast<unsigned long>(value.asDictionary()->size()));
        for (auto& [key, element] : *value.asDictionary()) {
            if (id object = foundationObject(element))
                send(dictionary, setObject, object, makeString(key));
        }
        return dictionary;
    }
    case Kind::Uid:
        return nullptr;
    }
    return nullptr;
}

std::optional<Plist::Value> propertyListValue(id object)
{
    if (!object)
        return std::nullopt;
    if (isKindOf(object, s_number)) {
        if (classOf(object) == booleanNumberClass())
            return Plist::Value::boolean(send<bool>(object, sel("boolValue")));
        const char* type = send<const char*>(object, sel("objCType"));
        if (type && (std::strcmp(type, "d") == 0 || std::strcmp(type, "f") == 0))
            return Plist::Value::real(send<double>(object, sel("doubleValue")));
        if (type && std::strcmp(type, "Q") == 0)
            return Plist::Value::unsignedInteger(send<unsigned long long>(object, sel("unsignedLongLongValue")));
        return Plist::Value::integer(send<long long>(object, sel("longLongValue")));
    }
    if (auto text = stringValue(object))
        return Plist::Value::string(std::move(*text));
    if (isKindOf(object, s_data)) {
        auto* bytes = static_cast<const uint8_t*>(send<const void*>(object, sel("bytes")));
        size_t length = send<unsigned long>(object, sel("length"));
        return Plist::Value::data(Plist::Data(bytes, bytes + length));
    }
    if (isKindOf(object, s_date))
        return Plist::Value::date({ send<double>(object, sel("timeIntervalSinceReferenceDate")) });
    if (isKindOf(object, s_array)) {
        Plist::Array array;
        unsigned long count = send<unsigned long>(object, sel("count"));
        for (unsigned long index = 0; index < count; ++index) {
            auto element = propertyListValue(send<id>(object, sel("objectAtIndex:"), index));
            if (!element)
                return std::nullopt;
            array.push_back(std::move(*element));
        }
        return Plist::Value(std::move(array));
    }
    if (isKindOf(object, s_dictionary)) {
        Plist::Dictionary dictionary;
        id keys = send<id>(object, sel("allKeys"));
        unsigned long count = send<unsigned long>(keys, sel("count"));
        for (unsigned long index = 0; index < count; ++index) {
            id key = send<id>(keys, sel("objectAtIndex:"), index);
            auto name = stringValue(key);
            auto element = propertyListValue(send<id>(object, sel("objectForKey:"), key));
            if (!name || !element)
                return std::nullopt;
            dictionary.set(std::move(*name), std::move(*element));
        }
        return Plist::Value(std::move(dictionary));
    }
    return std::nullopt;
}

} // namespace Platform
