#include "host/device/DebianVersion.h"

#include <cctype>

namespace Device {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Letters sort before every other non-digit, and a tilde before everything, even the end.
int weight(char c)
{
    if (!c || isDigit(c))
        return 0;
    if (std::isalpha(static_cast<unsigned char>(c)))
        return c;
    if (c == '~')
        return -1;
    return static_cast<unsigned char>(c) + 256;
}

// Alternating runs of non-digits (compared character by character) and digits (compared
// as numbers).
int compareParts(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    auto at = [](std::string_view text, size_t index) { return index < text.size() ? text[index] : '\0'; };
    while (i < a.size() || j < b.size()) {
        while ((i < a.size() && !isDigit(a[i])) || (j < b.size() && !isDigit(b[j]))) {
            int difference = weight(at(a, i)) - weight(at(b, j));
            if (difference)
                return difference;
            ++i;
            ++j;
        }
        while (at(a, i) == '0')
            ++i;
        while (at(b, j) == '0')
            ++j;
        int firstDifference = 0;
        while (isDigit(at(a, i)) && isDigit(at(b, j))) {
            if (!firstDifference)
                firstDifference = at(a, i) - at(b, j);
            ++i;
            ++j;
        }
        if (isDigit(at(a, i)))
            return 1;
        if (isDigit(at(b, j)))
            return -1;
        if (firstDifference)
            return firstDifference;
    }
    return 0;
}

struct Parts {
    long epoch { 0 };
    std::string_view upstream;
    std::string_view revision;
};

Parts split(std::string_view version)
{
    Parts parts;
    if (size_t colon = version.find(':'); colon != std::string_view::npos) {
        for (char c : version.substr(0, colon))
            parts.epoch = isDigit(c) && parts.epoch < 100000000 ? parts.epoch * 10 + (c - '0') : parts.epoch;
        version.remove_prefix(colon + 1);
    }
    size_t hyphen = version.rfind('-');
    parts.upstream = version.substr(0, hyphen);
    if (hyphen != std::string_view::npos)
        parts.revision = version.substr(hyphen + 1);
    return parts;
}

} // namespace

int compareVersions(std::string_view a, std::string_view b)
{
    auto first = split(a), second = split(b);
    if (first.epoch != second.epoch)
        return first.epoch < second.epoch ? -1 : 1;
    if (int upstream = compareParts(first.upstream, second.upstream))
        return upstream;
    return compareParts(first.revision, second.revision);
}

bool versionSatisfies(std::string_view installed, std::string_view relation, std::string_view wanted)
{
    int order = compareVersions(installed, wanted);
    if (relation == "<<")
        return order < 0;
    if (relation == "<=" || relation == "<")
        return order <= 0;
    if (relation == "=")
        return order == 0;
    if (relation == ">=" || relation == ">")
        return order >= 0;
    if (relation == ">>")
        return order > 0;
    return false;
}

} // namespace Device
