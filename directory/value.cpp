#include "value.h"

#include "error.h"

namespace directory {

namespace {
[[noreturn]] void typeMismatch() {
    throw Error(static_cast<long>(0x80020005L), "型が一致しません。"); // DISP_E_TYPEMISMATCH
}
} // namespace

Value Value::text(std::string s) {
    Value v;
    v.m_kind = Kind::Text;
    v.m_text = std::move(s);
    return v;
}

Value Value::int16(std::int16_t i) {
    Value v;
    v.m_kind = Kind::Int16;
    v.m_integer = i;
    return v;
}

Value Value::int32(std::int32_t i) {
    Value v;
    v.m_kind = Kind::Int32;
    v.m_integer = i;
    return v;
}

Value Value::boolean(bool b) {
    Value v;
    v.m_kind = Kind::Boolean;
    v.m_integer = b ? 1 : 0;
    return v;
}

Value Value::array(std::vector<Value> items) {
    Value v;
    v.m_kind = Kind::Array;
    v.m_items = std::move(items);
    return v;
}

const std::string& Value::asText() const {
    if (m_kind != Kind::Text)
        typeMismatch();
    return m_text;
}

std::int32_t Value::asInteger() const {
    if (!isInteger())
        typeMismatch();
    return m_integer;
}

bool Value::asBoolean() const {
    if (m_kind != Kind::Boolean)
        typeMismatch();
    return m_integer != 0;
}

const std::vector<Value>& Value::asArray() const {
    if (m_kind != Kind::Array)
        typeMismatch();
    return m_items;
}

std::string Value::describe() const {
    switch (m_kind) {
    case Kind::Text:
        return "Text(\"" + m_text + "\")";
    case Kind::Int16:
        return "Int16(" + std::to_string(m_integer) + ")";
    case Kind::Int32:
        return "Int32(" + std::to_string(m_integer) + ")";
    case Kind::Boolean:
        return m_integer ? "Boolean(true)" : "Boolean(false)";
    case Kind::Array: {
        std::string out = "Array[";
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (i)
                out += ", ";
            out += m_items[i].describe();
        }
        return out + "]";
    }
    }
    return {};
}

bool Value::operator==(const Value& other) const {
    return m_kind == other.m_kind && m_text == other.m_text && m_integer == other.m_integer && m_items == other.m_items;
}

} // namespace directory
