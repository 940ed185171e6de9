#include "adsi_control.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>

#include "object_path.h"

namespace directory {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kFieldSeparator = "/*s*/";

[[noreturn]] void subscriptOutOfRange() {
    throw quill::RuntimeError(quill::errors::kSubscriptOutOfRange, "Subscript out of range");
}

[[noreturn]] void overflow() {
    throw quill::RuntimeError(quill::errors::kOverflow, "Overflow");
}

// The classic Split: the empty text gives no pieces; otherwise every separator splits.
std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    if (text.empty())
        return pieces;
    for (;;) {
        const auto at = text.find(separator);
        pieces.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return pieces;
        text.remove_prefix(at + separator.size());
    }
}

// Piece number index of the classic Split, picked without building the array.
std::string_view pieceAt(std::string_view text, std::string_view separator, std::int32_t index) {
    if (text.empty() || index < 0)
        subscriptOutOfRange();
    for (std::int32_t i = 0;; ++i) {
        const auto at = text.find(separator);
        if (i == index)
            return text.substr(0, at);
        if (at == std::string_view::npos)
            subscriptOutOfRange();
        text.remove_prefix(at + separator.size());
    }
}

const char* boolText(bool b) {
    return b ? "True" : "False";
}

// The locale-aware "is it a number" test, for the forms an administrator types: optional sign,
// digits with an optional fraction and exponent, full-width forms folded to half-width, spaces at
// the ends ignored. Returns the value when the text reads as a number.
std::optional<double> readsAsNumber(std::string_view text) {
    std::string narrow;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            narrow += static_cast<char>(c);
            ++i;
            continue;
        }
        // Full-width ASCII (U+FF01..U+FF5E) maps to U+0021..U+007E; U+3000 to a space.
        if (i + 3 <= text.size() && text.substr(i, 3) == "\xE3\x80\x80") {
            narrow += ' ';
            i += 3;
            continue;
        }
        if (i + 3 <= text.size() && (c == 0xEF)) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            // Only a well-formed sequence is a character: "\xEF<Q" is three bytes of no number.
            if ((b1 & 0xC0u) != 0x80u || (b2 & 0xC0u) != 0x80u)
                return std::nullopt;
            const unsigned code = ((c & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
            if (code >= 0xFF01 && code <= 0xFF5E) {
                narrow += static_cast<char>(code - 0xFF01 + 0x21);
                i += 3;
                continue;
            }
        }
        return std::nullopt;
    }
    const auto first = narrow.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    const auto last = narrow.find_last_not_of(' ');
    const std::string body = narrow.substr(first, last - first + 1);

    std::size_t pos = 0;
    if (body[pos] == '+' || body[pos] == '-')
        ++pos;
    std::size_t digits = 0;
    while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9')
        ++pos, ++digits;
    if (pos < body.size() && body[pos] == '.') {
        ++pos;
        while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9')
            ++pos, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (pos < body.size() && (body[pos] == 'e' || body[pos] == 'E')) {
        ++pos;
        if (pos < body.size() && (body[pos] == '+' || body[pos] == '-'))
            ++pos;
        std::size_t expDigits = 0;
        while (pos < body.size() && body[pos] >= '0' && body[pos] <= '9')
            ++pos, ++expDigits;
        if (expDigits == 0)
            return std::nullopt;
    }
    if (pos != body.size())
        return std::nullopt;
    return std::strtod(body.c_str(), nullptr);
}

