#pragma once
// The vendor's command-line tool: make, info, verify, pack and apply patch data.
// Every command reports a failure as one clear line and a non-zero exit code.
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace patchtool {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the command ran and found a fault, or an input is unusable
constexpr int kExitUsage = 2;    // the command line itself is wrong

// A failure that ends the command; what() is the one-line message.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

// `args` excludes the program name. Output goes to `out`, the error line to `err`.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

int RunMake(const std::vector<std::string>& args, std::ostream& out);
int RunInfo(const std::vector<std::string>& args, std::ostream& out);
int RunVerify(const std::vector<std::string>& args, std::ostream& out);
int RunPack(const std::vector<std::string>& args, std::ostream& out);
int RunSeal(const std::vector<std::string>& args, std::ostream& out);
int RunApply(const std::vector<std::string>& args, std::ostream& out);

const char* Usage();

// A recorded local time as the tool prints it: "YYYY-MM-DD hh:mm:ss".
std::string StampText(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second);

}  // namespace patchtool
