#include <gtest/gtest.h>

#include "app/win32/command_line.h"
#include "app/win32/win32_operator.h"

namespace {

struct CommandLineRow {
    const char* name;
    const wchar_t* commandLine;
    const wchar_t* arguments;
};

// Rows print as their names in test listings.
void PrintTo(const CommandLineRow& row, std::ostream* out) {
    *out << row.name;
}

class CommandLine : public testing::TestWithParam<CommandLineRow> {};

TEST_P(CommandLine, KeepsEverythingAfterTheProgramName) {
    EXPECT_EQ(quill::win32::argumentsAfterProgramName(GetParam().commandLine), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLine,
    testing::Values(CommandLineRow{"Bare", L"quillmarsh.exe", L""},
                    CommandLineRow{"OneName", L"quillmarsh.exe jdoe", L"jdoe"},
                    CommandLineRow{"SeveralWordsStayOne", L"quillmarsh.exe jdoe extra", L"jdoe extra"},
                    CommandLineRow{"TrailingSpacesKept", L"quillmarsh.exe  jdoe  ", L"jdoe  "},
                    CommandLineRow{"TabAfterName", L"quillmarsh.exe\tjdoe", L"jdoe"},
                    CommandLineRow{"QuotedPathWithSpace", L"\"C:\\Program Files\\Q\\quillmarsh.exe\" jdoe", L"jdoe"},
                    CommandLineRow{"QuotedPathNoArguments", L"\"C:\\Program Files\\Q\\quillmarsh.exe\"", L""},
                    CommandLineRow{"QuotedPathGluedToArgument", L"\"C:\\q.exe\"jdoe", L"jdoe"},
                    CommandLineRow{"QuotesInArgumentsKept", L"q.exe \"jdoe\" x", L"\"jdoe\" x"},
                    CommandLineRow{"UnclosedQuoteIsAllName", L"\"C:\\q.exe jdoe", L""},
                    CommandLineRow{"JapaneseName", L"q.exe 山田", L"山田"}, CommandLineRow{"Empty", L"", L""}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorTextRow {
    const char* name;
    long number;
    const char* expected;
};

// Rows print as their names in test listings.
void PrintTo(const ErrorTextRow& row, std::ostream* out) {
    *out << row.name;
}

class EscapedErrorText : public testing::TestWithParam<ErrorTextRow> {};

TEST_P(EscapedErrorText, NamesTheNumberAsTheClassicRuntimeDoes) {
    EXPECT_EQ(quill::win32::Win32Operator::escapedErrorText(GetParam().number, "Access is denied."),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Numbers, EscapedErrorText,
                         testing::Values(ErrorTextRow{"Runtime", 9, "実行時エラー '9':\r\n\r\nAccess is denied."},
                                         ErrorTextRow{
                                             "Hresult", static_cast<long>(0x80070005L),
                                             "実行時エラー '-2147024891 (80070005)':\r\n\r\nAccess is denied."}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