// To a 32-bit whole number, a half going to the even neighbour.
std::int32_t toLong(double value) {
    const double rounded = std::nearbyint(value);
    if (!std::isfinite(rounded) || rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        overflow();
    return static_cast<std::int32_t>(rounded);
}

template <class Record> const Record& recordAt(const BoundedTable<Record>& table, std::int32_t index) {
    if (index < table.lowerBound || index > table.upperBound())
        subscriptOutOfRange();
    return table.records[static_cast<std::size_t>(index - table.lowerBound)];
}

using UserField = std::string (*)(const ADUserRecord&);
struct UserFieldEntry {
    std::string_view name;
    UserField read;
};

// In the record's field order: the first equal name wins.
const std::array<UserFieldEntry, 13> kUserFields{{
    {"AccountDisabled", [](const ADUserRecord& r) { return std::string(boolText(r.AccountDisabled)); }},
    {"IsAccountLocked", [](const ADUserRecord& r) { return std::string(boolText(r.IsAccountLocked)); }},
    {"Class", [](const ADUserRecord& r) { return r.Class; }},
    {"Description", [](const ADUserRecord& r) { return r.Description; }},
    {"FullName", [](const ADUserRecord& r) { return r.FullName; }},
    {"Name", [](const ADUserRecord& r) { return r.Name; }},
    {"Profile", [](const ADUserRecord& r) { return r.Profile; }},
    {"HomeDirectory", [](const ADUserRecord& r) { return r.HomeDirectory; }},
    {"PasswordExpirationDate", [](const ADUserRecord& r) { return r.PasswordExpirationDate; }},
    {"PasswordMinimumLength", [](const ADUserRecord& r) { return std::to_string(r.PasswordMinimumLength); }},
    {"PasswordRequired", [](const ADUserRecord& r) { return std::string(boolText(r.PasswordRequired)); }},
    {"ADsPath", [](const ADUserRecord& r) { return r.ADsPath; }},
    {"Schema", [](const ADUserRecord& r) { return r.Schema; }},
}};

// Blank means nothing but ordinary spaces: a tab or an ideographic space is a real password character.
bool holdsNonSpace(std::string_view text) {
    return text.find_first_not_of(' ') != std::string_view::npos;
}

} // namespace

ADSIControl::ADSIControl(Service& service, quill::Operator& op) : m_service(service), m_operator(op) {}

void ADSIControl::setTargetDomainServer(std::string TargetName) {
    m_target = std::move(TargetName);
}

std::int32_t ADSIControl::ADCount() const {
    if (!m_ADUserTable)
        subscriptOutOfRange();
    return m_ADUserTable->upperBound();
}

std::string ADSIControl::PickUserData(const std::string& NumberOrAccount, const std::string& PickType) const {
    std::int32_t index = 0;
    if (const auto number = readsAsNumber(NumberOrAccount)) {
        index = toLong(*number);
        if (!m_ADUserTable)
            subscriptOutOfRange();
        if (index > m_ADUserTable->upperBound())
            return "False";
    } else {
        if (!m_ADUserTable)
            subscriptOutOfRange();
        // Scans from the table's own lower bound, so a table not based at 0 is searched whole.
        std::optional<std::int32_t> found;
        for (std::int32_t i = m_ADUserTable->lowerBound; i <= m_ADUserTable->upperBound(); ++i) {
            if (recordAt(*m_ADUserTable, i).Name == NumberOrAccount) {
                found = i;
                break;
            }
        }
        if (!found)
            return "False";
        index = *found;
    }
    for (const auto& field : kUserFields) {
        if (field.name == PickType)
            return field.read(recordAt(*m_ADUserTable, index));
    }
    return "False";
}

std::int32_t ADSIControl::GroupCount() const {
    if (!m_ADGroupTable)
        subscriptOutOfRange();
    return m_ADGroupTable->upperBound();
}

std::string ADSIControl::PickGroupData(std::int32_t GroupNum, const std::string& DataType) const {
    if (DataType != "Name" && DataType != "Description")
        return "False";
    if (!m_ADGroupTable)
        subscriptOutOfRange();
    const ADGroupRecord& group = recordAt(*m_ADGroupTable, GroupNum);
    return DataType == "Name" ? group.Name : group.Description;
}

const std::vector<std::pair<std::size_t, std::size_t>>& ADSIControl::groupLines() const {
    if (!m_acGGpLinesValid) {
        m_acGGpLines.clear();
        for (const std::string_view line : split(m_acGGpList, kCrLf))
            m_acGGpLines.emplace_back(static_cast<std::size_t>(line.data() - m_acGGpList.data()), line.size());
        m_acGGpLinesValid = true;
    }
    return m_acGGpLines;
}

void ADSIControl::forgetGroupList() {
    m_acGGpList.clear();
    m_acGGpLinesValid = false;
}

std::int32_t ADSIControl::acGGpCount() const {
    return static_cast<std::int32_t>(groupLines().size()) - 1;
}

