#include "config/Options.h"

namespace {

bool IsOption(std::string_view argument) { return argument.size() > 1 && argument[0] == '-'; }

const OptionRule* FindRule(std::span<const OptionRule> rules, std::string_view name) {
  for (const OptionRule& rule : rules) {
    if (rule.Name == name) return &rule;
  }
  return nullptr;
}

// An option's name: the argument up to '='.
std::string_view OptionName(std::string_view argument) { return argument.substr(0, argument.find('=')); }

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& arguments, std::span<const OptionRule> rules) {
  ParsedOptions parsed;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (!IsOption(argument)) {
      parsed.Operands.push_back(argument);
      continue;
    }
    const std::string_view name = OptionName(argument);
    const OptionRule* rule = FindRule(rules, name);
    if (rule == nullptr) {
      parsed.Error = "unknown option '" + std::string(name) + "'";
      return parsed;
    }
    const bool inlineValue = name.size() < argument.size();
    std::string value;
    if (rule->Value.empty() && inlineValue) {
      parsed.Error = "option '" + std::string(name) + "' takes no value";
      return parsed;
    }
    if (!rule->Value.empty()) {
      if (inlineValue) {
        value = argument.substr(name.size() + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      }
      if (value.empty()) {
        parsed.Error = "option '" + std::string(name) + "' needs a " + std::string(rule->Value);
        return parsed;
      }
    }
    parsed.Error = rule->Take(value);
    if (!parsed.Error.empty() || rule->Stops) return parsed;
  }
  return parsed;
}
