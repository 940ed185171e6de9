#include "samr_group.h"

#include <strings.h>

#include "answer_lost.h"
#include "directory/object_path.h"

namespace samrdir {

void SamrGroup::put(std::string_view property, const directory::Value&) {
    throw directory::Error(directory::codes::kPropertyNotSupported,
                           "コンピューターのグループのプロパティ " + std::string(property) + " は変更できません。");
}

std::string SamrGroup::description() {
    if (!m_description)
        m_description = m_pipe->aliasDescription(m_alias);
    return *m_description;
}

void SamrGroup::change(const std::string& memberPath, bool adding) {
    const directory::ObjectPath path = directory::parsePathOrThrow(memberPath);
    const std::string& host = path.host();
    const bool sameComputer =
        strcasecmp(host.c_str(), m_host.c_str()) == 0 || strcasecmp(host.c_str(), m_pipe->computerName().c_str()) == 0;
    if (!sameComputer || path.isContainer())
        throw directory::Error(directory::codes::kBadPathName, memberPath + ": コンピューター " + m_host +
                                                                   " のユーザーだけをグループに追加、削除できます。");
    const auto member = m_pipe->lookup(*path.name);
    if (!member || member->type != AccountType::User || member->builtin)
        throw directory::Error(directory::codes::kNoSuchUser,
                               "ユーザー " + *path.name + " は " + m_host + " にありません。");
    bool answered = true;
    try {
        m_pipe->changeAliasMember(m_alias, member->rid, adding);
    } catch (const AnswerLost&) {
        answered = false;
    }
    if (m_pipe->readBack([&] { return m_pipe->aliasHasMember(m_alias, member->rid); }) != adding) {
        if (!answered)
            throw AnswerLost(m_host);
        throw directory::Error(directory::codes::kFail,
                               "グループ " + m_alias.name + " のメンバーの変更を確認できませんでした。");
    }
}

} // namespace samrdir
