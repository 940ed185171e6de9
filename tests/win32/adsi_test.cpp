#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/win32/win32_operator.h"
#include "directory/adsi/adsi_error.h"
#include "directory/adsi/adsi_service.h"
#include "directory/adsi/enum_variant.h"
#include "directory/adsi/variant_value.h"
#include "directory/adsi_control.h"
#include "system/win32/com_types.h"
#include "system/win32/win32_text.h"

namespace {

using directory::Value;
using quill::win32::systemMessage;
using quill::win32::Variant;

// WinNT has no provider under wine, so every bind fails there: the failure paths are what can run.
class AdsiBind : public testing::TestWithParam<const char*> {};

TEST_P(AdsiBind, FailsWithAnHresultAndItsText) {
    directory::adsi::AdsiService service;
    try {
        service.bind(GetParam());
        FAIL() << "bound " << GetParam();
    } catch (const directory::Error& e) {
        EXPECT_LT(e.number(), 0);
        EXPECT_NE(e.description().find(GetParam()), std::string::npos) << e.description();
        EXPECT_GT(e.description().size(), std::string(GetParam()).size() + 8) << e.description();
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AdsiBind,
                         testing::Values("WinNT://WORKGROUP", "WinNT://NOWHERE-QM/jdoe,User", "WinNT:///jdoe,User",
                                         "WinNT://NOWHERE-QM/jdoe", "not a path"));

// Answers questions itself (Yes) and hands the pointer to the real operator.
class YesOperator final : public quill::Operator {
public:
    int messageBox(const std::string&, int, const std::optional<std::string>&) override {
        return quill::msgbox::kAnswerYes;
    }
    void setBusy(bool busy) override {
        ++switches;
        real.setBusy(busy);
        sawWait = sawWait || (busy && GetCursor() == LoadCursorW(nullptr, IDC_WAIT));
    }
    void reportEscapedError(long, const std::string&) override {}
    quill::win32::Win32Operator real;
    int switches = 0;
    bool sawWait = false;
};

TEST(AdsiControlOnThisPlatform, UnreachableAccountGivesFalseOrEmptyWithTheArrowRestored) {
    directory::adsi::AdsiService service;
    YesOperator person;
    directory::ADSIControl control(service, person);
    control.setTargetDomainServer("NOWHERE-QM");
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);

    EXPECT_EQ(control.Descriptioner("jdoe"), "");
    EXPECT_FALSE(control.AccountLCOpen("jdoe"));
    EXPECT_FALSE(control.AccountDisabled("jdoe", false));
    EXPECT_FALSE(control.PasswordReset("jdoe", directory::Secret("Secret-1")));
    EXPECT_FALSE(control.ChangeChineseCharacter("jdoe", "説明"));
    EXPECT_FALSE(control.acGroubalGroupGet("jdoe"));
    EXPECT_FALSE(control.AddGlobalGroup("jdoe", "Staff"));
    EXPECT_EQ(person.switches, 14);
    EXPECT_TRUE(person.sawWait);
    EXPECT_FALSE(person.real.busy());
    EXPECT_EQ(GetCursor(), arrow);
}

TEST(AdsiErrors, FailingHresultsCarryTheSystemsText) {
    try {
        directory::adsi::check(E_ACCESSDENIED, "SetInfo");
        FAIL();
    } catch (const directory::Error& e) {
        EXPECT_EQ(e.number(), static_cast<long>(0x80070005L));
        EXPECT_EQ(e.description().rfind("SetInfo: ", 0), 0u);
        EXPECT_GT(e.description().size(), std::string("SetInfo: ").size());
        EXPECT_EQ(e.description().find("HRESULT"), std::string::npos) << e.description();
    }
    EXPECT_NO_THROW(directory::adsi::check(S_OK, "x"));
    EXPECT_NO_THROW(directory::adsi::check(S_FALSE, "x"));
}

// Wine has no netmsg.dll: what it says for a NetAPI error is the fallback. With a stand-in where
// Windows keeps the real one (this program, netmsg_stand_in.rc its message table), NetAPI errors,
// and only they, take their texts from it.
TEST(AdsiErrors, NetApiErrorsAreDescribedFromNetmsg) {
    wchar_t path[MAX_PATH] = {};
    GetSystemDirectoryW(path, MAX_PATH);
    const std::wstring netmsg = std::wstring(path) + L"\\netmsg.dll";
    if (GetFileAttributesW(netmsg.c_str()) != INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "this system has its own netmsg.dll";
    const std::string fallback = systemMessage(static_cast<long>(0x80070834L));
    ASSERT_TRUE(GetModuleFileNameW(nullptr, path, MAX_PATH) && CopyFileW(path, netmsg.c_str(), TRUE));
    // 2099 is below the NetAPI's range, 0x8004xxxx not the Win32 facility, 2500 described by neither.
    const std::pair<unsigned long, const char*> rows[] = {{0x80070834ul, "fake 2100"},
                                                          {0x80070BB7ul, "fake 2999"},
                                                          {2100ul, "fake 2100"},
                                                          {0x80070833ul, "HRESULT 0x80070833"},
                                                          {0x80040834ul, "HRESULT 0x80040834"},
                                                          {0x800709C4ul, "HRESULT 0x800709C4"}};
    for (const auto& [hresult, text] : rows)
        EXPECT_EQ(systemMessage(static_cast<long>(hresult)), text) << std::hex << hresult;
    DeleteFileW(netmsg.c_str());
    EXPECT_EQ(systemMessage(static_cast<long>(0x80070834L)), fallback);
}

// Numbers 0..count-1 as VT_I4, as many per Next as asked, the last batch with S_FALSE; a Next
// from failAt on fails. COM objects end through Release, never a destructor call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct NumberEnum final : IEnumVARIANT {
    NumberEnum(ULONG count, ULONG failAt = ~0ul) : count(count), failAt(failAt) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* items, ULONG* fetched) override {
        asked.push_back(celt);
        for (*fetched = 0; next < failAt && *fetched < celt && next < count; ++*fetched, ++next)
            items[*fetched].vt = VT_I4, items[*fetched].lVal = static_cast<LONG>(next);
        return next >= failAt ? E_ACCESSDENIED : *fetched == celt ? S_OK : S_FALSE;
    }
    ULONG count, failAt, next = 0;
    std::vector<ULONG> asked;
};
#pragma GCC diagnostic pop

