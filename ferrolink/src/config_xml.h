// Reading a configuration set file: the (name, value) of every element from
// the root's first "Command" child on.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ferrolink_config {

using ConfigSetElements = std::vector<std::pair<std::string, std::string>>;

// false when the file cannot be loaded as XML.
bool LoadConfigSet(const char* szFileName, ConfigSetElements* elements);

}  // namespace ferrolink_config
