// Subcommands of pelinor-cli. Each takes the arguments after its name and returns the
// exit status: 0 success, 1 (detect) watermark not found, 2 usage or input error.
#pragma once

#include <string>
#include <vector>

namespace pelinor::cli {

using Args = std::vector<std::string>;

int cmdGenerate(const Args& args);
int cmdEmbed(const Args& args);
int cmdDetect(const Args& args);
int cmdInfo(const Args& args);
int cmdAttack(const Args& args);
int cmdEvaluate(const Args& args);
int cmdIdentify(const Args& args);

} // namespace pelinor::cli