std::string ADSIControl::acGGpName(std::int32_t GroupNumber, const std::string& DataType) const {
    const auto& lines = groupLines();
    if (GroupNumber < 0 || static_cast<std::size_t>(GroupNumber) >= lines.size())
        subscriptOutOfRange();
    const auto [at, size] = lines[static_cast<std::size_t>(GroupNumber)];
    const std::string_view line = std::string_view(m_acGGpList).substr(at, size);
    if (DataType == "Name")
        return std::string(pieceAt(line, kFieldSeparator, 0));
    if (DataType == "Description")
        return std::string(pieceAt(line, kFieldSeparator, 1));
    return {};
}

std::unique_ptr<User> ADSIControl::bindUser(const std::string& account) {
    return as<User>(m_service.bind(userPath(m_target, account)));
}

bool ADSIControl::acGroubalGroupGet(const std::string& Account) {
    forgetGroupList();
    if (Account.empty())
        return false;
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(Account);
        user->groups([this](Group& group) {
            m_acGGpList += group.name();
            m_acGGpList += kFieldSeparator;
            m_acGGpList += group.description();
            m_acGGpList += kCrLf;
        });
        user.reset();
        while (m_acGGpList.size() >= kCrLf.size() &&
               std::string_view(m_acGGpList).substr(m_acGGpList.size() - kCrLf.size()) == kCrLf)
            m_acGGpList.resize(m_acGGpList.size() - kCrLf.size());
        return true;
    } catch (const Error&) {
        return false;
    }
}

bool ADSIControl::AccountDisabled(const std::string& Account, bool acDisabled) {
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(Account);
        user->setAccountDisabled(acDisabled);
        user->setInfo();
        return true;
    } catch (const Error&) {
        return false;
    }
}

bool ADSIControl::AccountLCOpen(const std::string& Account) {
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(Account);
        user->setIsAccountLocked(false);
        user->setInfo();
        return true;
    } catch (const Error&) {
        return false;
    }
}

bool ADSIControl::changeMembership(const std::string& account, const std::string& group, bool adding) {
    forgetGroupList();
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(account);
        auto target = as<Group>(m_service.bind(groupPath(m_target, group)));
        const std::string member = user->adsPath();
        if (adding)
            target->add(member);
        else
            target->remove(member);
        return true;
    } catch (const Error&) {
        return false;
    }
}

bool ADSIControl::AddGlobalGroup(const std::string& TargetAccount, const std::string& AddingGroupName) {
    return changeMembership(TargetAccount, AddingGroupName, true);
}

bool ADSIControl::DelGlobalGroup(const std::string& TargetAccount, const std::string& AddingGroupName) {
    return changeMembership(TargetAccount, AddingGroupName, false);
}

bool ADSIControl::PasswordReset(const std::string& Account, const Secret& NewPassword) {
    const std::string prompt = Account + " のパスワードをリセットします。" + "よろしいですか？";
    if (m_operator.messageBox(prompt, quill::msgbox::kYesNo | quill::msgbox::kExclamation, std::nullopt) !=
        quill::msgbox::kAnswerYes)
        return false;
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(Account);
        // The operator's temporary password would stay in use for good.
        if (user->passwordNeverExpires())
            return false;
        if (holdsNonSpace(NewPassword.view()))
            user->setPassword(NewPassword);
        user->put("PasswordExpired", Value::int16(1));
        user->setInfo();
        return true;
    } catch (const Error&) {
        return false;
    }
}

bool ADSIControl::ChangeChineseCharacter(const std::string& Account, const std::string& ChangingTo) {
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(Account);
        user->setDescription(ChangingTo);
        user->setInfo();
        return true;
    } catch (const Error&) {
        return false;
    }
}

std::string ADSIControl::Descriptioner(const std::string& Account) {
    try {
        quill::BusyPointer busy(m_operator);
        auto user = bindUser(Account);
        std::string condition = user->description();
        condition += user->accountDisabled() ? " 無効" : " 有効";
        if (user->isAccountLocked())
            condition += " ロック";
        return condition;
    } catch (const Error&) {
        return {};
    }
}

void ADSIControl::setUserTable(std::vector<ADUserRecord> records, std::int32_t lowerBound) {
    m_ADUserTable = BoundedTable<ADUserRecord>{lowerBound, std::move(records)};
}

void ADSIControl::setGroupTable(std::vector<ADGroupRecord> records, std::int32_t lowerBound) {
    m_ADGroupTable = BoundedTable<ADGroupRecord>{lowerBound, std::move(records)};
}

} // namespace directory
