#include "PlistTestSupport.h"

#include <cstring>

using namespace Platform::Plist;
using PlistTest::ScratchDirectory;

// Python's plistlib is the reference. Both sides print the same canonical dump, so values are
// compared exactly: reals and dates by their bits, strings and data as hex bytes. (No -0.0 in
// the sample: plistlib's binary writer merges it with 0.0.)
static const char* referenceScript = R"PY(
import datetime, plistlib, struct, sys

def dump(v):
    if isinstance(v, bool): return "true" if v else "false"
    if isinstance(v, int): return "i:%d" % v
    if isinstance(v, float): return "r:" + struct.pack(">d", v).hex()
    if isinstance(v, str): return "s:" + v.encode().hex()
    if isinstance(v, bytes): return "d:" + v.hex()
    if isinstance(v, datetime.datetime):
        return "t:" + struct.pack(">d", (v - datetime.datetime(2001, 1, 1)).total_seconds()).hex()
    if isinstance(v, plistlib.UID): return "u:%d" % v.data
    if isinstance(v, list): return "[" + ",".join(dump(x) for x in v) + "]"
    if isinstance(v, dict):
        keys = sorted(v, key=lambda k: k.encode())
        return "{" + ",".join(k.encode().hex() + "=" + dump(v[k]) for k in keys) + "}"
    raise TypeError(type(v))

D = datetime.datetime
sample = {
    "booleans": [True, False],
    "integers": [0, 1, -1, 255, 256, 65535, 65536, 2**31, 2**32, 2**63 - 1, -2**63, 2**63, 2**64 - 1, -300],
    "reals": [0.0, 0.5, 0.1, 1e300, -2.5e-300, 5e-324, float("inf"), float("-inf"), float("nan")],
    "strings": ["", "plain", "<&>\"'", "h\u00e9llo", "\u65e5\u672c\u8a9e", "\U0001F600 beyond the BMP", "tab\tand\nnewline", "x" * 300],
    "data": [b"", b"\x00\xff" * 100],
    "dates": [D(2001, 1, 1), D(1970, 1, 1), D(2038, 1, 19, 3, 14, 8), D(1, 1, 1), D(9999, 12, 31, 23, 59, 59)],
    "nested": {"a": [{"b": [[]]}], "empty dict": {}, "empty array": [], "deep": [[[[["bottom"]]]]]},
    "\u043a\u043b\u044e\u0447": "unicode key",
}

command, path = sys.argv[1], sys.argv[2]
if command == "write":
    with open(path + "/sample.xml", "wb") as f:
        plistlib.dump(sample, f, fmt=plistlib.FMT_XML)
    with open(path + "/sample.bplist", "wb") as f:
        plistlib.dump(dict(sample, archive=[plistlib.UID(0), plistlib.UID(300), plistlib.UID(2**40)]), f, fmt=plistlib.FMT_BINARY)
    with open(path + "/many.bplist", "wb") as f:
        plistlib.dump({"k%04d" % i: [i, "v%d" % i] for i in range(1000)}, f, fmt=plistlib.FMT_BINARY)
    with open(path + "/many.xml", "wb") as f:
        plistlib.dump({"k%04d" % i: [i, "v%d" % i] for i in range(1000)}, f, fmt=plistlib.FMT_XML)
    print(dump(sample))
else:
    with open(path, "rb") as f:
        print(dump(plistlib.load(f)))
)PY";

static std::string hex(const void* bytes, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        auto byte = static_cast<const unsigned char*>(bytes)[i];
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

static std::string hexOfDouble(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    unsigned char bigEndian[8];
    for (int i = 0; i < 8; ++i)
        bigEndian[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    return hex(bigEndian, 8);
}

static std::string dump(const Value& value)
{
    switch (value.kind()) {
    case Kind::Boolean:
        return value.boolValue() ? "true" : "false";
    case Kind::Integer:
        return "i:"
            + (value.isLargeUnsigned() ? std::to_string(value.unsignedIntegerValue())
                                       : std::to_string(value.integerValue()));
    case Kind::Real:
        return "r:" + hexOfDouble(value.doubleValue());
    case Kind::String:
        return "s:" + hex(value.asString()->data(), value.asString()->size());
    case Kind::Data:
        return "d:" + hex(value.asData()->data(), value.asData()->size());
    case Kind::Date:
        return "t:" + hexOfDouble(value.asDate()->secondsSinceReferenceDate);
    case Kind::Uid:
        return "u:" + std::to_string(*value.asUid());
    case Kind::Array: {
        std::string out = "[";
        for (auto& element : *value.asArray())
            out += (out.size() > 1 ? "," : "") + dump(element);
        return out + "]";
    }
    case Kind::Dictionary: {
        std::string out = "{";
        for (auto& [key, element] : *value.asDictionary())
            out += (out.size() > 1 ? "," : "") + hex(key.data(), key.size()) + "=" + dump(element);
        return out + "}";
    }
    }
    return {};
}

class PlistRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        int status = 0;
        m_expected = PlistTest::runPython(m_scratch, referenceScript, "write " + m_scratch.path(), status);
        ASSERT_EQ(status, 0) << "python3 with plistlib is needed";
        while (!m_expected.empty() && m_expected.back() == '\n')
            m_expected.pop_back();
    }
    std::string pythonDump(const std::string& path)
    {
        int status = 0;
        std::string output = PlistTest::runPython(m_scratch, referenceScript, "dump " + path, status);
        EXPECT_EQ(status, 0);
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        return output;
    }

    ScratchDirectory m_scratch;
    std::string m_expected;
};

// Files plistlib writes, XML and binary, read to the same values.
TEST_F(PlistRoundTrip, ReadsWhatPlistlibWrites)
{
    ReadResult xml = readFile(m_scratch.path("sample.xml"));
    ASSERT_TRUE(xml.ok()) << xml.reason;
    EXPECT_EQ(dump(xml.value), m_expected);

    ReadResult binary = readFile(m_scratch.path("sample.bplist"));
    ASSERT_TRUE(binary.ok()) << binary.reason;
    EXPECT_EQ(dump(binary.value), pythonDump(m_scratch.path("sample.bplist")));
    Value withoutArchive = binary.value;
    withoutArchive.asDictionary()->remove("archive");
    EXPECT_EQ(dump(withoutArchive), m_expected);

    for (auto name : { "many.xml", "many.bplist" }) {
        ReadResult many = readFile(m_scratch.path(name));
        ASSERT_TRUE(many.ok()) << name << ": " << many.reason;
        EXPECT_EQ(dump(many.value), pythonDump(m_scratch.path(name))) << name;
        EXPECT_EQ(lookup(m_scratch.path(name), "k0999").value, *many.value.asDictionary()->find("k0999"));
    }
}

// Files our writer writes read back in plistlib to the same values.
TEST_F(PlistRoundTrip, PlistlibReadsWhatWeWrite)
{
    ReadResult binary = readFile(m_scratch.path("sample.bplist"));
    ASSERT_TRUE(binary.ok()) << binary.reason;
    binary.value.asDictionary()->remove("archive");
    std::string ours = m_scratch.path("ours.plist");
    ASSERT_TRUE(writeFileAtomically(ours, binary.value));
    EXPECT_EQ(pythonDump(ours), m_expected);
}
