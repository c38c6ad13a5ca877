#include "host/device/DriverProtocol.h"

#include "host/device/Words.h"

#include <charconv>
#include <map>
#include <type_traits>

namespace Driver {

namespace {

template<typename T> struct IsOptional : std::false_type { };
template<typename T> struct IsOptional<std::optional<T>> : std::true_type { };
// Optional text is a value of its own on the wire (`-` for nil); other optionals are left out when absent.
template<typename T> constexpr bool leftOutWhenAbsent = IsOptional<T>::value && !std::is_same_v<T, std::optional<std::string>>;

constexpr char hexDigits[] = "0123456789abcdef";

void put(std::string& out, const std::string& text)
{
    out += 'x';
    for (unsigned char byte : text) {
        out += hexDigits[byte >> 4];
        out += hexDigits[byte & 15];
    }
}
void put(std::string& out, const std::optional<std::string>& text)
{
    if (text)
        put(out, *text);
    else
        out += '-';
}
void put(std::string& out, bool value) { out += Device::yesNo(value); }
void put(std::string& out, double value) { out += Device::realText(value); }
void put(std::string& out, const Platform::SystemVersion& version)
{
    out += std::to_string(version.major) + '.' + std::to_string(version.minor) + '.' + std::to_string(version.patch);
}
void put(std::string& out, const std::vector<std::optional<std::string>>& texts)
{
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i)
            out += ',';
        put(out, texts[i]);
    }
}
template<typename T> requires std::is_integral_v<T> void put(std::string& out, T value) { out += std::to_string(value); }
template<Named T> void put(std::string& out, T value) { out += name(value); }

bool get(std::string_view word, std::optional<std::string>& text)
{
    if (word == "-") {
        text.reset();
        return true;
    }
    if (word.empty() || word[0] != 'x' || word.size() % 2 != 1)
        return false;
    auto digit = [](char character) -> int {
        if (character >= '0' && character <= '9')
            return character - '0';
        if (character >= 'a' && character <= 'f')
            return character - 'a' + 10;
        return -1;
    };
    std::string decoded;
    for (size_t i = 1; i + 1 < word.size(); i += 2) {
        int high = digit(word[i]);
        int low = digit(word[i + 1]);
        if (high < 0 || low < 0)
            return false;
        decoded += char(high << 4 | low);
    }
    text = std::move(decoded);
    return true;
}
bool get(std::string_view word, std::string& text)
{
    std::optional<std::string> decoded;
    if (!get(word, decoded) || !decoded)
        return false;
    text = std::move(*decoded);
    return true;
}
bool get(std::string_view word, bool& value)
{
    auto read = Device::yesNo.read(word);
    value = read.value_or(false);
    return bool(read);
}
bool get(std::string_view word, double& value)
{
    auto parsed = Device::parseReal(word);
    value = parsed.value_or(0);
    return bool(parsed);
}
bool get(std::string_view word, Platform::SystemVersion& version) { return Platform::parseSystemVersion(word, version); }
bool get(std::string_view word, std::vector<std::optional<std::string>>& texts)
{
    texts.clear();
    if (word.empty())
        return true;
    size_t start = 0;
    while (true) {
        size_t comma = word.find(',', start);
        std::optional<std::string> text;
        if (!get(word.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start), text))
            return false;
        texts.push_back(std::move(text));
        if (comma == std::string_view::npos)
            return true;
        start = comma + 1;
    }
}
template<typename T> requires std::is_integral_v<T> bool get(std::string_view word, T& value)
{
    auto parsed = Device::parseInteger<T>(word);
    value = parsed.value_or(0);
    return bool(parsed);
}
template<Named T> bool get(std::string_view word, T& value)
{
    auto read = named<T>(word);
    if (read)
        value = *read;
    return bool(read);
}

class Writer {
public:
    explicit Writer(std::string_view tag)
        : m_line(tag)
    {
    }
    template<typename T> void operator()(const char* key, const T& value)
    {
        if constexpr (leftOutWhenAbsent<T>) {
            if (value)
                write(key, *value);
        } else
            write(key, value);
    }
    std::string take() { return std::move(m_line); }

private:
    template<typename T> void write(const char* key, const T& value)
    {
        m_line += ' ';
        m_line += key;
        m_line += '=';
        put(m_line, value);
    }
    std::string m_line;
};

class Reader {
public:
    explicit Reader(const std::map<std::string_view, std::string_view>& values)
        : m_values(values)
    {
    }
    template<typename T> void operator()(const char* key, T& value)
    {
        auto found = m_values.find(key);
        m_used += found != m_values.end();
        if constexpr (leftOutWhenAbsent<T>) {
            if (found == m_values.end()) {
                value.reset();
                return;
            }
            typename T::value_type inner {};
            m_ok = m_ok && get(found->second, inner);
            value = std::move(inner);
        } else
            m_ok = m_ok && found != m_values.end() && get(found->second, value);
    }
    // Every field read, and no field the message does not have.
    bool ok() const { return m_ok && m_used == m_values.size(); }

private:
    const std::map<std::string_view, std::string_view>& m_values;
    bool m_ok { true };
    size_t m_used { 0 };
};

template<typename Message> std::string encodeMessage(const Message& message)
{
    Writer writer(Message::tag);
    // fields() names each member once for both directions; through a Writer it only reads them.
    const_cast<Message&>(message).fields(writer);
    return writer.take();
}

