#include "ipv4_pattern.h"

#include <regex>
#include <string>

namespace tervane {

bool matchesIPv4Pattern(std::string_view text)
{
    static const std::regex pattern(kIPv4Pattern, std::regex::ECMAScript);
    const std::string s(text);
    return std::regex_search(s, pattern);
}

}  // namespace tervane
