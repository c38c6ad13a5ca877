#include "platform/plist/Value.h"

#include <algorithm>
#include <cmath>

namespace Platform::Plist {

Dictionary Dictionary::fromEntries(std::vector<Entry>&& entries)
{
    Dictionary result;
    result.m_entries = std::move(entries);
    auto& list = result.m_entries;
    auto notIncreasing = [](const Entry& a, const Entry& b) { return a.first >= b.first; };
    // Files we and other writers produce are already sorted, so this usually stops here.
    if (std::adjacent_find(list.begin(), list.end(), notIncreasing) == list.end())
        return result;
    // Stable, so that among equal keys the file order survives and the last can win.
    std::stable_sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) { return a.first < b.first; });
    std::size_t out = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i + 1 < list.size() && list[i + 1].first == list[i].first)
            continue;
        if (out != i)
            list[out] = std::move(list[i]);
        ++out;
    }
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(out), list.end());
    return result;
}

std::size_t Dictionary::lowerBound(std::string_view key) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), key,
        [](const Entry& entry, std::string_view wanted) { return std::string_view(entry.first) < wanted; });
    return static_cast<std::size_t>(it - m_entries.begin());
}

const Value* Dictionary::find(std::string_view key) const
{
    std::size_t index = lowerBound(key);
    if (index < m_entries.size() && m_entries[index].first == key)
        return &m_entries[index].second;
    return nullptr;
}

Value* Dictionary::find(std::string_view key) { return const_cast<Value*>(std::as_const(*this).find(key)); }

void Dictionary::set(std::string key, Value value)
{
    std::size_t index = lowerBound(key);
    if (index < m_entries.size() && m_entries[index].first == key) {
        m_entries[index].second = std::move(value);
        return;
    }
    m_entries.emplace(m_entries.begin() + static_cast<std::ptrdiff_t>(index), std::move(key), std::move(value));
}

bool Dictionary::remove(std::string_view key)
{
    std::size_t index = lowerBound(key);
    if (index >= m_entries.size() || m_entries[index].first != key)
        return false;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}

bool operator==(const Dictionary& a, const Dictionary& b) { return a.m_entries == b.m_entries; }

// Out of line and built in place: inlined variant moves make GCC's uninitialized-use analysis
// report false positives in optimised sanitizer builds of every caller.
Value Value::boolean(bool value) { return Value(std::in_place_type<bool>, value); }

Value Value::integer(std::int64_t value)
{
    return Value(std::in_place_type<Integer>, Integer { static_cast<std::uint64_t>(value), false });
}

Value Value::unsignedInteger(std::uint64_t value)
{
    return Value(std::in_place_type<Integer>, Integer { value, value > INT64_MAX });
}

Value Value::real(double value) { return Value(std::in_place_type<double>, value); }

Value Value::string(std::string value) { return Value(std::in_place_type<std::string>, std::move(value)); }

Value Value::data(Data value) { return Value(std::in_place_type<Data>, std::move(value)); }

Value Value::date(Date value) { return Value(std::in_place_type<Date>, value); }

Value Value::uid(std::uint64_t value) { return Value(std::in_place_type<Uid>, Uid { value }); }

bool Value::boolValue() const
{
    switch (kind()) {
    case Kind::Boolean:
        return std::get<bool>(m_storage);
    case Kind::Integer:
        return std::get<Integer>(m_storage).bits;
    case Kind::Real:
        return std::get<double>(m_storage) != 0;
    default:
        return false;
    }
}

double Value::doubleValue() const
{
    switch (kind()) {
    case Kind::Boolean:
        return std::get<bool>(m_storage) ? 1 : 0;
    case Kind::Integer: {
        auto& integer = std::get<Integer>(m_storage);
        if (integer.largeUnsigned)
            return static_cast<double>(integer.bits);
        return static_cast<double>(static_cast<std::int64_t>(integer.bits));
    }
    case Kind::Real:
        return std::get<double>(m_storage);
    default:
        return 0;
    }
}

float Value::floatValue() const
{
    switch (kind()) {
    case Kind::Integer: {
        // Straight to single precision: going through double could round twice.
        auto& integer = std::get<Integer>(m_storage);
        if (integer.largeUnsigned)
            return static_cast<float>(integer.bits);
        return static_cast<float>(static_cast<std::int64_t>(integer.bits));
    }
    default:
        return static_cast<float>(doubleValue());
    }
}

std::int64_t Value::integerValue() const
{
    switch (kind()) {
    case Kind::Boolean:
        return std::get<bool>(m_storage) ? 1 : 0;
    case Kind::Integer: {
        auto& integer = std::get<Integer>(m_storage);
        if (integer.largeUnsigned)
            return INT64_MAX;
        return static_cast<std::int64_t>(integer.bits);
    }
    case Kind::Real: {
        double real = std::get<double>(m_storage);
        if (std::isnan(real))
            return 0;
        // 2^63 is exactly representable; anything at or beyond it saturates.
        if (real >= 9223372036854775808.0)
            return INT64_MAX;
        if (real <= -9223372036854775808.0)
            return INT64_MIN;
        return static_cast<std::int64_t>(real);
    }
    default:
        return 0;
    }
}

std::uint64_t Value::unsignedIntegerValue() const
{
    if (auto* integer = std::get_if<Integer>(&m_storage))
        return integer->bits;
    return 0;
}

bool Value::isLargeUnsigned() const
{
    auto* integer = std::get_if<Integer>(&m_storage);
    return integer && integer->largeUnsigned;
}

std::optional<Date> Value::asDate() const
{
    if (auto* date = std::get_if<Date>(&m_storage))
        return *date;
    return std::nullopt;
}

std::optional<std::uint64_t> Value::asUid() const
{
    if (auto* uid = std::get_if<Uid>(&m_storage))
        return uid->value;
    return std::nullopt;
}

bool operator==(const Value& a, const Value& b) { return a.m_storage == b.m_storage; }

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Boolean:
        return "boolean";
    case Kind::Integer:
        return "integer";
    case Kind::Real:
        return "real";
    case Kind::String:
        return "string";
    case Kind::Data:
        return "data";
    case Kind::Date:
        return "date";
    case Kind::Array:
        return "array";
    case Kind::Dictionary:
        return "dictionary";
    case Kind::Uid:
        return "uid";
    }
    return "unknown";
}

} // namespace Platform::Plist
