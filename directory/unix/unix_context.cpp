#include "unix_context.h"

#include <unistd.h>

#include "directory/error.h"

namespace unixacct {

void runTool(ToolRunner& runner, const std::vector<std::string>& argv, std::string_view input) {
    const ToolResult result = runner.run(argv, input);
    if (result.exitStatus == 0)
        return;
    const std::string& tool = argv.front();
    const std::string shortName = tool.substr(tool.rfind('/') + 1);
    if (result.timedOut)
        throw directory::Error(
            directory::codes::kTimeout,
            shortName + " が " + std::to_string(result.timeLimitSeconds) +
                " 秒以内に終わらなかったため、止めました。少し待ってから、もう一度実行してください。");
    // Without root the tools refuse every change; their wording varies, the cause does not.
    const bool denied = ::geteuid() != 0 || result.firstErrorLine.find("Permission denied") != std::string::npos ||
                        result.firstErrorLine.find("Operation not permitted") != std::string::npos;
    std::string description = shortName + " が失敗しました（終了コード " + std::to_string(result.exitStatus) + "）";
    if (!result.firstErrorLine.empty())
        description += ": " + result.firstErrorLine;
    description += denied ? "。管理者の権限で実行してください。" : "。";
    throw directory::Error(denied ? directory::codes::kAccessDenied : directory::codes::kFail, description);
}

std::string objectPathText(const directory::ObjectPath& base, std::string_view name, std::string_view className) {
    std::string text(directory::kProviderPrefix);
    text += base.target;
    if (base.computer) {
        text += '/';
        text += *base.computer;
    }
    text += '/';
    text += name;
    text += ',';
    text += className;
    return text;
}

bool equalsNoCase(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace unixacct
