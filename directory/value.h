#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace directory {

// What a property write by name carries: the automation variant types the program uses.
class Value {
public:
    enum class Kind { Text, Int16, Int32, Boolean, Array };

    static Value text(std::string s);
    static Value int16(std::int16_t v);
    static Value int32(std::int32_t v);
    static Value boolean(bool v);
    static Value array(std::vector<Value> items);

    Kind kind() const noexcept { return m_kind; }
    bool isInteger() const noexcept { return m_kind == Kind::Int16 || m_kind == Kind::Int32; }

    // Each accessor throws directory::Error (type mismatch) when the kind differs.
    const std::string& asText() const;
    std::int32_t asInteger() const; // Int16 or Int32
    bool asBoolean() const;
    const std::vector<Value>& asArray() const;

    // A readable form for diagnostics and tests, e.g. Text("User"), Int16(1), Array[Text("User")].
    std::string describe() const;

    bool operator==(const Value& other) const;

private:
    Kind m_kind = Kind::Text;
    std::string m_text;
    std::int32_t m_integer = 0;
    std::vector<Value> m_items;
};

} // namespace directory