TEST(AdsiEnumeration, EveryItemInOrderAHundredPerCallTheLastBatchIncluded) {
    LONG expected = 0;
    const auto inOrder = [&](VARIANT& item) { EXPECT_EQ(item.lVal, expected++); };
    for (const ULONG count : {0ul, 1ul, 99ul, 100ul, 101ul, 250ul}) {
        NumberEnum items(count);
        expected = 0;
        directory::adsi::forEachVariant(items, inOrder, "list");
        EXPECT_EQ(expected, static_cast<LONG>(count));
        EXPECT_EQ(items.asked, std::vector<ULONG>(count / 100 + 1, 100ul)) << count;
    }
    NumberEnum failing(250, 200);
    expected = 0;
    EXPECT_THROW(directory::adsi::forEachVariant(failing, inOrder, "list"), directory::Error);
}

struct VariantRow {
    const char* name;
    Value value;
    VARTYPE type;
};

// Rows print as their names in test listings.
void PrintTo(const VariantRow& row, std::ostream* out) {
    *out << row.name;
}

class ValueVariant : public testing::TestWithParam<VariantRow> {};

TEST_P(ValueVariant, CarriesTheAutomationType) {
    Variant v;
    *v.get() = directory::adsi::toVariant(GetParam().value);
    EXPECT_EQ(v.get()->vt, GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ValueVariant,
                         testing::Values(VariantRow{"Text", Value::text("2027/1/25"), VT_BSTR},
                                         VariantRow{"Int16", Value::int16(1), VT_I2},
                                         VariantRow{"Int32", Value::int32(1), VT_I4},
                                         VariantRow{"Boolean", Value::boolean(true), VT_BOOL},
                                         VariantRow{"Array", Value::array({Value::text("User")}),
                                                    static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT)}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ValueVariantContents, ScalarsKeepTheirValues) {
    Variant text, small, large, yes, no;
    *text.get() = directory::adsi::toVariant(Value::text("経理 部"));
    *small.get() = directory::adsi::toVariant(Value::int16(-2));
    *large.get() = directory::adsi::toVariant(Value::int32(2147483647));
    *yes.get() = directory::adsi::toVariant(Value::boolean(true));
    *no.get() = directory::adsi::toVariant(Value::boolean(false));
    EXPECT_EQ(std::wstring(text.get()->bstrVal, SysStringLen(text.get()->bstrVal)), L"経理 部");
    EXPECT_EQ(small.get()->iVal, -2);
    EXPECT_EQ(large.get()->lVal, 2147483647);
    EXPECT_EQ(yes.get()->boolVal, VARIANT_TRUE);
    EXPECT_EQ(no.get()->boolVal, VARIANT_FALSE);
}

TEST(ValueVariantContents, ArraysAreZeroBasedVariantsInOrderAndNest) {
    Variant v;
    *v.get() = directory::adsi::toVariant(
        Value::array({Value::text("User"), Value::int32(7), Value::array({Value::boolean(true)})}));
    SAFEARRAY* array = v.get()->parray;
    ASSERT_EQ(SafeArrayGetDim(array), 1u);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
    std::vector<Variant> items(3);
    for (LONG i = 0; i < 3; ++i)
        ASSERT_EQ(SafeArrayGetElement(array, &i, items[static_cast<std::size_t>(i)].get()), S_OK);
    EXPECT_EQ(items[0].get()->vt, VT_BSTR);
    EXPECT_STREQ(items[0].get()->bstrVal, L"User");
    EXPECT_EQ(items[1].get()->vt, VT_I4);
    EXPECT_EQ(items[1].get()->lVal, 7);
    EXPECT_EQ(items[2].get()->vt, VT_ARRAY | VT_VARIANT);
    Variant inner;
    LONG zero = 0;
    ASSERT_EQ(SafeArrayGetElement(items[2].get()->parray, &zero, inner.get()), S_OK);
    EXPECT_EQ(inner.get()->vt, VT_BOOL);
}

} // namespace
