#include "CommandTable.h"

namespace cmd {

const CommandText* FindCommand(uint32_t id) {
    for (const CommandText& c : kCommands)
        if (c.id == id) return &c;
    return nullptr;
}

std::string_view PromptStatusText(const CommandText& c) {
    if (!c.prompt) return {};
    const std::string_view p = c.prompt;
    return p.substr(0, p.find('\n'));
}

std::string_view PromptToolTip(const CommandText& c) {
    if (!c.prompt) return {};
    const std::string_view p = c.prompt;
    const size_t nl = p.find('\n');
    return nl == std::string_view::npos ? p : p.substr(nl + 1);
}

} // namespace cmd
