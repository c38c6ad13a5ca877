#include "platform/plist/BinaryParser.h"

#include "platform/plist/Encoding.h"

#include <cstring>
#include <iterator>

namespace Platform::Plist {

static constexpr std::size_t headerSize = 8;
static constexpr std::size_t trailerSize = 32;

static inline std::uint64_t readBigEndian(const std::uint8_t* p, unsigned size)
{
    switch (size) {
    case 1:
        return p[0];
    case 2:
        return static_cast<std::uint64_t>(p[0]) << 8 | p[1];
    case 4: {
        std::uint32_t value;
        std::memcpy(&value, p, 4);
        return __builtin_bswap32(value);
    }
    case 8: {
        std::uint64_t value;
        std::memcpy(&value, p, 8);
        return __builtin_bswap64(value);
    }
    default: {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value = (value << 8) | p[i];
        return value;
    }
    }
}

static bool isAscii(const std::uint8_t* bytes, std::uint64_t count)
{
    std::uint64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    std::uint8_t any = 0;
    for (; i < count; ++i)
        any |= bytes[i];
    return !(any & 0x80);
}

BinaryParser::BinaryParser(std::string_view input)
    : m_bytes(reinterpret_cast<const std::uint8_t*>(input.data()))
    , m_size(input.size())
    , m_budget(32 * 1024 * 1024 + 4 * static_cast<std::uint64_t>(input.size()))
{
}

bool BinaryParser::fail(const char* message)
{
    if (!m_error)
        m_error = message;
    return false;
}

std::string BinaryParser::errorReason() const
{
    return std::string("binary: ") + (m_error ? m_error : "not a property list");
}

bool BinaryParser::charge(std::uint64_t bytes)
{
    if (bytes > m_budget)
        return fail("too large when expanded");
    m_budget -= bytes;
    return true;
}

bool BinaryParser::readTrailer()
{
    if (m_size < headerSize + trailerSize)
        return fail("shorter than header and trailer");
    if (std::memcmp(m_bytes, "bplist00", headerSize))
        return fail(std::memcmp(m_bytes, "bplist", 6) ? "bad magic" : "unsupported version");
    const std::uint8_t* trailer = m_bytes + m_size - trailerSize;
    m_offsetSize = trailer[6];
    m_referenceSize = trailer[7];
    m_objectCount = readBigEndian(trailer + 8, 8);
    m_topObject = readBigEndian(trailer + 16, 8);
    m_tableOffset = readBigEndian(trailer + 24, 8);
    if (m_offsetSize < 1 || m_offsetSize > 8)
        return fail("bad offset size in trailer");
    if (m_referenceSize < 1 || m_referenceSize > 8)
        return fail("bad reference size in trailer");
    if (!m_objectCount)
        return fail("no objects");
    if (m_topObject >= m_objectCount)
        return fail("top object out of range");
    // The first object starts at byte 8, so the table cannot start before byte 9.
    if (m_tableOffset <= headerSize)
        return fail("offset table overlaps header");
    std::uint64_t tableSize;
    if (__builtin_mul_overflow(m_objectCount, m_offsetSize, &tableSize))
        return fail("offset table size overflows");
    std::uint64_t trailerStart = m_size - trailerSize;
    if (m_tableOffset > trailerStart || tableSize > trailerStart - m_tableOffset)
        return fail("offset table overlaps trailer");
    // As the platform's reader: a reference must be able to name every object.
    if (m_referenceSize < 8 && m_objectCount >= (std::uint64_t(1) << (8 * m_referenceSize)))
        return fail("reference size too small for object count");

    // The table fits in the file, so the count is bounded by the file size.
    if (m_objectCount <= std::size(m_inlineStates))
        m_states = m_inlineStates;
    else {
        m_heapStates = std::make_unique<State[]>(m_objectCount);
        m_states = m_heapStates.get();
    }
    std::memset(m_states, Unseen, m_objectCount * sizeof(State));
    return true;
}

bool BinaryParser::locate(std::uint64_t reference, std::uint64_t& offset)
{
    if (reference >= m_objectCount)
        return fail("object reference out of range");
    offset = readBigEndian(m_bytes + m_tableOffset + reference * m_offsetSize, m_offsetSize);
    if (offset < headerSize || offset >= m_tableOffset)
        return fail("object offset out of range");
    return true;
}

// The count in the marker's low nibble, or 0xF and an integer object holding it. `position` is
// just past the marker and moves past the count.
bool BinaryParser::readCount(std::uint8_t marker, std::uint64_t& position, std::uint64_t& count)
{
    if ((marker & 0xF) != 0xF) {
        count = marker & 0xF;
        return true;
    }
    if (position >= m_tableOffset)
        return fail("truncated object");
    std::uint8_t lengthMarker = m_bytes[position];
    if ((lengthMarker >> 4) != 0x1)
        return fail("length marker followed by a non-integer");
    unsigned size = 1u << (lengthMarker & 0xF);
    if (size > 8)
        return fail("bad length size");
    if (m_tableOffset - position - 1 < size)
        return fail("truncated object");
    count = readBigEndian(m_bytes + position + 1, size);
    position += 1 + size;
    return true;
}

bool BinaryParser::parse(Value& root) { return readTrailer() && parseObject(m_topObject, 1, &root); }

LookupStatus BinaryParser::lookup(std::string_view key, Value& found)
{
    std::uint64_t offset;
    if (!readTrailer() || !locate(m_topObject, offset))
        return LookupStatus::Unreadable;
    std::uint8_t marker = m_bytes[offset];
    if ((marker >> 4) != 0xD) {
        fail("root is not a dictionary");
        return LookupStatus::Unreadable;
    }
    LookupTarget target { key, &found, false };
    if (!parseContainer(m_topObject, marker, offset + 1, 1, nullptr, &target))
        return LookupStatus::Unreadable;
    return target.matched ? LookupStatus::Found : LookupStatus::KeyAbsent;
}

// An ASCII (0x5) or UTF-16 (0x6) string object; anything else is refused, as it can only be a
// dictionary key that is not a string. Builds it into `out` when given; compares it
// with `*compareWith` when given.
bool BinaryParser::parseString(
    std::uint64_t reference, std::string* out, const std::string_view* compareWith, bool* equal)
{
    std::uint64_t position;
    if (!locate(reference, position))
        return false;
    std::uint8_t marker = m_bytes[position++];
    if ((marker >> 4) != 0x5 && (marker >> 4) != 0x6)
        return fail("dictionary key is not a string");
    std::uint64_t count;
    if (!readCount(marker, position, count))
        return false;
    std::uint64_t available = m_tableOffset - position;
    const std::uint8_t* bytes = m_bytes + position;
    bool checked = m_states[reference] == Done;

    if ((marker >> 4) == 0x5) {
        if (count > available)
            return fail("truncated string");
        if (!checked && !isAscii(bytes, count))
            return fail("non-ASCII byte in ASCII string");
        m_states[reference] = Done;
        std::string_view text(reinterpret_cast<const char*>(bytes), count);
        if (compareWith)
            *equal = text == *compareWith;
        if (!charge(count + sizeof(Value)))
            return false;
        if (out)
            out->assign(text);
        return true;
    }

    if (count > available / 2)
        return fail("truncated string");
    // A string of more UTF-16 units than the key has bytes cannot equal it: no need to convert.
    bool mayEqual = compareWith && count <= compareWith->size();
    if (compareWith)
        *equal = false;
    if (!charge(count * 3 + sizeof(Value)))
        return false;
    if (checked && !out && !mayEqual)
        return true;
    std::string* converted = out ? out : (mayEqual ? &m_scratch : nullptr);
    if (converted)
        converted->clear();
    for (std::uint64_t i = 0; i < count; ++i) {
        char32_t unit = static_cast<char32_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            char32_t low = 0;
            if (i + 1 < count)
                low = static_cast<char32_t>(bytes[2 * i + 2] << 8 | bytes[2 * i + 3]);
            if (unit >= 0xDC00 || low < 0xDC00 || low > 0xDFFF)
                return fail("lone surrogate in UTF-16 string");
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (converted)
            appendUtf8(*converted, unit);
    }
    m_states[reference] = Done;
    if (mayEqual)
        *equal = *converted == *compareWith;
    return true;
}

bool BinaryParser::parseObject(std::uint64_t reference, unsigned depth, Value* out)
{
    std::uint64_t position;
    if (!locate(reference, position))
        return false;
    std::uint8_t marker = m_bytes[position++];
    std::uint64_t available = m_tableOffset - position;
    const std::uint8_t* bytes = m_bytes + position;
    unsigned low = marker & 0xF;
    if ((marker >> 4) != 0x5 && (marker >> 4) != 0x6 && !charge(sizeof(Value)))
        return false;

    switch (marker >> 4) {
    case 0x0:
        if (marker != 0x08 && marker != 0x09)
            return fail("unknown object marker");
        if (out)
            *out = Value::boolean(marker == 0x09);
        return true;
    case 0x1: {
        if (low > 4)
            return fail("integer of unsupported size");
        unsigned size = 1u << low;
        if (available < size)
            return fail("truncated integer");
        if (size == 16) {
            std::uint64_t high = readBigEndian(bytes, 8);
            std::uint64_t value = readBigEndian(bytes + 8, 8);
            bool fitsUnsigned = !high;
            bool fitsNegative = high == ~std::uint64_t(0) && (value >> 63);
            if (!fitsUnsigned && !fitsNegative)
                return fail("integer out of range");
            if (out)
                *out = fitsUnsigned ? Value::unsignedInteger(value) : Value::integer(static_cast<std::int64_t>(value));
            return true;
        }
        std::uint64_t value = readBigEndian(bytes, size);
        // One to four bytes are unsigned; eight bytes are two's complement.
        if (out)
            *out = size == 8 ? Value::integer(static_cast<std::int64_t>(value)) : Value::unsignedInteger(value);
        return true;
    }
    case 0x2:
    case 0x3: {
        bool isDate = (marker >> 4) == 0x3;
        if ((isDate && low != 3) || (!isDate && low != 2 && low != 3))
            return fail(isDate ? "unknown object marker" : "real of unsupported size");
        unsigned size = 1u << low;
        if (available < size)
            return fail("truncated real");
        double value;
        if (size == 4) {
            auto bits = static_cast<std::uint32_t>(readBigEndian(bytes, 4));
            float single;
            std::memcpy(&single, &bits, 4);
            value = single;
        } else {
            std::uint64_t bits = readBigEndian(bytes, 8);
            std::memcpy(&value, &bits, 8);
        }
        // A date that no calendar time stands for (NaN, infinite, outside years 1 to 9999) is
        // refused rather than changed into a nearby one on its way through.
        if (isDate && !isRepresentableDate(Date { value }))
            return fail("date out of range");
        if (out)
            *out = isDate ? Value::date(Date { value }) : Value::real(value);
        return true;
    }
    case 0x4: {
        std::uint64_t count;
        if (!readCount(marker, position, count))
            return false;
        if (count > m_tableOffset - position)
            return fail("truncated data");
        if (!charge(count))
            return false;
        if (out) {
            auto* start = m_bytes + position;
            *out = Value::data(Data(start, start + count));
        }
        return true;
    }
    case 0x5:
    case 0x6: {
        if (!out)
            return parseString(reference, nullptr, nullptr, nullptr);
        std::string text;
        if (!parseString(reference, &text, nullptr, nullptr))
            return false;
        *out = Value::string(std::move(text));
        return true;
    }
    case 0x8: {
        unsigned size = low + 1;
        if (size > 8)
            return fail("UID of unsupported size");
        if (available < size)
            return fail("truncated UID");
        if (out)
            *out = Value::uid(readBigEndian(bytes, size));
        return true;
    }
    case 0xA:
    case 0xD:
        return parseContainer(reference, marker, position, depth, out, nullptr);
    default:
        return fail("unknown object marker");
    }
}

// An array (0xA) or dictionary (0xD): `position` is just past the marker. With a lookup target
// (the root dictionary of a lookup) only the value under the target's key is built.
bool BinaryParser::parseContainer(std::uint64_t reference, std::uint8_t marker, std::uint64_t position, unsigned depth,
    Value* out, LookupTarget* target)
{
    bool isDictionary = (marker >> 4) == 0xD;
    std::uint64_t count;
    if (!readCount(marker, position, count))
        return false;
    std::uint64_t references;
    std::uint64_t referencesSize;
    if (__builtin_mul_overflow(count, isDictionary ? 2 : 1, &references)
        || __builtin_mul_overflow(references, m_referenceSize, &referencesSize))
        return fail("container length overflows");
    if (referencesSize > m_tableOffset - position)
        return fail("truncated container");
    if (depth > maximumNestingDepth)
        return fail("nesting deeper than 512");
    if (!count) {
        if (out)
            *out = isDictionary ? Value(Dictionary()) : Value(Array());
        return true;
    }
    if (m_states[reference] == Expanding)
        return fail("object graph has a cycle");
    if (m_states[reference] == Done)
        return fail("container referenced more than once");
    m_states[reference] = Expanding;

    const std::uint8_t* referenceBytes = m_bytes + position;
    auto referenceAt
        = [&](std::uint64_t index) { return readBigEndian(referenceBytes + index * m_referenceSize, m_referenceSize); };

    if (!isDictionary) {
        Array elements;
        if (!charge(count * sizeof(Value)))
            return false;
        if (out)
            elements.resize(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            if (!parseObject(referenceAt(i), depth + 1, out ? &elements[i] : nullptr))
                return false;
        }
        if (out)
            *out = std::move(elements);
        m_states[reference] = Done;
        return true;
    }

    std::vector<Dictionary::Entry> entries;
    if (!charge(count * sizeof(Dictionary::Entry)))
        return false;
    if (out)
        entries.resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        bool matched = false;
        if (!parseString(referenceAt(i), out ? &entries[i].first : nullptr, target ? &target->key : nullptr, &matched))
            return false;
        // Later duplicates replace earlier ones, as in a full read.
        Value* destination = out ? &entries[i].second : (matched ? target->found : nullptr);
        if (!parseObject(referenceAt(count + i), depth + 1, destination))
            return false;
        if (matched)
            target->matched = true;
    }
    if (out)
        *out = Dictionary::fromEntries(std::move(entries));
    m_states[reference] = Done;
    return true;
}

} // namespace Platform::Plist
