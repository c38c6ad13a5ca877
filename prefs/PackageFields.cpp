#include "prefs/PackageFields.h"

#include "platform/foundation/PreferencesCalls.h"

id parsePackageFields(id output)
{
    static SEL const dictionary = ObjC::sel("dictionary");
    static SEL const componentsSeparatedByString = ObjC::sel("componentsSeparatedByString:");
    static SEL const count = ObjC::sel("count");
    static SEL const objectAtIndex = ObjC::sel("objectAtIndex:");
    static SEL const length = ObjC::sel("length");
    static SEL const substringFromIndex = ObjC::sel("substringFromIndex:");
    static SEL const setObjectForKey = ObjC::sel("setObject:forKey:");
    static ObjC::ClassReference const mutableDictionary("NSMutableDictionary");

    // Strict UTF-8, as the platform decodes text.
    id text = PlatformStringWithUTF8Data(output);
    if (!text)
        return nullptr;
    id fields = ObjC::send<id>(mutableDictionary.get(), dictionary);
    id lines = ObjC::send<id>(text, componentsSeparatedByString, ObjC::string("\n"));
    id separator = ObjC::string(": ");
    unsigned long lineCount = ObjC::send<unsigned long>(lines, count);
    for (unsigned long index = 0; index < lineCount; ++index) {
        id line = ObjC::send<id>(lines, objectAtIndex, index);
        // What comes before the first separator is the name, everything after it the value.
        id parts = ObjC::send<id>(line, componentsSeparatedByString, separator);
        if (ObjC::send<unsigned long>(parts, count) < 2)
            continue;
        id name = ObjC::send<id>(parts, objectAtIndex, 0ul);
        unsigned long nameLength = ObjC::send<unsigned long>(name, length);
        id value = ObjC::send<id>(line, substringFromIndex, nameLength + ObjC::send<unsigned long>(separator, length));
        ObjC::send(fields, setObjectForKey, value, name);
    }
    return fields;
}
