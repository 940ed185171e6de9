#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "operator.h"
#include "service.h"

namespace directory {

// One user of the in-memory user table. Booleans read back as "True"/"False".
struct ADUserRecord {
    bool AccountDisabled = false;
    bool IsAccountLocked = false;
    std::string Class;
    std::string Description;
    std::string FullName;
    std::string Name;
    std::string Profile;
    std::string HomeDirectory;
    std::string PasswordExpirationDate;
    std::int16_t PasswordMinimumLength = 0;
    bool PasswordRequired = false;
    std::string ADsPath;
    std::string Schema;
};

struct ADGroupRecord {
    std::string Name;
    std::string Description;
};

// A growable array with its own lower bound; absent until filled.
template <class Record> struct BoundedTable {
    std::int32_t lowerBound = 0;
    std::vector<Record> records;
    std::int32_t upperBound() const { return lowerBound + static_cast<std::int32_t>(records.size()) - 1; }
};

// The account operations of the window, on one target. Operations that touch the directory trap
// every directory::Error and answer False or the empty text; the table and group-list readers raise
// quill::RuntimeError 9 (subscript out of range) or 6 (overflow) to their caller.
class ADSIControl {
public:
    ADSIControl(Service& service, quill::Operator& op);

    // 1, 2
    void setTargetDomainServer(std::string TargetName);
    const std::string& TargetDomainServer() const noexcept { return m_target; }
    // 3: upper bound of the user table.
    std::int32_t ADCount() const;
    // 4: one field of the user at an index or with a name; "False" when there is none.
    std::string PickUserData(const std::string& NumberOrAccount, const std::string& PickType) const;
    // 5: upper bound of the group table.
    std::int32_t GroupCount() const;
    // 6
    std::string PickGroupData(std::int32_t GroupNum, const std::string& DataType) const;
    // 7: highest line number of acGGpList, -1 when empty.
    std::int32_t acGGpCount() const;
    // 8: "Name" or "Description" of one line of acGGpList, else "".
    std::string acGGpName(std::int32_t GroupNumber, const std::string& DataType) const;
    // 9: reads the account's groups into acGGpList.
    bool acGroubalGroupGet(const std::string& Account);
    // 10
    bool AccountDisabled(const std::string& Account, bool acDisabled = true);
    // 11
    bool AccountLCOpen(const std::string& Account);
    // 12, 13: membership changes act at once, without SetInfo.
    bool AddGlobalGroup(const std::string& TargetAccount, const std::string& AddingGroupName);
    bool DelGlobalGroup(const std::string& TargetAccount, const std::string& AddingGroupName);
    // 14: asks the operator first; a blank password sets none but still forces a change at next logon.
    // An account whose password never expires is refused before anything is written.
    bool PasswordReset(const std::string& Account, const Secret& NewPassword = Secret());
    // 15
    bool ChangeChineseCharacter(const std::string& Account, const std::string& ChangingTo);
    // 16: description + " 無効"/" 有効" [+ " ロック"], or "" on any failure.
    std::string Descriptioner(const std::string& Account);

    // The tables start absent; callers that have records fill them here.
    void setUserTable(std::vector<ADUserRecord> records, std::int32_t lowerBound = 0);
    void setGroupTable(std::vector<ADGroupRecord> records, std::int32_t lowerBound = 0);
    const std::string& groupList() const noexcept { return m_acGGpList; }

private:
    std::unique_ptr<User> bindUser(const std::string& account);
    bool changeMembership(const std::string& account, const std::string& group, bool adding);
    void forgetGroupList();
    const std::vector<std::pair<std::size_t, std::size_t>>& groupLines() const;

    Service& m_service;
    quill::Operator& m_operator;
    std::optional<BoundedTable<ADUserRecord>> m_ADUserTable;
    std::optional<BoundedTable<ADGroupRecord>> m_ADGroupTable;
    std::string m_target;
    std::string m_acGGpList;
    // Where the list's lines start and end, found once on the first read after the list changed:
    // reading every line of a long list stays linear. Offsets, not views, so copies stay right.
    mutable std::vector<std::pair<std::size_t, std::size_t>> m_acGGpLines;
    mutable bool m_acGGpLinesValid = false;
};

} // namespace directory
