#pragma once

#include <stdexcept>
#include <string>

namespace quill {

// An error with a number and a description, as the program reports it when it escapes a window handler.
// Numbers follow the classic runtime's (9 subscript out of range, 6 overflow) or, for the
// platform, its HRESULT or errno-derived code.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(long number, std::string description)
        : std::runtime_error(description), m_number(number), m_description(std::move(description)) {}

    long number() const noexcept { return m_number; }
    const std::string& description() const noexcept { return m_description; }

private:
    long m_number;
    std::string m_description;
};

namespace errors {
inline constexpr long kOverflow = 6;
inline constexpr long kSubscriptOutOfRange = 9;
} // namespace errors

} // namespace quill

namespace directory {

// Every refused bind, read, write or commit of the directory service interface throws this.
class Error : public quill::RuntimeError {
public:
    using quill::RuntimeError::RuntimeError;
};

// Numbers shared by the backends, HRESULT values as the platform's own provider reports them.
namespace codes {
inline constexpr long kNoInterface = static_cast<long>(0x80004002L);          // E_NOINTERFACE
inline constexpr long kFail = static_cast<long>(0x80004005L);                 // E_FAIL
inline constexpr long kAccessDenied = static_cast<long>(0x80070005L);         // E_ACCESSDENIED
inline constexpr long kInvalidArg = static_cast<long>(0x80070057L);           // E_INVALIDARG
inline constexpr long kBadPathName = static_cast<long>(0x80005000L);          // E_ADS_BAD_PATHNAME
inline constexpr long kUnknownObject = static_cast<long>(0x80005004L);        // E_ADS_UNKNOWN_OBJECT
inline constexpr long kPropertyNotSupported = static_cast<long>(0x80005006L); // E_ADS_PROPERTY_NOT_SUPPORTED
inline constexpr long kBadParameter = static_cast<long>(0x80005008L);         // E_ADS_BAD_PARAMETER
inline constexpr long kNotFound = static_cast<long>(0x80070035L);             // network path not found
inline constexpr long kNoSuchUser = static_cast<long>(0x800708ADL);           // NERR_UserNotFound
inline constexpr long kNoSuchGroup = static_cast<long>(0x800708ACL);          // NERR_GroupNotFound
inline constexpr long kPasswordPolicy = static_cast<long>(0x800708C5L);       // NERR_PasswordTooShort / policy
inline constexpr long kMemberInGroup = static_cast<long>(0x80070562L);        // ERROR_MEMBER_IN_GROUP
inline constexpr long kMemberNotInGroup = static_cast<long>(0x80070561L);     // ERROR_MEMBER_NOT_IN_GROUP
inline constexpr long kServerUnavailable = static_cast<long>(0x8007203AL);    // ERROR_DS_SERVER_DOWN
inline constexpr long kTimeout = static_cast<long>(0x800705B4L);              // ERROR_TIMEOUT
inline constexpr long kLogonFailure = static_cast<long>(0x8007052EL);         // ERROR_LOGON_FAILURE
} // namespace codes

} // namespace directory
