// The binary (`bplist00`) property-list reader. Every bound in the trailer, offset table and
// objects is checked before use; values are built only where asked.
#pragma once

#include "platform/plist/PropertyListReader.h"
#include "platform/plist/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace Platform::Plist {

class BinaryParser {
public:
    explicit BinaryParser(std::string_view input);

    bool parse(Value& root);
    // Found, KeyAbsent or Unreadable (also when the root is not a dictionary).
    LookupStatus lookup(std::string_view key, Value& found);

    // "binary: what went wrong", after parse() or lookup() failed.
    std::string errorReason() const;

private:
    struct LookupTarget {
        std::string_view key;
        Value* found;
        bool matched;
    };
    enum State : std::uint8_t { Unseen, Expanding, Done };

    bool readTrailer();
    bool locate(std::uint64_t reference, std::uint64_t& offset);
    bool readCount(std::uint8_t marker, std::uint64_t& position, std::uint64_t& count);
    bool parseObject(std::uint64_t reference, unsigned depth, Value* out);
    bool parseString(std::uint64_t reference, std::string* out, const std::string_view* compareWith, bool* equal);
    bool parseContainer(std::uint64_t reference, std::uint8_t marker, std::uint64_t position, unsigned depth,
        Value* out, LookupTarget*);
    bool charge(std::uint64_t bytes);
    bool fail(const char* message);

    const std::uint8_t* m_bytes;
    std::size_t m_size;
    unsigned m_offsetSize { 0 };
    unsigned m_referenceSize { 0 };
    std::uint64_t m_objectCount { 0 };
    std::uint64_t m_topObject { 0 };
    std::uint64_t m_tableOffset { 0 };
    // How far each object has been read: cycles and containers referenced twice are refused.
    State* m_states { nullptr };
    State m_inlineStates[128];
    std::unique_ptr<State[]> m_heapStates;
    // What building the values may still allocate, so that shared strings cannot fan out. It is
    // counted when only validating too, so that a lookup fails exactly when a full read does.
    std::uint64_t m_budget;
    const char* m_error { nullptr };
    std::string m_scratch;
};

} // namespace Platform::Plist
