// The property-list value model: booleans, integers, reals, strings, data, dates, arrays,
// dictionaries (and UIDs, which only binary keyed-archive files carry), with value semantics.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace Platform::Plist {

class Value;

enum class Kind : std::uint8_t { Boolean, Integer, Real, String, Data, Date, Array, Dictionary, Uid };

// Seconds since 2001-01-01T00:00:00Z, the platform's reference date.
struct Date {
    double secondsSinceReferenceDate { 0 };
    friend bool operator==(const Date&, const Date&) = default;
};

using Data = std::vector<std::uint8_t>;
using Array = std::vector<Value>;

// String keys kept sorted by byte order (the order the writer emits them in), each key once.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;

    Dictionary() = default;
    // Builds from entries in file order; of duplicate keys the last one wins.
    static Dictionary fromEntries(std::vector<Entry>&&);

    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key); }
    // Inserts or replaces.
    void set(std::string key, Value);
    bool remove(std::string_view key);

    // Defined below Value: the entry type is complete only there.
    std::size_t size() const;
    bool isEmpty() const;
    const Entry* begin() const;
    const Entry* end() const;

    friend bool operator==(const Dictionary&, const Dictionary&);

private:
    std::size_t lowerBound(std::string_view key) const;

    std::vector<Entry> m_entries;
};

class Value {
public:
    // A default value is boolean false.
    Value() = default;
    Value(Array array)
        : m_storage(std::move(array))
    {
    }
    Value(Dictionary dictionary)
        : m_storage(std::move(dictionary))
    {
    }

    static Value boolean(bool);
    static Value integer(std::int64_t);
    // Values above INT64_MAX are kept as unsigned (isLargeUnsigned()).
    static Value unsignedInteger(std::uint64_t);
    static Value real(double);
    static Value string(std::string);
    static Value data(Data);
    static Value date(Date);
    static Value uid(std::uint64_t);

    Kind kind() const { return static_cast<Kind>(m_storage.index()); }
    bool isBoolean() const { return kind() == Kind::Boolean; }
    bool isInteger() const { return kind() == Kind::Integer; }
    bool isReal() const { return kind() == Kind::Real; }
    bool isString() const { return kind() == Kind::String; }
    bool isData() const { return kind() == Kind::Data; }
    bool isDate() const { return kind() == Kind::Date; }
    bool isArray() const { return kind() == Kind::Array; }
    bool isDictionary() const { return kind() == Kind::Dictionary; }
    bool isUid() const { return kind() == Kind::Uid; }

    // The number readings. boolValue: true for boolean true, a non-zero integer or a non-zero
    // real; false for everything else. floatValue/doubleValue: true 1, false 0, numbers their
    // value (reals narrowed for floatValue), anything else 0. integerValue: reals truncate
    // toward zero and saturate (NaN reads 0), integers above INT64_MAX saturate.
    bool boolValue() const;
    float floatValue() const;
    double doubleValue() const;
    std::int64_t integerValue() const;
    // The integer's 64 bits as unsigned (negative integers wrap); 0 for other kinds.
    std::uint64_t unsignedIntegerValue() const;
    // An integer above INT64_MAX.
    bool isLargeUnsigned() const;

    // Null or the contents when the value is of that kind.
    const std::string* asString() const { return std::get_if<std::string>(&m_storage); }
    const Data* asData() const { return std::get_if<Data>(&m_storage); }
    const Array* asArray() const { return std::get_if<Array>(&m_storage); }
    Array* asArray() { return std::get_if<Array>(&m_storage); }
    const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&m_storage); }
    Dictionary* asDictionary() { return std::get_if<Dictionary>(&m_storage); }
    std::optional<Date> asDate() const;
    std::optional<std::uint64_t> asUid() const;

    friend bool operator==(const Value&, const Value&);

private:
    struct Integer {
        std::uint64_t bits;
        bool largeUnsigned;
        friend bool operator==(const Integer&, const Integer&) = default;
    };
    struct Uid {
        std::uint64_t value;
        friend bool operator==(const Uid&, const Uid&) = default;
    };
    // The alternatives are in Kind order.
    using Storage = std::variant<bool, Integer, double, std::string, Data, Date, Array, Dictionary, Uid>;

    template <typename Alternative, typename Argument>
    Value(std::in_place_type_t<Alternative> type, Argument&& argument)
        : m_storage(type, std::forward<Argument>(argument))
    {
    }

    Storage m_storage;
};

const char* kindName(Kind);

inline std::size_t Dictionary::size() const { return m_entries.size(); }
inline bool Dictionary::isEmpty() const { return m_entries.empty(); }
inline const Dictionary::Entry* Dictionary::begin() const { return m_entries.data(); }
inline const Dictionary::Entry* Dictionary::end() const { return m_entries.data() + m_entries.size(); }

} // namespace Platform::Plist
