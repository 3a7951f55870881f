// What the command line says about its own use, in Chinese like everything else it prints: the
// help, the short usage, and the texts for arguments it refuses.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace qm {

// `--help`: every form, option and exit status.
extern const char* const kCliHelp;
// The three forms, for a call that lacks one of the parts.
extern const char* const kCliUsage;
extern const char* const kCliCheckUsage;
// The closing line of every usage error.
extern const char* const kCliMoreHelp;

// The text for an argument the parser refused, from the parser's error kind
// ("ArgumentMismatch", ...) and its own message, of which only the option's name is used.
std::string ParseErrorText(const std::string& kind, const std::string& message);

// Arguments nobody took: unknown options and words past the folder.
std::string ExtrasText(const std::vector<std::string>& extras);

// Empty when `value` is one of `allowed`, else the message naming the option and its values.
std::string CheckChoice(const std::string& option, const std::string& value,
                        std::initializer_list<const char*> allowed);

}  // namespace qm
