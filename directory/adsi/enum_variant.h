#pragma once

#include <windows.h>

#include <oaidl.h>

#include <functional>
#include <string_view>

namespace directory::adsi {

// Items asked for per IEnumVARIANT::Next: a 50,000-account domain is then 500 calls, not 50,000.
inline constexpr ULONG kEnumerationBatch = 100;

// Hands every item of the enumerator to visit, in order, fetched kEnumerationBatch at a time; each
// item is cleared after its visit, and the rest of a batch when a visit throws. A failing Next
// throws directory::Error naming step.
void forEachVariant(IEnumVARIANT& items, const std::function<void(VARIANT&)>& visit, std::string_view step);

} // namespace directory::adsi
