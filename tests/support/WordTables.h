// A table of an enum's words, checked: each word names one value and reads back as it.
#pragma once

#include "host/device/DriverProtocol.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <type_traits>

namespace TestSupport {

// EnumOrTable: an enum, for its Driver::Names, or a table of that shape.
template <typename EnumOrTable> void expectEveryWordReadsBack()
{
    using Table = std::conditional_t<std::is_enum_v<EnumOrTable>, Driver::Names<EnumOrTable>, EnumOrTable>;
    using E = Driver::TableEnum<Table>;
    std::set<std::string> seen;
    for (size_t i = 0; i <= size_t(Table::last); ++i) {
        std::string word = Driver::wordIn<Table>(E(i));
        EXPECT_TRUE(seen.insert(word).second) << word << " names two values";
        EXPECT_EQ(Driver::valueIn<Table>(word), E(i)) << word;
    }
    EXPECT_FALSE(Driver::valueIn<Table>("")) << "no value has an empty word";
}

} // namespace TestSupport
