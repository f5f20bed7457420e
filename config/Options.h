#pragma once
// One reader of command lines for the program and its tools: each names its
// options in a table of rules, and every table is read the same way.
//   --name VALUE, --name=VALUE   an option that takes a value (never empty)
//   --name                       a flag ("--name=..." is refused)
//   anything else                an operand; "-" alone is one (standard input)

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct OptionRule {
  std::string_view Name;   // "--trace"; rules that share a Take are aliases
  std::string_view Value;  // what the value is called in messages ("FILE"); empty for a flag
  // Takes the value (empty for a flag): empty when taken, else why not.
  std::function<std::string(const std::string& value)> Take;
  bool Stops = false;  // the rest is not read (--help, --version)
};

struct ParsedOptions {
  std::vector<std::string> Operands;  // the arguments that are no option, in order
  std::string Error;                  // the first error; empty when everything was read
};

// Reads `arguments` (without the program's name) in order, up to the first
// error or a rule that stops. The errors: "unknown option '-x'", "option
// '--x' needs a FILE", "option '--x' takes no value", or what a Take said.
ParsedOptions ParseOptions(const std::vector<std::string>& arguments, std::span<const OptionRule> rules);