struct Parsed {
    std::string_view tag;
    std::vector<std::string_view> words; // after the tag
};

Parsed splitLine(std::string_view line)
{
    Parsed parsed;
    size_t start = 0;
    bool first = true;
    while (start <= line.size()) {
        size_t space = line.find(' ', start);
        auto word = line.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start);
        if (first)
            parsed.tag = word;
        else
            parsed.words.push_back(word);
        first = false;
        if (space == std::string_view::npos)
            break;
        start = space + 1;
    }
    return parsed;
}

template<typename Message> std::optional<Message> decodeMessage(const std::vector<std::string_view>& words)
{
    std::map<std::string_view, std::string_view> values;
    for (auto word : words) {
        size_t equals = word.find('=');
        if (equals == std::string_view::npos || !values.emplace(word.substr(0, equals), word.substr(equals + 1)).second)
            return std::nullopt;
    }
    Message message;
    Reader reader(values);
    message.fields(reader);
    if (!reader.ok())
        return std::nullopt;
    return message;
}

template<typename Variant, size_t Index = 0>
std::optional<Variant> decodeAlternative(std::string_view tag, const std::vector<std::string_view>& words)
{
    if constexpr (Index == std::variant_size_v<Variant>)
        return std::nullopt;
    else {
        using Alternative = std::variant_alternative_t<Index, Variant>;
        if (tag == Alternative::tag) {
            if (auto message = decodeMessage<Alternative>(words))
                return Variant(std::move(*message));
            return std::nullopt;
        }
        return decodeAlternative<Variant, Index + 1>(tag, words);
    }
}

constexpr std::string_view eventTag = "event";

} // namespace

Request toRequest(const DeviceCommand& command)
{
    return std::visit([](const auto& alternative) { return Request(alternative); }, command);
}

std::string attemptText(const std::optional<std::string>& passcode, bool mesa, bool finish, std::optional<bool> result)
{
    std::string text = "attempt passcode=" + Device::displayWord(passcode) + " mesa=" + Device::yesNo(mesa)
        + " finish=" + Device::yesNo(finish);
    if (result)
        text += std::string(" result=") + Device::yesNo(*result);
    return text;
}

std::string decisionText(Decision::Outcome outcome, std::optional<Decision::Reason> reason)
{
    std::string text = std::string("decision outcome=") + name(outcome);
    if (reason)
        text += std::string(" reason=") + name(*reason);
    return text;
}

std::string timelineText(const Event& event)
{
    struct Text {
        std::string operator()(const AttemptCall& attempt) const
        {
            return attemptText(attempt.passcode, attempt.mesa, attempt.finish, attempt.result);
        }
        std::string operator()(const BiometricCall& call) const { return std::string("biometric ") + name(call.kind); }
        std::string operator()(const Decision& decision) const
        {
            return decisionText(decision.outcome, decision.givenReason());
        }
        std::string operator()(const DelayedUnlock& delayed) const
        {
            return std::string("delayed-unlock ") + name(delayed.result);
        }
        std::string operator()(const Note& note) const { return note.text; }
    };
    return std::visit(Text {}, event);
}

std::string encode(const Boot& boot) { return encodeMessage(boot); }

std::string encode(const Request& request)
{
    return std::visit([](const auto& message) { return encodeMessage(message); }, request);
}

std::string encode(const Upstream& message)
{
    if (auto* stamped = std::get_if<StampedEvent>(&message)) {
        return std::string(eventTag) + ' ' + std::to_string(stamped->stamp) + ' '
            + std::visit([](const auto& event) { return encodeMessage(event); }, stamped->event);
    }
    return std::visit([](const auto& alternative) -> std::string {
        if constexpr (std::is_same_v<std::decay_t<decltype(alternative)>, StampedEvent>)
            return {};
        else
            return encodeMessage(alternative);
    }, message);
}

std::optional<Boot> decodeBoot(std::string_view line)
{
    auto parsed = splitLine(line);
    if (parsed.tag != Boot::tag)
        return std::nullopt;
    return decodeMessage<Boot>(parsed.words);
}

std::optional<Request> decodeRequest(std::string_view line)
{
    auto parsed = splitLine(line);
    return decodeAlternative<Request>(parsed.tag, parsed.words);
}

std::optional<Upstream> decodeUpstream(std::string_view line)
{
    auto parsed = splitLine(line);
    if (parsed.tag == eventTag) {
        if (parsed.words.size() < 2)
            return std::nullopt;
        int64_t stamp = 0;
        if (!get(parsed.words[0], stamp))
            return std::nullopt;
        std::vector<std::string_view> rest(parsed.words.begin() + 2, parsed.words.end());
        auto event = decodeAlternative<Event>(parsed.words[1], rest);
        if (!event)
            return std::nullopt;
        return Upstream(StampedEvent { stamp, std::move(*event) });
    }
    using Plain = std::variant<Done, Refused, DeviceState, Drained, ChildExited>;
    auto plain = decodeAlternative<Plain>(parsed.tag, parsed.words);
    if (!plain)
        return std::nullopt;
    return std::visit([](auto& alternative) { return Upstream(std::move(alternative)); }, *plain);
}

} // namespace Driver
