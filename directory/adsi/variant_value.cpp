#include "directory/adsi/variant_value.h"

#include <oleauto.h>

#include "directory/adsi/adsi_error.h"
#include "system/win32/com_types.h"
#include "system/win32/win32_text.h"

namespace directory::adsi {

VARIANT toVariant(const Value& value) {
    quill::win32::Variant out;
    VARIANT* v = out.get();
    switch (value.kind()) {
    case Value::Kind::Text: {
        const std::wstring wide = quill::win32::toWide(value.asText());
        v->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (!v->bstrVal)
            fail(E_OUTOFMEMORY, "property value");
        v->vt = VT_BSTR;
        break;
    }
    case Value::Kind::Int16:
        v->vt = VT_I2;
        v->iVal = static_cast<SHORT>(value.asInteger());
        break;
    case Value::Kind::Int32:
        v->vt = VT_I4;
        v->lVal = static_cast<LONG>(value.asInteger());
        break;
    case Value::Kind::Boolean:
        v->vt = VT_BOOL;
        v->boolVal = value.asBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case Value::Kind::Array: {
        const auto& items = value.asArray();
        SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
        if (!array)
            fail(E_OUTOFMEMORY, "property value");
        v->vt = VT_ARRAY | VT_VARIANT;
        v->parray = array; // owned by `out` from here, so a failure below frees it
        for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
            quill::win32::Variant item;
            *item.get() = toVariant(items[static_cast<std::size_t>(i)]);
            check(SafeArrayPutElement(array, &i, item.get()), "property value"); // copies the element
        }
        break;
    }
    }
    return out.release();
}

} // namespace directory::adsi
